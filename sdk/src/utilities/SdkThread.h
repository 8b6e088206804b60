// Marks the threads the SDK starts itself (I/O, send, point-cloud delivery).
//
// An SDK object released on one of those threads never waits for another SDK
// thread: two threads each tearing down the other's owner would otherwise join
// each other for ever (the point-cloud callback releasing the sensor while the
// I/O thread drops the handler list). There the thread is released instead; it
// holds its own state alive and ends once its current callback returns. Objects
// released on any other thread join their threads, so no callback of theirs runs
// after their destructor returns.
#pragma once

#include <thread>

namespace orbel::utilities {

// Called first thing by every thread the SDK starts.
void MarkSdkThread() noexcept;
bool OnSdkThread() noexcept;

// Joins the thread, or detaches it when the caller is an SDK thread (itself included).
// Returns true when it joined.
bool JoinOrRelease(std::thread& thread) noexcept;

}  // namespace orbel::utilities
