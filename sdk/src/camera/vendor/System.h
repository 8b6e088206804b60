// The camera vendor layer's process-wide system: opened once, on the first
// call of SharedSystem() from any thread (concurrent first callers wait for the
// one opening), and closed when the process exits. Cameras and image
// conversions share it and never own it. It holds no resources yet; device
// discovery and streaming are added behind this same object.
#pragma once

namespace orbel::camera::vendor {

class System {
public:
    System(const System&) = delete;
    System& operator=(const System&) = delete;
    System(System&&) = delete;
    System& operator=(System&&) = delete;

private:
    friend System& SharedSystem();
    System();
    ~System();
};

// The process's system, opened on first use; valid until process exit.
System& SharedSystem();

}  // namespace orbel::camera::vendor
