// The zone editor with the mouse in a fixed oblique view: picking corner ends, dragging
// them and the whole zone, inserting and deleting corners, snapping in pick mode, undo and
// redo; its refusals (stray clicks, failed insertions, bad indices, lost mouse); and the
// zone meshes with their triangulation, hash and scene synchronisation.
#include "views/ZoneEditor.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "app/AppState.h"
#include "views/OrbitCamera.h"
#include "views/SceneRenderer.h"
#include "views/ZoneMeshes.h"

namespace orbel::studio::gui {
namespace {

struct ZoneRig {
    ZoneEditorState state;
    ZoneEditor editor;
    AppState app;
    std::vector<float> lidar;
    ZoneView view;

    ZoneRig() {
        view.view = LookAt({-6000.0f, -9000.0f, 9000.0f}, {6000.0f, 0.0f, 0.0f}, {0, 0, 1});
        view.projection = OverlayProjection(1000.0f, 800.0f);
        view.rectMin = {0, 0};
        view.rectMax = {1000, 800};
        ZoneEditor::SetEditing(state, true);  // makes the first zone: x 4..8, y -2..2, 0..1.1 m
    }
    Vec2 Screen(Vec3 metres) const { return Project(metres, view.Mvp(), view.rectMin, view.rectMax).position; }
    Vec2 Top(int corner) const {
        const ZoneCorner& c = state.workingZone.corners[static_cast<std::size_t>(corner)];
        return Screen({c.x, c.y, c.top});
    }
    Vec2 Bottom(int corner) const {
        const ZoneCorner& c = state.workingZone.corners[static_cast<std::size_t>(corner)];
        return Screen({c.x, c.y, c.bottom});
    }
    bool Frame(Vec2 mouse, bool down, bool clicked = false, bool rightClicked = false, bool valid = true) {
        view.lidarMetres = lidar;
        ZoneInput input;
        input.mouse = mouse;
        input.mouseValid = valid;
        input.imageHovered = valid;
        input.leftDown = down;
        input.leftClicked = clicked;
        input.rightClicked = rightClicked;
        return editor.HandleZoneInput(state, &app, input, view);
    }
    bool Click(Vec2 mouse) {
        Frame(mouse, false);
        const bool took = Frame(mouse, true, true);
        Frame(mouse, false);
        return took;
    }
    void Drag(Vec2 from, Vec2 to, int steps = 4) {
        Frame(from, false);
        Frame(from, true, true);
        for (int i = 1; i <= steps; ++i) {
            Frame(from + (to - from) * (static_cast<float>(i) / static_cast<float>(steps)), true);
        }
        Frame(to, false);
    }
    // A point on the selected end's gizmo arrow along `axis` (0 x, 1 y, 2 z).
    Vec2 OnArrow(int axis) const {
        const Vec3 anchor = *GizmoAnchor(state);
        Vec3 tip = anchor;
        (axis == 0 ? tip.x : axis == 1 ? tip.y : tip.z) += kZoneGizmoLengthMetres;
        const Vec2 a = Screen(anchor);
        return a + (Screen(tip) - a) * 0.75f;
    }
};

TEST(ZoneEditorTest, EditingOnMakesAZoneAndClicksPickTheNearerEnd) {
    ZoneRig rig;
    ASSERT_EQ(rig.state.zones.size(), 1u);
    ASSERT_EQ(rig.state.workingZone.corners.size(), 4u);
    EXPECT_EQ(rig.state.selectedZone, 0);

    EXPECT_TRUE(rig.Click(rig.Top(1) + Vec2{2, 1}));
    EXPECT_EQ(rig.state.selectedCorner, 1);
    EXPECT_FALSE(rig.state.bottomSelected);
    EXPECT_TRUE(rig.Click(rig.Bottom(2) + Vec2{-1, 2}));
    EXPECT_EQ(rig.state.selectedCorner, 2);
    EXPECT_TRUE(rig.state.bottomSelected);
    // Hovering is recomputed every frame; nothing changes the zone.
    EXPECT_TRUE(rig.state.undo.empty());
    EXPECT_FALSE(rig.state.dirty);

    ZoneEditor::SetEditing(rig.state, false);
    EXPECT_FALSE(rig.Click(rig.Top(1)));  // off: the editor takes no input
    EXPECT_EQ(rig.state.selectedCorner, -1);
}

TEST(ZoneEditorTest, DraggingABottomEndUpStopsATenthOfAMetreBelowItsTop) {
    ZoneRig rig;
    rig.Click(rig.Bottom(0));
    ASSERT_TRUE(rig.state.bottomSelected);
    const Vec2 onZ = rig.OnArrow(2);
    rig.Frame(onZ, false);
    ASSERT_EQ(rig.state.hoveredAxis, 3);
    rig.Drag(onZ, onZ + Vec2{0, -400});
    const ZoneCorner& c = rig.state.workingZone.corners[0];
    EXPECT_NEAR(c.bottom, c.top - 0.1f, 1e-5f);
    EXPECT_FLOAT_EQ(c.top, 1.1f);
    // One drag is one undo step, and undo brings the corner back.
    ASSERT_EQ(rig.state.undo.size(), 1u);
    ASSERT_TRUE(ZoneEditor::Undo(rig.state));
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[0].bottom, 0.0f);
    ASSERT_TRUE(ZoneEditor::Redo(rig.state));
    EXPECT_NEAR(rig.state.workingZone.corners[0].bottom, 1.0f, 1e-5f);
}

TEST(ZoneEditorTest, DraggingACornerAlongXMovesItUnlessItsEdgesWouldCross) {
    ZoneRig rig;
    rig.Click(rig.Top(1));  // (8, -2)
    const Vec2 onX = rig.OnArrow(0);
    const Vec2 tipStep = (rig.Screen({8.0f + kZoneGizmoLengthMetres, -2, 1.1f}) - rig.Top(1));
    rig.Drag(onX, onX + tipStep * (1.0f / 1.35f));  // one metre along +x
    EXPECT_NEAR(rig.state.workingZone.corners[1].x, 9.0f, 0.05f);  // the arrow shortens as it recedes
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[1].y, -2.0f);

    // Corner 0 (4, -2) dragged along +y past the far side would cross edge 2-3.
    rig.Click(rig.Top(0));
    ASSERT_EQ(rig.state.selectedCorner, 0);
    const Vec2 onY = rig.OnArrow(1);
    const Vec2 yStep = rig.Screen({4, -2.0f + kZoneGizmoLengthMetres, 1.1f}) - rig.Top(0);
    rig.Drag(onY, onY + yStep * (6.0f / 1.35f), 1);
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[0].y, -2.0f);
    EXPECT_TRUE(IsSimplePolygon(rig.state.workingZone));
}

TEST(ZoneEditorTest, TheCentreHandleMovesTheWholeZoneOnTheGround) {
    ZoneRig rig;
    const Vec3 handle = CentreHandle(rig.state.workingZone);
    const Vec2 at = rig.Screen(handle);
    const Vec2 to = rig.Screen(handle + Vec3{1.0f, 0.5f, 0.0f});
    rig.Drag(at, to);
    EXPECT_TRUE(rig.state.wholeZoneSelected);
    EXPECT_FALSE(rig.state.movingZone);
    const auto& corners = rig.state.workingZone.corners;
    EXPECT_NEAR(corners[0].x, 5.0f, 1e-3f);
    EXPECT_NEAR(corners[0].y, -1.5f, 1e-3f);
    EXPECT_NEAR(corners[2].x, 9.0f, 1e-3f);
    EXPECT_FLOAT_EQ(corners[2].top, 1.1f);
    EXPECT_EQ(rig.state.undo.size(), 1u);
}

TEST(ZoneEditorTest, AClickOnAnEdgeMidpointInsertsACornerThatUndoRemoves) {
    ZoneRig rig;
    // The top edge from corner 1 (8, -2) to corner 2 (8, 2).
    const Vec2 mid = rig.Screen({8.0f, 0.0f, 1.1f});
    rig.Frame(mid, false);
    EXPECT_EQ(rig.state.hoveredTopEdge, 1);
    EXPECT_TRUE(rig.Click(mid));
    ASSERT_EQ(rig.state.workingZone.corners.size(), 5u);
    EXPECT_EQ(rig.state.selectedCorner, 2);
    EXPECT_FALSE(rig.state.bottomSelected);
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[2].x, 8.0f);
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[2].y, 0.0f);
    EXPECT_EQ(rig.state.undo.size(), 1u);

    ASSERT_TRUE(ZoneEditor::Undo(rig.state));
    EXPECT_EQ(rig.state.workingZone.corners.size(), 4u);
    ASSERT_TRUE(ZoneEditor::Redo(rig.state));
    EXPECT_EQ(rig.state.workingZone.corners.size(), 5u);
    EXPECT_FALSE(ZoneEditor::Redo(rig.state));
}

TEST(ZoneEditorTest, AFailedInsertionLeavesTheZoneAndNoUndoStep) {
    ZoneRig rig;
    // A zone that is not simple (a bow tie) cannot take a midpoint.
    rig.state.workingZone.corners = {{4, -2, 0, 1.1f}, {8, 2, 0, 1.1f}, {8, -2, 0, 1.1f}, {4, 2, 0, 1.1f}};
    const Vec2 mid = rig.Screen({8.0f, 0.0f, 1.1f});
    rig.Frame(mid, false);
    ASSERT_EQ(rig.state.hoveredTopEdge, 1);
    rig.Click(mid);
    EXPECT_EQ(rig.state.workingZone.corners.size(), 4u);
    EXPECT_TRUE(rig.state.undo.empty());
}

TEST(ZoneEditorTest, DeletingACornerKeepsThreeAndUndoBringsItBack) {
    ZoneRig rig;
    EXPECT_FALSE(ZoneEditor::DeleteSelectedCorner(rig.state));  // nothing selected
    rig.Click(rig.Top(3));
    ASSERT_TRUE(ZoneEditor::DeleteSelectedCorner(rig.state));
    EXPECT_EQ(rig.state.workingZone.corners.size(), 3u);
    EXPECT_EQ(rig.state.selectedCorner, -1);
    rig.Click(rig.Top(0));
    EXPECT_FALSE(ZoneEditor::DeleteSelectedCorner(rig.state));  // a zone keeps three corners
    ASSERT_TRUE(ZoneEditor::Undo(rig.state));
    EXPECT_EQ(rig.state.workingZone.corners.size(), 4u);
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[3].x, 4.0f);
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[3].y, 2.0f);
}

TEST(ZoneEditorTest, AStrayClickDropsTheSelectionAndNeverSnapsACorner) {
    ZoneRig rig;
    rig.lidar = {6.0f, -6.0f, 0.4f};  // a lidar point well away from the zone's handles
    const Vec2 point = rig.Screen({6.0f, -6.0f, 0.4f});
    rig.Click(rig.Top(1));
    ASSERT_EQ(rig.state.selectedCorner, 1);
    const Zone before = rig.state.workingZone;
    EXPECT_FALSE(rig.Click(point));  // left to the camera
    EXPECT_EQ(rig.state.selectedCorner, -1);
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[1].x, before.corners[1].x);
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[1].top, before.corners[1].top);
    EXPECT_TRUE(rig.state.undo.empty());
}

TEST(ZoneEditorTest, PickModeSnapsTheSelectedEndToALidarPointOrRejectsIt) {
    ZoneRig rig;
    rig.lidar = {9.0f, -3.0f, 2.5f, 6.0f, -6.0f, 0.4f};
    rig.Click(rig.Top(1));
    ASSERT_TRUE(ZoneEditor::EnterPickMode(rig.state));
    EXPECT_TRUE(rig.Click(rig.Screen({9.0f, -3.0f, 2.5f}) + Vec2{4, 0}));
    EXPECT_FALSE(rig.state.pickMode);
    const ZoneCorner& c = rig.state.workingZone.corners[1];
    EXPECT_FLOAT_EQ(c.x, 9.0f);
    EXPECT_FLOAT_EQ(c.y, -3.0f);
    EXPECT_FLOAT_EQ(c.top, 2.5f);
    EXPECT_FLOAT_EQ(c.bottom, 0.0f);
    EXPECT_EQ(rig.state.undo.size(), 1u);

    // The bottom end snapped above its top is refused with a toast.
    rig.Click(rig.Bottom(3));
    ASSERT_TRUE(rig.state.bottomSelected);
    ASSERT_TRUE(ZoneEditor::EnterPickMode(rig.state));
    rig.lidar = {6.0f, -6.0f, 1.5f};
    const Zone before = rig.state.workingZone;
    EXPECT_EQ(rig.editor.SnapSelectedCorner(rig.state, &rig.app, true, rig.Screen({6.0f, -6.0f, 1.5f}), rig.view),
              SnapResult::Rejected);
    ASSERT_TRUE(rig.app.PendingToast().has_value());
    EXPECT_EQ(rig.app.PendingToast()->text, "Snap rejected: invalid height");
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[3].bottom, before.corners[3].bottom);
    // A right click leaves pick mode without a snap.
    rig.Frame({500, 400}, false, false, true);
    EXPECT_FALSE(rig.state.pickMode);
    EXPECT_EQ(rig.state.undo.size(), 1u);
}

TEST(ZoneEditorTest, SnapThatWouldCrossEdgesIsRejected) {
    ZoneRig rig;
    rig.lidar = {10.0f, 0.0f, 0.5f};  // beyond corner 1 and 2: pulling corner 0 there crosses edges
    rig.Click(rig.Top(0));
    ASSERT_EQ(rig.editor.SnapSelectedCorner(rig.state, &rig.app, true, rig.Screen({10.0f, 0.0f, 0.5f}), rig.view),
              SnapResult::Rejected);
    EXPECT_EQ(rig.app.PendingToast()->text, "Snap rejected: edges would cross");
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[0].x, 4.0f);
}

TEST(ZoneEditorTest, IndicesOutOfRangeAndALostMouseAreRefused) {
    ZoneRig rig;
    rig.state.selectedCorner = 9;
    EXPECT_FALSE(GizmoAnchor(rig.state).has_value());
    EXPECT_FALSE(ZoneEditor::DeleteSelectedCorner(rig.state));
    EXPECT_FALSE(ZoneEditor::EnterPickMode(rig.state));
    EXPECT_EQ(rig.editor.SnapSelectedCorner(rig.state, &rig.app, true, {500, 400}, rig.view), SnapResult::None);
    rig.Frame({500, 400}, false);
    EXPECT_EQ(rig.state.selectedCorner, -1);
    rig.state.selectedCorner = -5;
    EXPECT_FALSE(GizmoAnchor(rig.state).has_value());

    ZoneEditor::SelectZone(rig.state, 3);
    ZoneEditor::SelectZone(rig.state, -1);
    EXPECT_EQ(rig.state.selectedZone, 0);
    rig.state.selectedZone = 7;
    EXPECT_FALSE(ZoneEditor::DeleteSelectedZone(rig.state));
    ZoneEditor::CommitWorkingZone(rig.state);  // no entry 7 to write
    EXPECT_EQ(rig.state.zones.size(), 1u);
    EXPECT_NO_FATAL_FAILURE(DrawnZones(rig.state));

    // A drag whose mouse goes missing holds still and never moves by -FLT_MAX.
    rig.state.selectedZone = 0;
    rig.Click(rig.Top(2));
    const Vec2 onX = rig.OnArrow(0);
    rig.Frame(onX, false);
    rig.Frame(onX, true, true);
    EXPECT_TRUE(rig.Frame({-FLT_MAX, -FLT_MAX}, true, false, false, false));
    for (const ZoneCorner& c : rig.state.workingZone.corners) {
        EXPECT_TRUE(std::isfinite(c.x) && std::isfinite(c.y));
    }
    EXPECT_FLOAT_EQ(rig.state.workingZone.corners[2].x, 8.0f);
}

TEST(ZoneEditorTest, NewZonesGetDistinctIdsAndDeletingSelectsAnother) {
    ZoneRig rig;
    ZoneEditor::NewZone(rig.state);
    ZoneEditor::NewZone(rig.state);
    ASSERT_EQ(rig.state.zones.size(), 3u);
    EXPECT_EQ(rig.state.zones[0].id, 1);
    EXPECT_EQ(rig.state.zones[1].id, 2);
    EXPECT_EQ(rig.state.zones[2].id, 3);
    EXPECT_EQ(rig.state.selectedZone, 2);
    ASSERT_TRUE(ZoneEditor::DeleteSelectedZone(rig.state));
    ZoneEditor::NewZone(rig.state);
    EXPECT_EQ(rig.state.zones.back().id, 4);  // an id is never given twice

    // The working zone is written back when another is selected.
    ZoneEditor::SelectZone(rig.state, 0);
    rig.state.workingZone.corners[0].x = 3.0f;
    ZoneEditor::SelectZone(rig.state, 1);
    EXPECT_FLOAT_EQ(rig.state.zones[0].corners[0].x, 3.0f);
    while (ZoneEditor::DeleteSelectedZone(rig.state)) {
    }
    EXPECT_EQ(rig.state.selectedZone, -1);
    EXPECT_TRUE(rig.state.workingZone.corners.empty());
    EXPECT_FALSE(rig.Click({500, 400}));
}

Zone Polygon(std::vector<std::pair<float, float>> points) {
    Zone zone;
    zone.id = 7;
    for (const auto& [x, y] : points) {
        zone.corners.push_back({x, y, 0.0f, 2.0f});
    }
    return zone;
}

float TriangleArea(const std::vector<ZoneCorner>& c, const std::vector<int>& t) {
    float area = 0.0f;
    for (std::size_t i = 0; i + 2 < t.size(); i += 3) {
        const ZoneCorner& a = c[static_cast<std::size_t>(t[i])];
        const ZoneCorner& b = c[static_cast<std::size_t>(t[i + 1])];
        const ZoneCorner& d = c[static_cast<std::size_t>(t[i + 2])];
        area += std::fabs((b.x - a.x) * (d.y - a.y) - (b.y - a.y) * (d.x - a.x)) / 2.0f;
    }
    return area;
}

TEST(ZoneMeshesTest, EarClippingCoversConvexAndConcavePolygonsOrGivesUp) {
    const struct {
        const char* what;
        Zone zone;
        std::size_t triangles;
        float area;
    } cases[] = {
        {"square", Polygon({{0, 0}, {2, 0}, {2, 2}, {0, 2}}), 2, 4.0f},
        {"clockwise square", Polygon({{0, 0}, {0, 2}, {2, 2}, {2, 0}}), 2, 4.0f},
        {"concave L", Polygon({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}), 4, 3.0f},
        {"triangle", Polygon({{0, 0}, {1, 0}, {0, 1}}), 1, 0.5f},
        {"two corners", Polygon({{0, 0}, {1, 0}}), 0, 0.0f},
        // Polygons with no ear to cut get no fill at all.
        {"corners on one line", Polygon({{0, 0}, {1, 0}, {2, 0}, {3, 0}}), 0, 0.0f},
        {"a corner visited twice", Polygon({{0, 0}, {2, 0}, {2, 2}, {2, 0}, {0, 2}}), 0, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<int> t = Triangulate(c.zone.corners);
        EXPECT_EQ(t.size(), 3 * c.triangles);
        EXPECT_NEAR(TriangleArea(c.zone.corners, t), c.area, 1e-5f);
    }
}

TEST(ZoneMeshesTest, SixMeshesInMillimetresWithCappedAlphaAndNoDepthWrites) {
    Zone zone = Polygon({{0, 0}, {2, 0}, {2, 2}, {0, 2}});
    zone.color = {0.2f, 0.4f, 0.6f, 0.5f};
    const auto meshes = BuildZoneMeshes(zone);
    const struct {
        const char* name;
        int primitive;
        std::size_t vertices;
        float alpha;
    } expected[] = {
        {"zone_bottom_fill_7", kPrimitiveTriangles, 6, 0.025f}, {"zone_top_fill_7", kPrimitiveTriangles, 6, 0.07f},
        {"zone_side_fill_7", kPrimitiveTriangles, 24, 0.07f},   {"zone_top_edges_7", kPrimitiveLines, 8, 0.5f},
        {"zone_bottom_edges_7", kPrimitiveLines, 8, 0.5f},      {"zone_verticals_7", kPrimitiveLines, 8, 0.5f},
    };
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(meshes[i].first, expected[i].name);
        EXPECT_EQ(meshes[i].second.primitive, expected[i].primitive);
        EXPECT_EQ(meshes[i].second.positions.size(), expected[i].vertices);
        EXPECT_FLOAT_EQ(meshes[i].second.color[3], expected[i].alpha);
        EXPECT_FLOAT_EQ(meshes[i].second.color[2], 0.6f);
        EXPECT_FALSE(meshes[i].second.depth_write);
    }
    EXPECT_FLOAT_EQ(meshes[1].second.positions[0].z, 2000.0f);
    EXPECT_FLOAT_EQ(meshes[5].second.positions[1].z, 2000.0f);
}

TEST(ZoneMeshesTest, MeshesFollowTheHashStayWhileNotEditingAndLeaveWithHiddenZones) {
    ZoneRig rig;
    SceneRenderer renderer;
    ZoneMeshCache cache;
    const uint64_t hash = GeometryHash(rig.state);
    EXPECT_EQ(GeometryHash(rig.state), hash);
    cache.Sync(rig.state, renderer);
    EXPECT_TRUE(renderer.HasObject("zone_top_fill_1"));
    EXPECT_TRUE(renderer.HasObject("zone_verticals_1"));

    rig.state.workingZone.corners[0].top = 3.0f;  // the working zone stands in for zone 0
    EXPECT_NE(GeometryHash(rig.state), hash);

    ZoneEditor::NewZone(rig.state);  // zone 2
    cache.Sync(rig.state, renderer);
    EXPECT_TRUE(renderer.HasObject("zone_side_fill_2"));
    EXPECT_TRUE(renderer.HasObject("zone_side_fill_1"));

    rig.state.workingZone.visible = false;
    cache.Sync(rig.state, renderer);
    EXPECT_FALSE(renderer.HasObject("zone_side_fill_2"));
    EXPECT_TRUE(renderer.HasObject("zone_side_fill_1"));

    // Switching the editor off keeps every zone drawn; a hidden zone stays hidden.
    ZoneEditor::SetEditing(rig.state, false);
    cache.Sync(rig.state, renderer);
    EXPECT_TRUE(renderer.HasObject("zone_side_fill_1"));
    EXPECT_TRUE(renderer.HasObject("zone_top_edges_1"));
    EXPECT_FALSE(renderer.HasObject("zone_side_fill_2"));

    // After the scene was cleared an invalidated cache rebuilds even with the same hash.
    ZoneEditor::SetEditing(rig.state, true);
    cache.Sync(rig.state, renderer);
    renderer.ClearScene();
    cache.Sync(rig.state, renderer);
    EXPECT_FALSE(renderer.HasObject("zone_top_fill_1"));
    cache.Invalidate();
    cache.Sync(rig.state, renderer);
    EXPECT_TRUE(renderer.HasObject("zone_top_fill_1"));
}

}  // namespace
}  // namespace orbel::studio::gui
