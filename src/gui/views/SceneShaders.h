// The 3D view's shader texts (GLSL 3.30 core): the vertex stage places a vertex and
// colours it by the object's colour mode (uniform colour, Jet, Viridis, Magma, Cividis,
// per-vertex colour, grey), the fragment stage writes that colour.
#pragma once

#include <string>

namespace orbel::studio::gui {

std::string SceneVertexShaderSource();
std::string SceneFragmentShaderSource();

}  // namespace orbel::studio::gui
