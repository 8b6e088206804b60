// ZoneEditorState: the stored zones, the working zone being edited and the zone
// editor's interaction state. One instance, owned by AppState; used on the GUI thread
// only and not locked.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "views/Zone.h"

namespace orbel::studio::gui {

struct ZoneEditorState {
    static constexpr std::size_t kMaxUndo = 64;

    // counter, path and defaultHeight are kept for zone management; nothing reads them yet.
    int counter = 0;
    std::wstring path;
    std::vector<Zone> zones;
    // The zone being edited or created; while editing and not creating it stands in for
    // zones[selectedZone].
    Zone workingZone = [] {
        Zone zone;
        zone.name = "New Zone";
        return zone;
    }();
    std::vector<Zone> undo;  // snapshots of the working zone, oldest first
    std::vector<Zone> redo;
    int selectedZone = -1;
    bool editing = false;
    bool creating = false;  // the working zone is not in `zones` yet
    bool dirty = false;     // an edit changed the working zone
    float defaultHeight = 1.1f;

    int hoveredTopCorner = -1;
    int hoveredBottomCorner = -1;
    int draggedAxis = 0;  // 0 none, 1 x, 2 y, 3 z
    int hoveredAxis = 0;
    int hoveredTopEdge = -1;  // edge i joins corner i and corner (i + 1) mod n
    int hoveredBottomEdge = -1;
    int selectedCorner = -1;
    bool bottomSelected = false;  // the selected corner's bottom end, else its top end
    bool wholeZoneSelected = false;
    bool movingZone = false;
    bool centreHovered = false;
    std::array<float, 2> dragReference{0.0f, 0.0f};  // metres on the drag plane, or pixels for axis drags
    bool pickMode = false;  // the next left click snaps the selected corner to a lidar point
};

// Before an edit: snapshots the working zone (dropping the oldest beyond 64) and empties
// the redo list; does nothing while editing is off.
void PushUndo(ZoneEditorState& state);

}  // namespace orbel::studio::gui
