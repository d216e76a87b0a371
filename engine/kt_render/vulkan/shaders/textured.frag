// Solid and Textured: the vertex colour times the texel.
#version 450
layout(set = 0, binding = 0) uniform sampler2D tex;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
void main() { result = colour * texture(tex, uv); }
