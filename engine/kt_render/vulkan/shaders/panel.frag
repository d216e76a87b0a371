// A rounded panel over the blurred background: the background seen through
// the box, mixed with a tint, with soft rounded corners.
#version 450
#extension GL_EXT_scalar_block_layout : require
layout(set = 0, binding = 0, scalar) uniform Uniforms {
    vec4 box; vec2 area; vec4 tint; float radius; float scale; float tint_mix; float opacity;
} u;
layout(set = 1, binding = 0) uniform sampler2D background;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
void main() {
    vec2 pixel = u.box.xy + uv * u.box.zw;
    vec3 seen = texture(background, pixel / max(u.area, vec2(1.0))).rgb;
    vec2 half_size = u.box.zw * 0.5;
    float r = min(u.radius * u.scale, min(half_size.x, half_size.y));
    vec2 q = abs(pixel - (u.box.xy + half_size)) - (half_size - vec2(r));
    float d = length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - r;
    float inside = clamp(0.5 - d, 0.0, 1.0);
    vec3 c = mix(seen, u.tint.rgb, u.tint_mix * u.tint.a);
    result = vec4(c, inside * u.opacity) * colour;
}
