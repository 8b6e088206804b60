#include "sensor/messageHandlers/DataHandler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "communication/VelmorantMessage.h"
#include "dataTypes/LazyPointCloud.h"
#include "utilities/CircularBuffer.h"
#include "utilities/Logging.h"
#include "utilities/SdkThread.h"
#include "utilities/StringConversion.h"

namespace orbel::sensor {

using orbel::communication::VelmorantMessage;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);

bool IsUnhandledData(uint32_t id) { return (id >= 0x1001 && id <= 0x1008) || (id >= 0x1068 && id <= 0x106B); }

}  // namespace

// Shared with the customer thread, which keeps it alive until it has ended.
class DataHandler::Impl {
public:
    Impl(size_t bufferSize, std::chrono::milliseconds interval) : ring(bufferSize, 0), missLogInterval(interval) {}

    void RunCustomerThread();
    void LogMissedPointClouds();
    bool HasMessage() { return ring.Used() > 0; }

    PointCloudCallback pointCloudCallback;
    orbel::utilities::CircularBuffer<VelmorantMessage> ring;
    std::thread customerThread;
    std::atomic<bool> stop{false};
    std::condition_variable wake;
    std::mutex wakeMutex;
    std::atomic<uint64_t> missedCount{0};
    std::atomic<uint64_t> receivedCount{0};
    std::atomic<uint64_t> reportedCount{0};
    std::chrono::milliseconds missLogInterval;
    std::chrono::steady_clock::time_point lastMissLog = std::chrono::steady_clock::now();
};

void DataHandler::Impl::RunCustomerThread() {
    while (!stop) {
        {
            std::unique_lock lock(wakeMutex);
            wake.wait_for(lock, kPollInterval, [this] { return stop || HasMessage(); });
        }
        while (!stop) {
            const auto [slot, waiting] = ring.ReadSpan();
            if (waiting == 0) break;
            try {
                auto cloud = std::make_unique<orbel::data::LazyPointCloud>();
                try {
                    cloud->Deserialize(slot->GetPayload(), slot->GetPayloadSize());
                } catch (...) {
                    // A message that cannot be built must not hold its slot forever.
                    ring.AdvanceRead(1);
                    throw;
                }
                ring.AdvanceRead(1);
                pointCloudCallback(std::move(cloud));
                ++reportedCount;
            } catch (const std::exception& e) {
                ORBEL_LOG_ERROR(L"Failed to process point clouds: " +
                                orbel::utilities::ConvertToWStringLossy(e.what()));
            }
        }
    }
}

void DataHandler::Impl::LogMissedPointClouds() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastMissLog <= missLogInterval) return;
    const uint64_t missed = missedCount.exchange(0);
    if (missed != 0) {
        ORBEL_LOG_WARNING(L"In the last 10 seconds " + std::to_wstring(missed) +
                          L" point clouds were discarded because the callback was busy.");
    }
    lastMissLog = now;
}

DataHandler::DataHandler(size_t bufferSize, std::chrono::milliseconds missLogInterval) {
    if (bufferSize < 2)
        throw std::invalid_argument("The point-cloud buffer must hold at least 2 messages, got " +
                                    std::to_string(bufferSize));
    impl_ = std::make_shared<Impl>(bufferSize, missLogInterval);
    auto impl = impl_;
    impl_->customerThread = std::thread([impl] {
        orbel::utilities::MarkSdkThread();
        impl->RunCustomerThread();
    });
}

DataHandler::~DataHandler() {
    impl_->stop = true;
    {
        std::lock_guard lock(impl_->wakeMutex);
        impl_->wake.notify_all();
    }
    // Released on an SDK thread (inside the point-cloud callback, or by the I/O
    // thread): the customer thread ends by itself once its callback returns.
    orbel::utilities::JoinOrRelease(impl_->customerThread);
    ORBEL_LOG_INFO(L"Received " + std::to_wstring(impl_->receivedCount.load()) + L" point clouds in total.");
    ORBEL_LOG_INFO(L"Reported " + std::to_wstring(impl_->reportedCount.load()) + L" point clouds to the customer.");
}

void DataHandler::SetCallback(PointCloudCallback callback) { impl_->pointCloudCallback = std::move(callback); }

bool DataHandler::Handle(VelmorantMessage& message) {
    const uint32_t id = message.GetId();
    if (id != kPointCloud) {
        if (!IsUnhandledData(id)) return false;
        ORBEL_LOG_DEBUG(L"Received unhandled data message: " + std::to_wstring(id));
        return true;
    }
    ++impl_->receivedCount;
    if (!impl_->pointCloudCallback) return true;
    auto& ring = impl_->ring;
    // Without a mirror the free space at the write index is empty only when N - 1 wait.
    const auto [slot, free] = ring.WriteSpan();
    if (free == 0) {
        ++impl_->missedCount;
        impl_->LogMissedPointClouds();
        return true;
    }
    *slot = static_cast<const orbel::communication::IMessage&>(message);
    ring.AdvanceWrite(1);
    std::lock_guard lock(impl_->wakeMutex);
    impl_->wake.notify_all();
    return true;
}

uint64_t DataHandler::ReceivedCount() const { return impl_->receivedCount; }
uint64_t DataHandler::MissedCount() const { return impl_->missedCount; }
uint64_t DataHandler::ReportedCount() const { return impl_->reportedCount; }

}  // namespace orbel::sensor
