// Signed distance fields: the edge at 0.5, smoothed over one pixel.
#version 450
layout(set = 0, binding = 0) uniform sampler2D tex;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
void main() {
    float d = texture(tex, uv).r;
    float w = max(fwidth(d), 0.0001);
    result = vec4(colour.rgb, colour.a * smoothstep(0.5 - w, 0.5 + w, d));
}
