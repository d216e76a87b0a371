// A picture with two blurred bloom layers added, tinted.
#version 450
#extension GL_EXT_scalar_block_layout : require
layout(set = 0, binding = 0, scalar) uniform Uniforms { float intensity0; float intensity1; vec3 tint; } u;
layout(set = 1, binding = 0) uniform sampler2D texture0;
layout(set = 1, binding = 1) uniform sampler2D bloom0;
layout(set = 1, binding = 2) uniform sampler2D bloom1;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
void main() {
    vec4 base = texture(texture0, uv);
    vec3 glow = texture(bloom0, uv).rgb * u.intensity0 + texture(bloom1, uv).rgb * u.intensity1;
    result = vec4(base.rgb + glow * u.tint, base.a) * colour;
}
