// Zone: a prism-like volume over the ground, a simple polygon in the x-y plane whose
// every corner has its own bottom and top height, in metres in the 3D view's world
// (z up); and the geometry every edit goes through. Plain values and pure functions:
// no drawing, no locking (zones live on the GUI thread).
#pragma once

#include <array>
#include <string>
#include <vector>

namespace orbel::studio::gui {

struct ZoneCorner {
    float x = 0.0f;       // metres, ground position
    float y = 0.0f;       // metres, ground position
    float bottom = 0.0f;  // metres, height of the corner's lower end
    float top = 0.0f;     // metres, height of the corner's upper end
};

struct Zone {
    int id = 0;  // part of the zone's scene-object names
    std::string name = "Unnamed Zone";
    std::vector<ZoneCorner> corners;  // in order; the last corner connects to the first
    std::array<float, 4> color{1.0f, 0.5f, 0.0f, 0.8f};  // RGBA
    // flag0, flag1 and flag3 travel with the zone (and its hash); nothing acts on them yet.
    bool flag0 = false;
    bool flag1 = true;
    bool visible = true;  // drawn and editable; hidden zones have no meshes or label
    bool flag3 = true;
};

// Mean of x, y, bottom and top over the corners; an empty zone gives (0, 0, 0, 2).
ZoneCorner Centroid(const Zone& zone);

// True when p lies on the segment a-b in x-y, within 1e-5.
bool IsPointOnSegment(const ZoneCorner& a, const ZoneCorner& b, const ZoneCorner& p);

// At least 3 finite corners, no two neighbouring edges folding back onto each other, and
// no two non-adjacent edges crossing or touching (x and y only).
bool IsSimplePolygon(const Zone& zone);

// Inserts the mean of corner edge and corner (edge + 1) mod n after corner edge when the
// result stays simple; otherwise leaves the zone as it was and returns false.
bool InsertMidpoint(Zone& zone, int edge);

// Moves corner `index` to (x, y) with top raised to at least bottom + 0.1 when the zone
// stays simple; otherwise (an index out of range, a value that is not finite, a polygon
// that would not be simple) leaves the zone as it was and returns false.
bool MoveCorner(Zone& zone, int index, float x, float y, float bottom, float top);

}  // namespace orbel::studio::gui
