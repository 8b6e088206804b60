// orbel::sdk::Exception: every failure the SDK reports to its caller, thrown
// across the exported surface or handed to the error callback by const reference.
// Its text is "Exception: " + the code's fixed text (or "Unspecified error.")
// + " Extra information: " + the detail when one is given.
#pragma once

#include <exception>
#include <string>

#include <orbel/sdk/Export.h>
#include <orbel/sdk/SensorError.h>

namespace orbel::sdk {

class ORBEL_SDK_API Exception : public std::exception {
public:
    Exception(const std::string& detail, SensorError code);
    Exception(const std::wstring& detail, SensorError code);
    Exception(const Exception& other);
    Exception& operator=(const Exception& other);
    ~Exception() override;

    SensorError GetType() const;
    const char* what() const noexcept override;

protected:
    void CreateMessage(std::string detail);

private:
    std::string message_;
    SensorError code_;
};

// Throws an Exception with UNKNOWN_ERROR and the given detail.
[[noreturn]] ORBEL_SDK_API void ThrowUnknownError(const std::string& text);

// The SDK's version text, "2.2.1".
ORBEL_SDK_API std::string GetVersion();

}  // namespace orbel::sdk
