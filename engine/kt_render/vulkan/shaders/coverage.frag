// Coverage (glyph atlases): the vertex colour, its alpha times the red channel.
#version 450
layout(set = 0, binding = 0) uniform sampler2D tex;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
void main() { result = vec4(colour.rgb, colour.a * texture(tex, uv).r); }
