// A neon glow: a tight and a wide ring of samples around each pixel added
// to a brightened, more saturated core, with a flicker factor.
#version 450
#extension GL_EXT_scalar_block_layout : require
layout(set = 0, binding = 0, scalar) uniform Uniforms {
    vec2 texel; float radius; float tight_gain; float wide_gain; float core; float saturation; float flicker;
} u;
layout(set = 1, binding = 0) uniform sampler2D texture0;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
vec3 ring(float r) {
    vec3 sum = vec3(0.0);
    for (int i = 0; i < 12; ++i) {
        float a = float(i) * 0.5235987756;
        sum += texture(texture0, uv + vec2(cos(a), sin(a)) * u.texel * r).rgb;
    }
    return sum / 12.0;
}
void main() {
    vec4 c = texture(texture0, uv);
    vec3 tight = ring(u.radius * 0.5);
    vec3 wide = ring(u.radius * 2.0);
    float grey = dot(c.rgb, vec3(0.299, 0.587, 0.114));
    vec3 core = mix(vec3(grey), c.rgb, u.saturation) * u.core;
    vec3 glow = tight * u.tight_gain + wide * u.wide_gain;
    result = vec4((core + glow) * u.flicker, c.a) * colour;
}
