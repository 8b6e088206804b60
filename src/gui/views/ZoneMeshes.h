// The zones as scene objects: triangulation of a zone's ground polygon, its six meshes
// (bottom, top and side fills, top and bottom edges, verticals), the geometry hash that
// tells when they must be rebuilt, and the cache that keeps the renderer's scene in step
// with the zones. Meshes exist only while zone editing is on. GUI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "views/SceneObject.h"
#include "views/Zone.h"
#include "views/ZoneEditorState.h"

namespace orbel::studio::gui {

class SceneRenderer;

// Ear clipping over the x-y polygon: triangles as corner indices, three per triangle;
// empty when fewer than 3 corners or no ear can be found.
std::vector<int> Triangulate(const std::vector<ZoneCorner>& corners);

// The six names of a zone's meshes: "zone_bottom_fill_<id>" .. "zone_verticals_<id>".
std::array<std::string, 6> ZoneMeshNames(int zoneId);

// The six meshes (millimetres) of a visible zone with at least 3 corners.
std::array<std::pair<std::string, SceneObject>, 6> BuildZoneMeshes(const Zone& zone);

// A 64-bit hash of everything the meshes and labels depend on.
uint64_t GeometryHash(const ZoneEditorState& state);

// The zones as they are hashed and drawn, in order: the stored zones with the working
// zone in place of the selected one (while editing and not creating), then the zone
// being created (while editing, with at least 3 corners).
std::vector<const Zone*> DrawnZones(const ZoneEditorState& state);

class ZoneMeshCache {
public:
    // Adds, replaces and removes zone meshes when the geometry hash changed; while
    // editing is off every zone mesh is removed.
    void Sync(const ZoneEditorState& state, SceneRenderer& renderer);
    // The scene was cleared: the next Sync rebuilds every mesh.
    void Invalidate();

private:
    std::set<std::string> names_;
    uint64_t hash_ = 0;
    bool valid_ = false;
};

}  // namespace orbel::studio::gui
