#include "camera/vendor/GenericException.h"

#include <utility>

namespace orbel::camera::vendor {

GenericException::GenericException(std::string description) : description_(std::move(description)) {}

const char* GenericException::GetDescription() const noexcept { return description_.c_str(); }

const char* GenericException::what() const noexcept { return description_.c_str(); }

}  // namespace orbel::camera::vendor
