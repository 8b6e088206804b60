// The log panel's line colouring, scroll decision and drawing (Dear ImGui 1.86).
#include "app/LogPanel.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace orbel::studio::gui {
namespace {

struct TagText {
    LogLineTag tag;
    std::string_view text;
};

// The order of the search, not the position in the line, decides.
constexpr std::array<TagText, 3> kTags{{
    {LogLineTag::Error, "[error]"},
    {LogLineTag::Warning, "[warning]"},
    {LogLineTag::Info, "[info]"},
}};

void DrawText(std::string_view text) {
    ImGui::TextUnformatted(text.data(), text.data() + text.size());
}

}  // namespace

LogLineParts SplitLogLine(std::string_view line) {
    for (const TagText& tag : kTags) {
        const std::size_t at = line.find(tag.text);
        if (at != std::string_view::npos) {
            const std::size_t split = at + tag.text.size();
            return {tag.tag, line.substr(0, split), line.substr(split)};
        }
    }
    return {LogLineTag::None, {}, line};
}

std::optional<ImVec4> LogTagColor(LogLineTag tag) {
    switch (tag) {
        case LogLineTag::Error:
            return ImVec4(1.0f, 0.2f, 0.2f, 1.0f);
        case LogLineTag::Warning:
            return ImVec4(1.0f, 1.0f, 0.2f, 1.0f);
        case LogLineTag::Info:
            return ImVec4(0.4f, 0.7f, 1.0f, 1.0f);
        case LogLineTag::None:
            break;
    }
    return std::nullopt;
}

bool HasNewLogLines(uint64_t appended, uint64_t seen) {
    return appended > seen;
}

void DrawLogLine(const std::string& line) {
    const LogLineParts parts = SplitLogLine(line);
    if (const std::optional<ImVec4> color = LogTagColor(parts.tag)) {
        ImGui::PushStyleColor(ImGuiCol_Text, *color);
        DrawText(parts.head);
        ImGui::PopStyleColor();
        if (parts.rest.empty()) {
            return;
        }
    }
    ImGui::PushTextWrapPos(0.0f);
    DrawText(parts.rest);
    ImGui::PopTextWrapPos();
}

float LogLineAdvance(std::string_view line, float wrapWidth) {
    const LogLineParts parts = SplitLogLine(line);
    const float spacing = ImGui::GetStyle().ItemSpacing.y;
    float advance = 0.0f;
    if (parts.tag != LogLineTag::None) {
        advance += ImGui::CalcTextSize(parts.head.data(), parts.head.data() + parts.head.size()).y + spacing;
        if (parts.rest.empty()) {
            return advance;
        }
    }
    const float wrap = std::max(wrapWidth, 1.0f);  // as ImGui wraps at a width of at least 1
    return advance + ImGui::CalcTextSize(parts.rest.data(), parts.rest.data() + parts.rest.size(), false, wrap).y +
           spacing;
}

LogPanel::LogPanel(std::shared_ptr<ImGuiSink> sink) : sink_(std::move(sink)) {}

void LogPanel::Refresh(float wrapWidth) {
    const uint64_t changes = sink_->Changes();
    if (changes == changes_ && wrapWidth == measuredWidth_) {
        return;
    }
    if (changes != changes_) {
        ImGuiSink::Snapshot snapshot = sink_->Lines();
        const uint64_t added = snapshot.appended - appended_;
        // Only appends since the last copy (no clear between): the old lines keep their heights.
        const bool onlyAppended = wrapWidth == measuredWidth_ && snapshot.appended >= appended_ &&
                                  snapshot.changes - changes_ == added && added <= snapshot.lines.size();
        if (onlyAppended) {
            const std::size_t kept = snapshot.lines.size() - static_cast<std::size_t>(added);
            advances_.erase(advances_.begin(), advances_.end() - static_cast<std::ptrdiff_t>(kept));
            for (std::size_t i = kept; i < snapshot.lines.size(); ++i) {
                advances_.push_back(LogLineAdvance(snapshot.lines[i], wrapWidth));
            }
        } else {
            advances_.clear();
        }
        lines_ = std::move(snapshot.lines);
        appended_ = snapshot.appended;
        changes_ = snapshot.changes;
        if (onlyAppended) {
            return;
        }
    }
    measuredWidth_ = wrapWidth;
    advances_.resize(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        advances_[i] = LogLineAdvance(lines_[i], wrapWidth);
    }
}

void LogPanel::DrawLogPanel() {
    if (ImGui::Button("Clear")) {
        sink_->Clear();
        seen_ = 0;
    }
    ImGui::Separator();
    if (ImGui::BeginChild("scroll", ImVec2(0.0f, 0.0f), false)) {
        Refresh(ImGui::GetContentRegionAvail().x);
        const float top = ImGui::GetScrollY();
        const float bottom = top + ImGui::GetWindowHeight();
        const std::size_t count = lines_.size();
        float y = ImGui::GetCursorPosY();
        std::size_t i = 0;
        // Above the view: stepped over.
        while (i + 1 < count && y + advances_[i] < top) {
            y += advances_[i++];
        }
        ImGui::SetCursorPosY(y);
        // In view: drawn.
        while (i + 1 < count && y < bottom) {
            DrawLogLine(lines_[i++]);
            y = ImGui::GetCursorPosY();
        }
        // Below the view: stepped over, all but the last line, which the scroll to the end
        // needs drawn.
        while (i + 1 < count) {
            y += advances_[i++];
        }
        ImGui::SetCursorPosY(y);
        if (i < count) {
            DrawLogLine(lines_[i]);
        }
        // The sink's count of appended lines keeps growing once the list is full,
        // so a full log still follows new lines to the end.
        if (HasNewLogLines(appended_, seen_)) {
            ImGui::SetScrollHereY(1.0f);
            seen_ = appended_;
        }
    }
    ImGui::EndChild();
}

}  // namespace orbel::studio::gui
