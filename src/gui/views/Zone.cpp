// Zone geometry in the x-y plane. The simple-polygon test refuses corners that are not
// finite and neighbouring edges that fold back onto each other, then compares every pair
// of non-adjacent edges for a proper crossing or a touch, with a 1e-5 tolerance.
#include "views/Zone.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace orbel::studio::gui {
namespace {

constexpr float kEps = 1e-5f;
constexpr float kMinHeight = 0.1f;  // metres between a corner's bottom and top

// 2D cross product of (b - a) and (c - a).
float Cross(const ZoneCorner& a, const ZoneCorner& b, const ZoneCorner& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

bool OnOppositeSides(float d1, float d2) { return (d1 > kEps && d2 < -kEps) || (d1 < -kEps && d2 > kEps); }

bool EdgesConflict(const ZoneCorner& a0, const ZoneCorner& a1, const ZoneCorner& b0, const ZoneCorner& b1) {
    if (OnOppositeSides(Cross(a0, a1, b0), Cross(a0, a1, b1)) &&
        OnOppositeSides(Cross(b0, b1, a0), Cross(b0, b1, a1))) {
        return true;
    }
    return IsPointOnSegment(a0, a1, b0) || IsPointOnSegment(a0, a1, b1) || IsPointOnSegment(b0, b1, a0) ||
           IsPointOnSegment(b0, b1, a1);
}

// Two consecutive edges p -> q -> r fold back when r lies on the line through p and q on
// the same side of q as p: the polygon then retraces itself (a zero-length edge counts).
bool FoldsBack(const ZoneCorner& p, const ZoneCorner& q, const ZoneCorner& r) {
    if (std::fabs(Cross(q, p, r)) > kEps) {
        return false;
    }
    return (p.x - q.x) * (r.x - q.x) + (p.y - q.y) * (r.y - q.y) >= 0.0f;
}

bool IsFinite(const ZoneCorner& c) {
    return std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.bottom) && std::isfinite(c.top);
}

}  // namespace

ZoneCorner Centroid(const Zone& zone) {
    if (zone.corners.empty()) {
        return ZoneCorner{0.0f, 0.0f, 0.0f, 2.0f};
    }
    ZoneCorner sum;
    for (const ZoneCorner& corner : zone.corners) {
        sum.x += corner.x;
        sum.y += corner.y;
        sum.bottom += corner.bottom;
        sum.top += corner.top;
    }
    const auto count = static_cast<float>(zone.corners.size());
    return ZoneCorner{sum.x / count, sum.y / count, sum.bottom / count, sum.top / count};
}

bool IsPointOnSegment(const ZoneCorner& a, const ZoneCorner& b, const ZoneCorner& p) {
    if (std::fabs(Cross(a, b, p)) > kEps) {
        return false;
    }
    return p.x >= std::min(a.x, b.x) - kEps && p.x <= std::max(a.x, b.x) + kEps &&
           p.y >= std::min(a.y, b.y) - kEps && p.y <= std::max(a.y, b.y) + kEps;
}

bool IsSimplePolygon(const Zone& zone) {
    const std::size_t n = zone.corners.size();
    if (n < 3) {
        return false;
    }
    const auto& c = zone.corners;
    for (std::size_t i = 0; i < n; ++i) {
        if (!IsFinite(c[i]) || FoldsBack(c[(i + n - 1) % n], c[i], c[(i + 1) % n])) {
            return false;
        }
    }
    // Edge i runs from corner i - 1 to corner i mod n; it is compared with every later
    // edge j -> (j + 1) mod n that shares none of its corners.
    for (std::size_t i = 1; i <= n; ++i) {
        const std::size_t a0 = i - 1;
        const std::size_t a1 = i % n;
        for (std::size_t j = i; j < n; ++j) {
            const std::size_t b0 = j;
            const std::size_t b1 = (j + 1) % n;
            if (a0 == b0 || a0 == b1 || a1 == b0 || a1 == b1) {
                continue;
            }
            if (EdgesConflict(c[a0], c[a1], c[b0], c[b1])) {
                return false;
            }
        }
    }
    return true;
}

bool InsertMidpoint(Zone& zone, int edge) {
    const std::size_t n = zone.corners.size();
    if (n < 2 || edge < 0 || static_cast<std::size_t>(edge) >= n) {
        return false;
    }
    const std::size_t k = static_cast<std::size_t>(edge);
    const ZoneCorner& from = zone.corners[k];
    const ZoneCorner& to = zone.corners[(k + 1) % n];
    const ZoneCorner middle{(from.x + to.x) / 2.0f, (from.y + to.y) / 2.0f, (from.bottom + to.bottom) / 2.0f,
                            (from.top + to.top) / 2.0f};
    Zone candidate = zone;
    candidate.corners.insert(candidate.corners.begin() + static_cast<std::ptrdiff_t>(k + 1), middle);
    if (!IsSimplePolygon(candidate)) {
        return false;
    }
    zone = std::move(candidate);
    return true;
}

bool MoveCorner(Zone& zone, int index, float x, float y, float bottom, float top) {
    if (index < 0 || static_cast<std::size_t>(index) >= zone.corners.size()) {
        return false;
    }
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(bottom) || !std::isfinite(top)) {
        return false;
    }
    const auto i = static_cast<std::size_t>(index);
    const ZoneCorner previous = zone.corners[i];
    zone.corners[i] = ZoneCorner{x, y, bottom, std::max(bottom + kMinHeight, top)};
    if (!IsSimplePolygon(zone)) {
        zone.corners[i] = previous;
        return false;
    }
    return true;
}

}  // namespace orbel::studio::gui
