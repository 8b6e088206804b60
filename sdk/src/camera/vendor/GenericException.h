// The exceptions of the camera vendor layer: every failure of the system, the
// image factory, the devices and their node maps is a GenericException carrying
// a description text, so callers catch a single type; a wait for an image that
// ends without one is its subclass TimeoutException.
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

class TimeoutException : public GenericException {
public:
    using GenericException::GenericException;
};

}  // namespace orbel::camera::vendor
