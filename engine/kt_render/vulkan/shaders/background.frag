// The launcher's animated background: soft value noise in cool greys.
#version 450
#extension GL_EXT_scalar_block_layout : require
layout(set = 0, binding = 0, scalar) uniform Uniforms { float width; float height; float time; } u;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
float hash(vec2 p) { return fract(sin(dot(p, vec2(127.1, 311.7))) * 43758.5453); }
float noise(vec2 p) {
    vec2 i = floor(p);
    vec2 f = fract(p);
    vec2 s = f * f * (3.0 - 2.0 * f);
    return mix(mix(hash(i), hash(i + vec2(1, 0)), s.x), mix(hash(i + vec2(0, 1)), hash(i + vec2(1, 1)), s.x), s.y);
}
void main() {
    vec2 p = uv * vec2(u.width, u.height) / max(u.height, 1.0) * 3.0;
    float n = 0.0;
    float amp = 0.5;
    for (int i = 0; i < 4; ++i) {
        n += noise(p + vec2(u.time * 0.05 * float(i + 1), -u.time * 0.03)) * amp;
        p *= 2.0;
        amp *= 0.5;
    }
    vec3 a = vec3(0.86, 0.90, 0.96);
    vec3 b = vec3(0.62, 0.72, 0.86);
    result = vec4(mix(a, b, n), 1.0) * colour;
}
