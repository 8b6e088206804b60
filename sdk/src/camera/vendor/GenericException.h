// The one exception type of the camera vendor layer: every failure of the
// system, the image factory and (later) the devices is a GenericException
// carrying a description text, so callers catch a single type.
#pragma once

#include <exception>
#include <string>

namespace orbel::camera::vendor {

class GenericException : public std::exception {
public:
    explicit GenericException(std::string description);

    const char* GetDescription() const noexcept;
    const char* what() const noexcept override;

private:
    std::string description_;
};

}  // namespace orbel::camera::vendor
