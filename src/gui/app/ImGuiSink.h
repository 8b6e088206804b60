// The GUI log sink: an in-memory list of the last formatted log lines that the log
// panel shows. One instance serves the whole program (Instance()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>

#include "app/IFrameRequest.h"

namespace orbel::studio::gui {

// Contract: any thread may log into it; spdlog's base_sink takes the sink's mutex
// around sink_it_, and Lines, Clear and Count take the same mutex, so the GUI
// thread always sees whole lines and never a list being changed. The caller owns
// the copies it receives. Lines carry the sink's own pattern "[%H:%M:%S] [%l] %v",
// whatever the logger's pattern, and no line ending.
class ImGuiSink final : public spdlog::sinks::base_sink<std::mutex> {
public:
    static constexpr std::size_t kDefaultCapacity = 2000;
    static constexpr const char* kPattern = "[%H:%M:%S] [%l] %v";

    // What the panel draws from, taken under one lock.
    struct Snapshot {
        std::vector<std::string> lines;
        // Lines appended since the last Clear, including those the capacity has
        // already pushed out: unlike the list's size it keeps growing once full.
        uint64_t appended = 0;
        // Changes (appended lines and clears) over the sink's life: equal numbers mean
        // equal lists.
        uint64_t changes = 0;
    };

    // The program's sink, created on first use with the default capacity.
    static std::shared_ptr<ImGuiSink> Instance();

    explicit ImGuiSink(std::size_t capacity = kDefaultCapacity);

    Snapshot Lines();
    std::size_t Count();
    // What Snapshot::changes would say now, without copying the lines.
    uint64_t Changes();
    void Clear();
    // Who is asked for a frame after each new line (the log panel shows it); empty: nobody.
    void SetFrameRequest(std::shared_ptr<IFrameRequest> request) { frameRequest_.Set(std::move(request)); }

protected:
    void sink_it_(const spdlog::details::log_msg& message) override;
    void flush_() override {}

private:
    const std::size_t capacity_;
    std::deque<std::string> lines_;
    uint64_t appended_ = 0;
    uint64_t changes_ = 0;
    FrameRequestSlot frameRequest_;
};

}  // namespace orbel::studio::gui
