// The SDK's log: severities and the exported functions that configure it.
// Whichever SDK call comes first fixes the output for the life of the process:
// only SetLogOutputFolder with a non-empty folder, called before anything else,
// gives rolling files; otherwise records go to the console.
// The callback runs on the thread that logs, outside every lock of the logger,
// and may be called from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <orbel/sdk/Export.h>

namespace orbel::sdk {

// A smaller value is more severe.
enum class Severity : uint32_t {
    ERROR = 0,
    WARNING = 1,
    INFO = 2,
    DEBUG = 3,
};

using LogCallback = std::function<void(const Severity&, const std::wstring&)>;

ORBEL_SDK_API void SetLogOutputFolder(const std::wstring& folder);
ORBEL_SDK_API void SetLogSeverity(const Severity& severity);
ORBEL_SDK_API Severity GetLogSeverity();
ORBEL_SDK_API void SetLogCallBack(const LogCallback& callback);
ORBEL_SDK_API std::wstring GetLogTypeString(const Severity& severity);
ORBEL_SDK_API void Log(Severity severity, std::wstring message, const char* file, const size_t& line,
                       const char* function);

}  // namespace orbel::sdk
