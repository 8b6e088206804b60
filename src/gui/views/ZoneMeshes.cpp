// Zone triangulation, meshes, geometry hash and mesh cache.
#include "views/ZoneMeshes.h"

#include <algorithm>

#include "views/SceneRenderer.h"

namespace orbel::studio::gui {
namespace {

constexpr float kMillimetres = 1000.0f;

float Cross2(const ZoneCorner& o, const ZoneCorner& a, const ZoneCorner& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool InsideOrOn(const ZoneCorner& p, const ZoneCorner& a, const ZoneCorner& b, const ZoneCorner& c) {
    const float d1 = Cross2(a, b, p);
    const float d2 = Cross2(b, c, p);
    const float d3 = Cross2(c, a, p);
    return (d1 >= 0.0f && d2 >= 0.0f && d3 >= 0.0f) || (d1 <= 0.0f && d2 <= 0.0f && d3 <= 0.0f);
}

class Hasher {
public:
    void Bytes(const void* data, std::size_t size) {
        uint64_t h = 0xcbf29ce484222325ull;
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            h ^= bytes[i];
            h *= 0x100000001b3ull;
        }
        seed_ ^= h + 0x9E3779B9ull + (seed_ << 6) + (seed_ >> 2);
    }
    template <typename T>
    void Value(T value) {
        Bytes(&value, sizeof value);
    }
    void Flag(bool value) { Value(static_cast<uint8_t>(value ? 1 : 0)); }
    uint64_t Result() const { return seed_; }

private:
    uint64_t seed_ = 0;
};

void HashZone(Hasher& hasher, const Zone& zone) {
    hasher.Value(static_cast<int32_t>(zone.id));
    hasher.Bytes(zone.name.data(), zone.name.size());
    hasher.Flag(zone.flag0);
    hasher.Flag(zone.flag1);
    hasher.Flag(zone.visible);
    hasher.Flag(zone.flag3);
    for (const float component : zone.color) {
        hasher.Value(component);
    }
    hasher.Value(static_cast<uint64_t>(zone.corners.size()));
    for (const ZoneCorner& corner : zone.corners) {
        hasher.Value(corner.x);
        hasher.Value(corner.y);
        hasher.Value(corner.bottom);
        hasher.Value(corner.top);
    }
}

Vec3 Bottom(const ZoneCorner& c) { return {c.x * kMillimetres, c.y * kMillimetres, c.bottom * kMillimetres}; }
Vec3 Top(const ZoneCorner& c) { return {c.x * kMillimetres, c.y * kMillimetres, c.top * kMillimetres}; }

SceneObject ZoneObject(const Zone& zone, int primitive, float maxAlpha) {
    SceneObject object;
    object.primitive = primitive;
    object.color_mode = 0;
    object.color = {zone.color[0], zone.color[1], zone.color[2], std::min(zone.color[3], maxAlpha)};
    object.depth_write = false;
    return object;
}

}  // namespace

std::vector<int> Triangulate(const std::vector<ZoneCorner>& corners) {
    const int n = static_cast<int>(corners.size());
    std::vector<int> triangles;
    if (n < 3) {
        return triangles;
    }
    float area = 0.0f;
    for (int i = 0; i < n; ++i) {
        const ZoneCorner& a = corners[static_cast<std::size_t>(i)];
        const ZoneCorner& b = corners[static_cast<std::size_t>((i + 1) % n)];
        area += a.x * b.y - b.x * a.y;
    }
    std::vector<int> remaining(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        remaining[static_cast<std::size_t>(i)] = i;
    }
    auto corner = [&](int index) -> const ZoneCorner& { return corners[static_cast<std::size_t>(index)]; };
    int cuts = 0;
    while (remaining.size() > 3 && cuts < n * n) {
        const std::size_t m = remaining.size();
        bool found = false;
        for (std::size_t k = 0; k < m && !found; ++k) {
            const int p = remaining[(k + m - 1) % m];
            const int c = remaining[k];
            const int q = remaining[(k + 1) % m];
            const float h = Cross2(corner(p), corner(c), corner(q));
            const bool convex = area > 0.0f ? h > 1e-6f : h < -1e-6f;
            if (!convex) {
                continue;
            }
            bool ear = true;
            for (const int other : remaining) {
                if (other != p && other != c && other != q &&
                    InsideOrOn(corner(other), corner(p), corner(c), corner(q))) {
                    ear = false;
                    break;
                }
            }
            if (ear) {
                triangles.insert(triangles.end(), {p, c, q});
                remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(k));
                ++cuts;
                found = true;
            }
        }
        if (!found) {
            triangles.clear();
            return triangles;
        }
    }
    if (remaining.size() == 3) {
        triangles.insert(triangles.end(), {remaining[0], remaining[1], remaining[2]});
    }
    return triangles;
}

std::array<std::string, 6> ZoneMeshNames(int zoneId) {
    const std::string id = std::to_string(zoneId);
    return {"zone_bottom_fill_" + id, "zone_top_fill_" + id,    "zone_side_fill_" + id,
            "zone_top_edges_" + id,   "zone_bottom_edges_" + id, "zone_verticals_" + id};
}

std::array<std::pair<std::string, SceneObject>, 6> BuildZoneMeshes(const Zone& zone) {
    const auto names = ZoneMeshNames(zone.id);
    SceneObject bottomFill = ZoneObject(zone, kPrimitiveTriangles, 0.025f);
    SceneObject topFill = ZoneObject(zone, kPrimitiveTriangles, 0.07f);
    SceneObject sideFill = ZoneObject(zone, kPrimitiveTriangles, 0.07f);
    SceneObject topEdges = ZoneObject(zone, kPrimitiveLines, 1.0f);
    SceneObject bottomEdges = ZoneObject(zone, kPrimitiveLines, 1.0f);
    SceneObject verticals = ZoneObject(zone, kPrimitiveLines, 1.0f);

    const auto& c = zone.corners;
    for (const int index : Triangulate(c)) {
        bottomFill.positions.push_back(Bottom(c[static_cast<std::size_t>(index)]));
        topFill.positions.push_back(Top(c[static_cast<std::size_t>(index)]));
    }
    const std::size_t n = c.size();
    for (std::size_t i = 0; i < n; ++i) {
        const ZoneCorner& a = c[i];
        const ZoneCorner& b = c[(i + 1) % n];
        sideFill.positions.insert(sideFill.positions.end(), {Bottom(a), Bottom(b), Top(b), Bottom(a), Top(b), Top(a)});
        topEdges.positions.insert(topEdges.positions.end(), {Top(a), Top(b)});
        bottomEdges.positions.insert(bottomEdges.positions.end(), {Bottom(a), Bottom(b)});
        verticals.positions.insert(verticals.positions.end(), {Bottom(a), Top(a)});
    }
    return {std::pair{names[0], std::move(bottomFill)}, std::pair{names[1], std::move(topFill)},
            std::pair{names[2], std::move(sideFill)},   std::pair{names[3], std::move(topEdges)},
            std::pair{names[4], std::move(bottomEdges)}, std::pair{names[5], std::move(verticals)}};
}

std::vector<const Zone*> DrawnZones(const ZoneEditorState& state) {
    std::vector<const Zone*> zones;
    const bool workingStandsIn = state.editing && !state.creating;
    for (std::size_t i = 0; i < state.zones.size(); ++i) {
        const bool selected = state.selectedZone >= 0 && static_cast<std::size_t>(state.selectedZone) == i;
        zones.push_back(workingStandsIn && selected ? &state.workingZone : &state.zones[i]);
    }
    if (state.editing && state.creating && state.workingZone.corners.size() >= 3) {
        zones.push_back(&state.workingZone);
    }
    return zones;
}

uint64_t GeometryHash(const ZoneEditorState& state) {
    Hasher hasher;
    hasher.Flag(state.editing);
    hasher.Flag(state.creating);
    hasher.Value(static_cast<int32_t>(state.selectedZone));
    for (const Zone* zone : DrawnZones(state)) {
        HashZone(hasher, *zone);
    }
    return hasher.Result();
}

void ZoneMeshCache::Sync(const ZoneEditorState& state, SceneRenderer& renderer) {
    const uint64_t hash = GeometryHash(state);
    if (valid_ && hash == hash_) {
        return;
    }
    // Every zone is drawn whether or not the editor is on: the switch governs editing only.
    std::set<std::string> names;
    for (const Zone* zone : DrawnZones(state)) {
        const auto zoneNames = ZoneMeshNames(zone->id);
        names.insert(zoneNames.begin(), zoneNames.end());
        if (zone->visible && zone->corners.size() >= 3) {
            for (auto& [name, object] : BuildZoneMeshes(*zone)) {
                renderer.AddObject(name, std::move(object));
            }
        } else {
            for (const std::string& name : zoneNames) {
                renderer.RemoveObject(name);
            }
        }
    }
    for (const std::string& name : names_) {
        if (names.count(name) == 0) {
            renderer.RemoveObject(name);
        }
    }
    names_ = std::move(names);
    hash_ = hash;
    valid_ = true;
}

void ZoneMeshCache::Invalidate() { valid_ = false; }

}  // namespace orbel::studio::gui
