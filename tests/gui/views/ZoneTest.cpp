// Zone geometry: centroid, the simple-polygon test, midpoint insertion, corner moves and
// the bounded undo history.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "views/Zone.h"
#include "views/ZoneEditorState.h"

namespace orbel::studio::gui {
namespace {

Zone Polygon(std::vector<std::pair<float, float>> points, float bottom = 0.0f, float top = 1.0f) {
    Zone zone;
    for (const auto& [x, y] : points) {
        zone.corners.push_back(ZoneCorner{x, y, bottom, top});
    }
    return zone;
}

Zone Square() { return Polygon({{0, 0}, {2, 0}, {2, 2}, {0, 2}}); }

TEST(ZoneTest, DefaultsOfAZoneAndTheEditorState) {
    const Zone zone;
    EXPECT_EQ(zone.name, "Unnamed Zone");
    EXPECT_TRUE(zone.visible);
    EXPECT_EQ(zone.color, (std::array<float, 4>{1.0f, 0.5f, 0.0f, 0.8f}));
    const ZoneEditorState state;
    EXPECT_EQ(state.workingZone.name, "New Zone");
    EXPECT_EQ(state.selectedZone, -1);
    EXPECT_FALSE(state.editing);
    EXPECT_FLOAT_EQ(state.defaultHeight, 1.1f);
}

TEST(ZoneTest, CentroidIsTheMeanOfEveryComponent) {
    Zone zone;
    zone.corners = {{0, 0, 0, 2}, {4, 0, 1, 3}, {2, 6, 2, 7}};
    const ZoneCorner centre = Centroid(zone);
    EXPECT_FLOAT_EQ(centre.x, 2.0f);
    EXPECT_FLOAT_EQ(centre.y, 2.0f);
    EXPECT_FLOAT_EQ(centre.bottom, 1.0f);
    EXPECT_FLOAT_EQ(centre.top, 4.0f);

    const ZoneCorner empty = Centroid(Zone{});
    EXPECT_EQ(empty.x, 0.0f);
    EXPECT_EQ(empty.y, 0.0f);
    EXPECT_EQ(empty.bottom, 0.0f);
    EXPECT_EQ(empty.top, 2.0f);
}

TEST(ZoneTest, PointOnSegmentUsesTheTolerance) {
    const ZoneCorner a{0, 0, 0, 0}, b{2, 2, 0, 0};
    EXPECT_TRUE(IsPointOnSegment(a, b, ZoneCorner{1, 1, 5, 9}));  // heights do not matter
    EXPECT_TRUE(IsPointOnSegment(a, b, a));
    EXPECT_TRUE(IsPointOnSegment(a, b, ZoneCorner{1.0f, 1.000004f, 0, 0}));
    EXPECT_FALSE(IsPointOnSegment(a, b, ZoneCorner{1.0f, 1.001f, 0, 0}));
    EXPECT_FALSE(IsPointOnSegment(a, b, ZoneCorner{3, 3, 0, 0}));  // on the line, beyond the end
}

TEST(ZoneTest, SimplePolygonCases) {
    const struct {
        const char* what;
        Zone zone;
        bool simple;
    } cases[] = {
        {"triangle", Polygon({{0, 0}, {1, 0}, {0, 1}}), true},
        {"square", Square(), true},
        {"concave L", Polygon({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}), true},
        {"no corners", Zone{}, false},
        {"two corners", Polygon({{0, 0}, {1, 0}}), false},
        {"bow tie", Polygon({{0, 0}, {2, 2}, {2, 0}, {0, 2}}), false},
        {"corner on a non-adjacent edge", Polygon({{0, 0}, {4, 0}, {4, 4}, {2, 0}}), false},
        {"two corners at one position", Polygon({{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}, {1, 1}}), false},
        {"pentagram", Polygon({{0, 3}, {2, -3}, {-3, 1}, {3, 1}, {-2, -3}}), false},
        {"flat triangle: neighbouring edges fold back", Polygon({{0, 0}, {4, 0}, {2, 0}}), false},
        {"triangle with a zero-length edge", Polygon({{0, 0}, {0, 0}, {2, 2}}), false},
        {"collinear corner going on", Polygon({{0, 0}, {1, 0}, {2, 0}, {2, 2}}), true},
        {"corner not finite", Polygon({{0, 0}, {2, 0}, {std::nanf(""), 2}}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSimplePolygon(c.zone), c.simple) << c.what;
    }
}

TEST(ZoneTest, InsertMidpointOnTheLastEdgeAveragesLastAndFirstCorner) {
    Zone zone;
    zone.corners = {{0, 0, 0, 1}, {2, 0, 0, 1}, {2, 2, 1, 3}, {0, 2, 2, 5}};
    ASSERT_TRUE(InsertMidpoint(zone, 3));
    ASSERT_EQ(zone.corners.size(), 5u);
    const ZoneCorner& added = zone.corners[4];
    EXPECT_FLOAT_EQ(added.x, 0.0f);
    EXPECT_FLOAT_EQ(added.y, 1.0f);
    EXPECT_FLOAT_EQ(added.bottom, 1.0f);
    EXPECT_FLOAT_EQ(added.top, 3.0f);
}

TEST(ZoneTest, InsertMidpointPlacesTheCornerAfterTheEdgeStart) {
    Zone zone = Square();
    ASSERT_TRUE(InsertMidpoint(zone, 0));
    ASSERT_EQ(zone.corners.size(), 5u);
    EXPECT_FLOAT_EQ(zone.corners[1].x, 1.0f);
    EXPECT_FLOAT_EQ(zone.corners[1].y, 0.0f);
    EXPECT_FLOAT_EQ(zone.corners[2].x, 2.0f);
}

TEST(ZoneTest, InsertMidpointRefusesBadEdgesAndLeavesTheZone) {
    const struct {
        const char* what;
        Zone zone;
        int edge;
    } cases[] = {
        {"one corner", Polygon({{0, 0}}), 0},
        {"edge past the end", Square(), 4},
        {"negative edge", Square(), -1},
        // Two corners give a flat triangle, whose neighbouring edges fold back.
        {"two corners", Polygon({{0, 0}, {2, 0}}), 1},
    };
    for (const auto& c : cases) {
        Zone zone = c.zone;
        EXPECT_FALSE(InsertMidpoint(zone, c.edge)) << c.what;
        EXPECT_EQ(zone.corners.size(), c.zone.corners.size()) << c.what;
    }
}

TEST(ZoneTest, MoveCornerKeepsEveryCornerAtLeastATenthOfAMetreHigh) {
    Zone zone = Square();
    ASSERT_TRUE(MoveCorner(zone, 2, 3.0f, 3.0f, 1.0f, 0.5f));
    EXPECT_FLOAT_EQ(zone.corners[2].x, 3.0f);
    EXPECT_FLOAT_EQ(zone.corners[2].y, 3.0f);
    EXPECT_FLOAT_EQ(zone.corners[2].bottom, 1.0f);
    EXPECT_FLOAT_EQ(zone.corners[2].top, 1.1f);

    ASSERT_TRUE(MoveCorner(zone, 2, 3.0f, 3.0f, 1.0f, 4.0f));
    EXPECT_FLOAT_EQ(zone.corners[2].top, 4.0f);
}

TEST(ZoneTest, MoveCornerThatWouldCrossEdgesLeavesTheZone) {
    Zone zone = Square();
    const Zone before = zone;
    // Corner 1 pulled across the far side makes edges 0-1 and 2-3 cross.
    EXPECT_FALSE(MoveCorner(zone, 1, 1.0f, 3.0f, 0.0f, 1.0f));
    ASSERT_EQ(zone.corners.size(), before.corners.size());
    for (size_t i = 0; i < zone.corners.size(); ++i) {
        EXPECT_EQ(zone.corners[i].x, before.corners[i].x);
        EXPECT_EQ(zone.corners[i].y, before.corners[i].y);
        EXPECT_EQ(zone.corners[i].top, before.corners[i].top);
    }
    EXPECT_FALSE(MoveCorner(zone, 4, 0, 0, 0, 1));
    EXPECT_FALSE(MoveCorner(zone, -1, 0, 0, 0, 1));
    const float nan = std::nanf("");
    EXPECT_FALSE(MoveCorner(zone, 1, nan, 0, 0, 1));
    EXPECT_FALSE(MoveCorner(zone, 1, 2, 0, 0, nan));
    EXPECT_EQ(zone.corners[1].x, before.corners[1].x);
}

TEST(ZoneTest, PushUndoKeepsTheNewest64AndEmptiesRedo) {
    ZoneEditorState state;
    PushUndo(state);
    EXPECT_TRUE(state.undo.empty());  // editing is off

    state.editing = true;
    state.redo.push_back(Zone{});
    for (int i = 0; i < 65; ++i) {
        state.workingZone.id = i;
        PushUndo(state);
    }
    ASSERT_EQ(state.undo.size(), 64u);
    EXPECT_EQ(state.undo.front().id, 1);
    EXPECT_EQ(state.undo.back().id, 64);
    EXPECT_TRUE(state.redo.empty());
}

TEST(ZoneTest, SnapshotsAreWholeCopies) {
    ZoneEditorState state;
    state.editing = true;
    state.workingZone = Square();
    PushUndo(state);
    state.workingZone.corners[0].x = 9.0f;
    EXPECT_EQ(state.undo.back().corners[0].x, 0.0f);
}

}  // namespace
}  // namespace orbel::studio::gui
