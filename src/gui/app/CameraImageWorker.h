// CameraImageWorker: turns camera images into CameraData on a thread of its own
// and publishes them. At most 11 images wait (the oldest is dropped beyond 10);
// while it is stopped, pushed images are ignored.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include <orbel/sdk/IImage.h>

#include "app/FrameData.h"
#include "app/ObjectDispatcher.h"
#include "app/ThreadSafeQueue.h"

namespace orbel::studio {

class CameraImageWorker {
public:
    static constexpr size_t kMaxWaiting = 10;

    explicit CameraImageWorker(std::shared_ptr<ObjectDispatcher> dispatcher);
    ~CameraImageWorker();
    CameraImageWorker(const CameraImageWorker&) = delete;
    CameraImageWorker& operator=(const CameraImageWorker&) = delete;

    void Start();
    void Push(std::shared_ptr<orbel::sdk::IImage> image);
    void Stop();

    size_t Waiting() const { return queue_.Size(); }

    // Format, channels and bits of an image's pixel format, and a copy of its pixels.
    static std::shared_ptr<CameraData> ToCameraData(const orbel::sdk::IImage& image);

private:
    void Run();

    std::shared_ptr<ObjectDispatcher> dispatcher_;
    ThreadSafeQueue<orbel::sdk::IImage> queue_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace orbel::studio
