// Inside the vendor layer only: Aravis's GError reports turned into
// GenericException descriptions that name the node or step that failed.
#pragma once

#include <glib.h>

#include <string>

#include "camera/vendor/GenericException.h"
#include "camera/vendor/NetworkInfo.h"

namespace orbel::camera::vendor {

// "[name] message", unless Aravis already put the name first.
inline std::string Describe(const std::string& name, const std::string& message) {
    const std::string tag = "[" + name + "]";
    if (message.compare(0, tag.size(), tag) == 0) return message;
    return tag + " " + message;
}

inline std::string LostText(const DeviceInfo& info) {
    return "The camera at " + info.ipAddress + " stopped answering (control lost)";
}

// One GError out-parameter; freed whatever happens.
class ErrorSlot {
public:
    ErrorSlot() = default;
    ~ErrorSlot() { Clear(); }
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;

    GError** Out() {
        Clear();
        return &error_;
    }
    void Clear() {
        if (error_ != nullptr) g_error_free(error_);
        error_ = nullptr;
    }
    // Throws when Aravis reported an error, or always when a fallback text is given.
    void ThrowIfSet(const std::string& name, const char* fallback = nullptr) {
        if (error_ == nullptr && fallback == nullptr) return;
        const std::string message = error_ != nullptr ? error_->message : fallback;
        Clear();
        throw GenericException(Describe(name, message));
    }

private:
    GError* error_ = nullptr;
};

}  // namespace orbel::camera::vendor
