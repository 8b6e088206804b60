// Camera tests' helpers: a camera connected to a fake camera with its callbacks
// recorded, the device it opened, and a deadline for scenarios that could hang.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <orbel/sdk/Exception.h>
#include <orbel/sdk/IImage.h>

#include "camera/Camera.h"
#include "support/FakeCamera.h"

namespace orbel::camera {

// What the camera's tests reach inside it for: the device it opened.
class CameraTestPeer {
public:
    static vendor::Device* Device(Camera& camera) { return camera.device_.get(); }
};

}  // namespace orbel::camera

namespace orbel::testing {

struct Recorder {
    struct Inside {
        explicit Inside(std::atomic<int>& n) : count(n) { ++count; }
        ~Inside() { --count; }
        std::atomic<int>& count;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<orbel::sdk::IImage>> images;
    std::vector<std::string> errors;
    std::vector<std::chrono::steady_clock::time_point> errorTimes;
    // Run inside the callbacks, before the call is recorded.
    std::function<void()> onImage;
    std::function<void()> onError;
    // Callbacks running now: a camera released inside one of them leaves its
    // thread running until the callback returns, and the recorder must outlive that.
    std::atomic<int> inside{0};

    void Attach(orbel::camera::Camera& camera) {
        camera.SetImageCallback([this](std::unique_ptr<orbel::sdk::IImage> image) {
            const Inside scope(inside);
            if (onImage) onImage();
            std::lock_guard lock(mutex);
            images.push_back(std::move(image));
            changed.notify_all();
        });
        camera.SetErrorCallback([this](const orbel::sdk::Exception& e) {
            const Inside scope(inside);
            if (onError) onError();
            std::lock_guard lock(mutex);
            errors.emplace_back(e.what());
            errorTimes.push_back(std::chrono::steady_clock::now());
            changed.notify_all();
        });
    }
    // Once the camera is gone: waits for callbacks still running to return.
    bool WaitForCallbacksToReturn(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (inside.load() != 0) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    template <typename Predicate>
    bool WaitUntil(Predicate predicate, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, deadline, [&] { return predicate(); });
    }
    size_t ImageCount() {
        std::lock_guard lock(mutex);
        return images.size();
    }
    size_t ErrorCount() {
        std::lock_guard lock(mutex);
        return errors.size();
    }
};

// Sets the fake camera's image size and rate (before a camera takes control).
inline void SmallImages(const FakeCamera& fake, double framesPerSecond = 100, const std::string& extra = "") {
    fake.Configure("Width=64 Height=48 AcquisitionFrameRate=" + std::to_string(framesPerSecond) + " " + extra);
}

// A camera on the fake camera, connected from the sensor link 127.0.0.1, its callbacks recorded.
inline std::shared_ptr<orbel::camera::Camera> Connected(const FakeCamera& fake, Recorder& recorder,
                                                        orbel::sdk::PixelFormat output,
                                                        size_t queueCapacity = 10) {
    auto camera = std::make_shared<orbel::camera::Camera>(fake.Address(), queueCapacity);
    camera->Initialize("127.0.0.1");
    recorder.Attach(*camera);
    camera->SetImageOutputFormat(output);
    return camera;
}

}  // namespace orbel::testing
