// Whether the program's log names a frame as lost: "Frame N not recorded: …" (it came
// incomplete), "Frame N not received: …" or "Frames A to B not received: …" (none of its
// lines came). Tests that stream on a loaded machine accept a missing frame only so.
#pragma once

#include <cstdint>
#include <regex>
#include <string>

namespace orbel::testing {

inline bool LogNamesFrameLost(const std::string& log, uint64_t frame) {
    const std::string number = std::to_string(frame);
    if (log.find("Frame " + number + " not recorded: ") != std::string::npos ||
        log.find("Frame " + number + " not received: ") != std::string::npos) {
        return true;
    }
    static const std::regex range(R"(Frames (\d+) to (\d+) not received: )");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), range); it != std::sregex_iterator(); ++it) {
        if (std::stoull((*it)[1]) <= frame && frame <= std::stoull((*it)[2])) return true;
    }
    return false;
}

}  // namespace orbel::testing
