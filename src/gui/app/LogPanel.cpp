// The log panel's line colouring, scroll decision and drawing (Dear ImGui 1.86).
#include "app/LogPanel.h"

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

LogPanel::LogPanel(std::shared_ptr<ImGuiSink> sink) : sink_(std::move(sink)) {}

void LogPanel::DrawLogPanel() {
    if (ImGui::Button("Clear")) {
        sink_->Clear();
        seen_ = 0;
    }
    ImGui::Separator();
    if (ImGui::BeginChild("scroll", ImVec2(0.0f, 0.0f), false)) {
        const ImGuiSink::Snapshot snapshot = sink_->Lines();
        for (const std::string& line : snapshot.lines) {
            DrawLogLine(line);
        }
        // The sink's count of appended lines keeps growing once the list is full,
        // so a full log still follows new lines to the end.
        if (HasNewLogLines(snapshot.appended, seen_)) {
            ImGui::SetScrollHereY(1.0f);
            seen_ = snapshot.appended;
        }
    }
    ImGui::EndChild();
}

}  // namespace orbel::studio::gui
