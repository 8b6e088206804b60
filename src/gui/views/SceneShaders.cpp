// GLSL of the 3D view. The stop tables are written into the vertex stage from the
// same C++ tables the 2D view and the viewer panel colour with, so the GPU and CPU
// maps cannot drift apart.
#include "views/SceneShaders.h"

#include <cstdio>
#include <span>
#include <string>

#include "views/Colormaps.h"

namespace orbel::studio::gui {
namespace {

std::string Number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(value));
    return text;
}

std::string StopArrays(const char* name, std::span<const ColorStop> stops) {
    std::string positions = "const float " + std::string(name) + "T[9] = float[9](";
    std::string colours = "const vec3 " + std::string(name) + "C[9] = vec3[9](";
    for (std::size_t i = 0; i < stops.size(); ++i) {
        const char* separator = i + 1 < stops.size() ? ", " : ");\n";
        positions += Number(stops[i].t) + separator;
        colours += "vec3(" + Number(stops[i].color.r) + ", " + Number(stops[i].color.g) + ", " +
                   Number(stops[i].color.b) + ")" + separator;
    }
    return positions + colours;
}

}  // namespace

std::string SceneVertexShaderSource() {
    std::string source = R"(#version 330 core
layout(location = 0) in vec3 aPos;
layout(location = 1) in float aScalar;
layout(location = 2) in vec3 aColor;
uniform mat4 uMVP;
uniform int uColorMode;
uniform vec4 uColor;
uniform float uScalarMin;
uniform float uScalarMax;
out vec4 vColor;
)";
    source += StopArrays("kViridis", ViridisStops());
    source += StopArrays("kMagma", MagmaStops());
    source += StopArrays("kCividis", CividisStops());
    source += R"(
// The first stop interval that holds t; t on a stop uses the interval below it.
vec3 Interpolate(float stopsT[9], vec3 stopsC[9], float t) {
    int i = 1;
    while (i < 8 && t > stopsT[i]) {
        i++;
    }
    float span = stopsT[i] - stopsT[i - 1];
    float f = span > 0.0 ? (t - stopsT[i - 1]) / span : 0.0;
    return stopsC[i - 1] + (stopsC[i] - stopsC[i - 1]) * f;
}

void main() {
    gl_Position = uMVP * vec4(aPos, 1.0);
    float t = clamp((aScalar - uScalarMin) / max(uScalarMax - uScalarMin, 1e-6), 0.0, 1.0);
    if (uColorMode == 1) {
        float v = 4.0 * t;
        vColor = vec4(clamp(1.5 - abs(v - 3.0), 0.0, 1.0), clamp(1.5 - abs(v - 2.0), 0.0, 1.0),
                      clamp(1.5 - abs(v - 1.0), 0.0, 1.0), 1.0);
    } else if (uColorMode == 2) {
        vColor = vec4(Interpolate(kViridisT, kViridisC, t), 1.0);
    } else if (uColorMode == 3) {
        vColor = vec4(Interpolate(kMagmaT, kMagmaC, t), 1.0);
    } else if (uColorMode == 4) {
        vColor = vec4(Interpolate(kCividisT, kCividisC, t), 1.0);
    } else if (uColorMode == 5) {
        vColor = vec4(aColor, 1.0);
    } else if (uColorMode == 6) {
        vColor = vec4(t, t, t, 1.0);
    } else {
        vColor = uColor;
    }
}
)";
    return source;
}

std::string SceneFragmentShaderSource() {
    return R"(#version 330 core
in vec4 vColor;
out vec4 fragColor;
void main() {
    fragColor = vColor;
}
)";
}

}  // namespace orbel::studio::gui
