// The full file name of the running program, from the operating system (not argv[0]).
#pragma once

#include <filesystem>

namespace orbel::studio::platform {

// Empty when the system cannot tell.
std::filesystem::path ExecutablePath();

}  // namespace orbel::studio::platform
