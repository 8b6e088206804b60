#include "app/CameraImageWorker.h"

#include <chrono>

namespace orbel::studio {

using orbel::sdk::PixelFormat;

CameraImageWorker::CameraImageWorker(std::shared_ptr<ObjectDispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)) {}

CameraImageWorker::~CameraImageWorker() { Stop(); }

void CameraImageWorker::Start() {
    if (thread_.joinable()) return;
    running_ = true;
    queue_.Clear();
    thread_ = std::thread([this] { Run(); });
}

void CameraImageWorker::Push(std::shared_ptr<orbel::sdk::IImage> image) {
    if (!running_) return;
    // The oldest goes only once more than kMaxWaiting wait: up to one more is kept.
    queue_.PushBounded(std::move(image), kMaxWaiting + 1);
}

void CameraImageWorker::Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

std::shared_ptr<CameraData> CameraImageWorker::ToCameraData(const orbel::sdk::IImage& image) {
    auto data = std::make_shared<CameraData>();
    const auto& metadata = image.GetMetadata();
    data->imageFrameNumber = metadata.frameId;
    data->deviceTimestamp_us = metadata.deviceTimestamp_us;
    data->width = metadata.width;
    data->height = metadata.height;
    data->pixels = image.GetData();
    data->byteSize = data->pixels.size();
    switch (image.GetPixelFormat()) {
        case PixelFormat::BayerRG8: data->format = 0, data->channels = 1, data->bitsPerChannel = 8; break;
        case PixelFormat::BayerRG12:
        case PixelFormat::BayerRG12Packed: data->format = 0, data->channels = 1, data->bitsPerChannel = 12; break;
        case PixelFormat::RGB8: data->format = 2, data->channels = 3, data->bitsPerChannel = 8; break;
        case PixelFormat::RGB12: data->format = 2, data->channels = 3, data->bitsPerChannel = 12; break;
        default: data->format = 0, data->channels = 3, data->bitsPerChannel = 8; break;
    }
    return data;
}

void CameraImageWorker::Run() {
    while (running_) {
        std::optional<std::shared_ptr<orbel::sdk::IImage>> image;
        {
            auto lock = queue_.Lock();
            if (queue_.WaitUntil(lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)))
                image = queue_.PopLocked(lock);
        }
        if (image && *image) dispatcher_->Publish(ToCameraData(**image));
    }
}

}  // namespace orbel::studio
