// Arrow gizmo drawing and vertex fading.
#include "views/ViewOverlays.h"

#include <algorithm>

#include "views/OrbitCamera.h"

namespace orbel::studio::gui {

void DrawArrowGizmo(ImDrawList* drawList, Vec3 anchor, float lengthMetres, const Mat4& mvp, Vec2 rectMin,
                    Vec2 rectMax, int hovered, int dragged) {
    const ScreenPoint o = Project(anchor, mvp, rectMin, rectMax);
    if (!o.visible) {
        return;
    }
    constexpr Vec3 kAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const ImU32 colours[3] = {IM_COL32(230, 70, 70, 255), IM_COL32(70, 220, 110, 255), IM_COL32(80, 140, 255, 255)};
    for (int axis = 0; axis < 3; ++axis) {
        const ScreenPoint tip = Project(anchor + kAxes[axis] * lengthMetres, mvp, rectMin, rectMax);
        if (!tip.visible) {
            continue;
        }
        const float thickness = dragged == axis + 1 ? 2.4f : (hovered == axis + 1 ? 2.0f : 1.4f);
        const Vec2 d = tip.position - o.position;
        const float length = Length(d);
        if (length > 0.001f) {
            const Vec2 u = d * (1.0f / length);
            const Vec2 base = tip.position - u * 10.0f;
            const Vec2 side{-u.y * 4.2f, u.x * 4.2f};
            drawList->AddLine(ToImVec(o.position), ToImVec(base), colours[axis], thickness);
            drawList->AddTriangleFilled(ToImVec(tip.position), ToImVec(base + side), ToImVec(base - side),
                                        colours[axis]);
        } else {
            drawList->AddLine(ToImVec(o.position), ToImVec(tip.position), colours[axis], thickness);
        }
    }
}

void FadeVertices(ImDrawList* drawList, int firstVertex, float alpha) {
    alpha = std::clamp(alpha, 0.0f, 1.0f);
    for (int i = firstVertex; i < drawList->VtxBuffer.Size; ++i) {
        ImU32& col = drawList->VtxBuffer[i].col;
        const auto a = static_cast<ImU32>(static_cast<float>((col >> IM_COL32_A_SHIFT) & 0xFF) * alpha);
        col = (col & ~IM_COL32_A_MASK) | (a << IM_COL32_A_SHIFT);
    }
}

}  // namespace orbel::studio::gui
