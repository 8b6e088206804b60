// The GUI log sink's list: formatting on the stack, the capacity, copies and clearing.
#include "app/ImGuiSink.h"

#include <spdlog/pattern_formatter.h>

namespace orbel::studio::gui {

std::shared_ptr<ImGuiSink> ImGuiSink::Instance() {
    static const std::shared_ptr<ImGuiSink> instance = std::make_shared<ImGuiSink>();
    return instance;
}

ImGuiSink::ImGuiSink(std::size_t capacity) : capacity_(capacity) {
    set_formatter_(std::make_unique<spdlog::pattern_formatter>(kPattern));
}

ImGuiSink::Snapshot ImGuiSink::Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {std::vector<std::string>(lines_.begin(), lines_.end()), appended_, changes_};
}

uint64_t ImGuiSink::Changes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
}

std::size_t ImGuiSink::Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
}

void ImGuiSink::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
    appended_ = 0;
    ++changes_;
}

void ImGuiSink::sink_it_(const spdlog::details::log_msg& message) {
    // Lines of up to 250 bytes are formatted without touching the heap; the buffer
    // grows for longer ones.
    fmt::basic_memory_buffer<char, 250> formatted;
    formatter_->format(message, formatted);
    std::size_t size = formatted.size();
    while (size > 0 && (formatted[size - 1] == '\n' || formatted[size - 1] == '\r')) {
        --size;
    }
    lines_.emplace_back(formatted.data(), size);
    ++appended_;
    ++changes_;
    while (lines_.size() > capacity_) {
        lines_.pop_front();
    }
    frameRequest_.Request();
}

}  // namespace orbel::studio::gui
