#include "camera/vendor/System.h"

namespace orbel::camera::vendor {

System::System() = default;

// Runs at process exit, as the static below is destroyed.
System::~System() = default;

System& SharedSystem() {
    // A function-local static: initialised exactly once even when several
    // threads arrive together, destroyed (closed) at exit.
    static System system;
    return system;
}

}  // namespace orbel::camera::vendor
