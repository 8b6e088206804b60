// The zone editor's undo history: a bounded list of working-zone snapshots.
#include "views/ZoneEditorState.h"

namespace orbel::studio::gui {

void PushUndo(ZoneEditorState& state) {
    if (!state.editing) {
        return;
    }
    while (state.undo.size() >= ZoneEditorState::kMaxUndo) {
        state.undo.erase(state.undo.begin());
    }
    state.undo.push_back(state.workingZone);
    state.redo.clear();
}

}  // namespace orbel::studio::gui
