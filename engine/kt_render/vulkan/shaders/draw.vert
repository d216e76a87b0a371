// Every pipeline's vertex stage: pixel positions to clip space through the
// target's scale and offset (push constants); uv and colour passed on.
#version 450
layout(location = 0) in vec2 in_position;
layout(location = 1) in vec2 in_uv;
layout(location = 2) in vec4 in_colour;
layout(push_constant) uniform Target { vec2 scale; vec2 offset; } target;
layout(location = 0) out vec2 uv;
layout(location = 1) out vec4 colour;
void main() {
    gl_Position = vec4(in_position * target.scale + target.offset, 0.0, 1.0);
    uv = in_uv;
    colour = in_colour;
}
