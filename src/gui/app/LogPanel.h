// The log panel: the GUI log sink's lines, coloured by level, in a region that
// follows new lines to the end and otherwise lets the user scroll. The decisions
// (which tag colours a line, where it splits, when to scroll) are plain functions
// below; DrawLogPanel only draws what they decide.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <imgui.h>

#include "app/ImGuiSink.h"

namespace orbel::studio::gui {

enum class LogLineTag { None, Error, Warning, Info };

// A line cut after the first occurrence of its tag: `head` (up to and including
// the tag) is drawn in the tag's colour, `rest` below it in the normal colour.
// Without a tag, `head` is empty and `rest` is the whole line.
struct LogLineParts {
    LogLineTag tag = LogLineTag::None;
    std::string_view head;
    std::string_view rest;
};

// Tags are looked for in the order "[error]", "[warning]", "[info]", anywhere in
// the line: the first one present wins, wherever it stands.
LogLineParts SplitLogLine(std::string_view line);

// Red, yellow and light blue for the three tags; None has no colour of its own
// (such lines use the style's text colour).
std::optional<ImVec4> LogTagColor(LogLineTag tag);

// Whether lines arrived since the panel last looked (both counts since the last Clear).
bool HasNewLogLines(uint64_t appended, uint64_t seen);

// Draws one line as the panel does: the tag's part in its colour, the rest wrapped below.
void DrawLogLine(const std::string& line);

// How far DrawLogLine moves the cursor down for the line, with text wrapped at `wrapWidth`
// (current font and style).
float LogLineAdvance(std::string_view line, float wrapWidth);

// Contract: GUI thread only. The sink is shared with every logging thread; the
// panel reads and clears it only through its locking calls. It copies the lines only
// when they changed, and draws only those in view (and the last, which the scroll to the
// end follows), stepping over the others by their measured heights: a full log costs
// about as much to draw as a short one.
class LogPanel {
public:
    explicit LogPanel(std::shared_ptr<ImGuiSink> sink = ImGuiSink::Instance());

    // Once per frame, inside the window or child that holds the panel.
    void DrawLogPanel();

    // The number of lines appended when the panel last scrolled to the end.
    uint64_t SeenCount() const { return seen_; }

private:
    // Takes the sink's lines when they changed and measures what is new, or everything when
    // the width changed or the list was cleared.
    void Refresh(float wrapWidth);

    std::shared_ptr<ImGuiSink> sink_;
    uint64_t seen_ = 0;
    std::vector<std::string> lines_;
    std::vector<float> advances_;  // per line, at measuredWidth_
    uint64_t appended_ = 0;
    uint64_t changes_ = ~uint64_t{0};
    float measuredWidth_ = -1.0f;
};

}  // namespace orbel::studio::gui
