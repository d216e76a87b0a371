// The bright parts of a picture, with a soft knee below the threshold.
#version 450
#extension GL_EXT_scalar_block_layout : require
layout(set = 0, binding = 0, scalar) uniform Uniforms { float threshold; float knee; } u;
layout(set = 1, binding = 0) uniform sampler2D texture0;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
void main() {
    vec4 c = texture(texture0, uv);
    float brightness = max(c.r, max(c.g, c.b));
    float knee = max(u.knee, 1e-5);
    float soft = clamp(brightness - u.threshold + knee, 0.0, 2.0 * knee);
    soft = soft * soft / (4.0 * knee);
    float amount = max(soft, brightness - u.threshold) / max(brightness, 1e-5);
    result = vec4(c.rgb * amount, c.a) * colour;
}
