// One direction of a Gaussian blur: nine taps step_uv apart.
#version 450
#extension GL_EXT_scalar_block_layout : require
layout(set = 0, binding = 0, scalar) uniform Uniforms { vec2 step_uv; } u;
layout(set = 1, binding = 0) uniform sampler2D texture0;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 result;
const float weight[5] = float[](0.2270270270, 0.1945945946, 0.1216216216, 0.0540540541, 0.0162162162);
void main() {
    vec4 sum = texture(texture0, uv) * weight[0];
    for (int i = 1; i < 5; ++i) {
        sum += texture(texture0, uv + u.step_uv * float(i)) * weight[i];
        sum += texture(texture0, uv - u.step_uv * float(i)) * weight[i];
    }
    result = sum * colour;
}
