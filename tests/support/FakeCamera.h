// Aravis's fake GigE Vision camera (arv-fake-gv-camera-0.8) as a test fixture:
// a process of its own on an address of its own on `lo`, serving the GenICam
// description of tools/fake-camera (Aravis's own, extended with every node the
// SDK's camera configuration touches, the 12-bit Bayer formats and the trigger
// source "Line2"), as the demo run does.
//
// It runs only in a private network namespace with nothing but `lo` (as
// scripts/test and `unshare -n` give), where it adds its address to `lo`:
// 127.64.0.0/10, one /32 per camera, never one that is already there.
// Elsewhere the test is skipped, or fails when ORBEL_REQUIRE_FAKE_CAMERA is
// set. Fixtures in parallel processes take turns (a lock per namespace):
// fake cameras streaming side by side now and then deliver each other's
// images. The process gets SIGKILL when the thread that created the fixture
// ends, and is stopped and reaped by the destructor.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orbel::testing {

struct FakeCameraOptions {
    std::string serial = "ORBELFAKE1";
    // Added nodes left out of the description: a camera that lacks them.
    std::vector<std::string> omitNodes;
    // false: no BayerRG8 pixel format (a monochrome camera).
    bool bayerRG8 = true;
    // Stream packets the camera drops on purpose, per thousand.
    int lostPacketsPerThousand = 0;
};

class FakeCamera {
public:
    explicit FakeCamera(FakeCameraOptions options = {});
    ~FakeCamera();
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    bool Ready() const { return pid_ > 0 && reason_.empty(); }
    const std::string& Reason() const { return reason_; }
    const std::string& Address() const { return address_; }
    const std::string& Serial() const { return options_.serial; }

    // Sets features as "Name=Value Name=Value ..." in a short control session
    // of its own; call it while no camera object holds the device. Throws
    // std::runtime_error when a feature is refused.
    void Configure(const std::string& features) const;
    // Ends the process at once, as a camera that is unplugged.
    void Kill();
    // Freezes the process (SIGSTOP) and lets it go on (SIGCONT): a camera that stops
    // answering for a while. Frozen past its heartbeat time-out, it gives up its controller.
    void Pause();
    void Resume();
    // Whether this fixture's camera (its serial number) answers a discovery within the time-out.
    bool Answers(int timeoutMs) const;

    // The fake camera's frame ids are GigE Vision's 16-bit block ids: from
    // 65535 they go on at 1. The frames from `earlier` to `later`, across wraps.
    static uint32_t FramesBetween(uint32_t earlier, uint32_t later) {
        return later >= earlier ? later - earlier : later + 65535 - earlier;
    }

    // Why no fake camera can run here; nothing when one can.
    static std::optional<std::string> Unavailable();
    static bool Required();

private:
    void Launch();
    std::string LogText() const;

    FakeCameraOptions options_;
    std::string address_;
    pid_t pid_ = -1;
    int lock_ = -1;
    int description_ = -1;
    int log_ = -1;
    bool addressAdded_ = false;
    std::string reason_;
};

}  // namespace orbel::testing

// In a GoogleTest body: makes `name` a running fake camera or skips the test
// (fails where ORBEL_REQUIRE_FAKE_CAMERA is set).
#define ORBEL_FAKE_CAMERA_OR_SKIP(name, ...)                                   \
    ::orbel::testing::FakeCamera name{__VA_ARGS__};                            \
    if (!name.Ready()) {                                                       \
        if (::orbel::testing::FakeCamera::Required()) {                        \
            FAIL() << "no fake camera: " << name.Reason();                     \
        }                                                                      \
        GTEST_SKIP() << "no fake camera: " << name.Reason();                   \
    }
