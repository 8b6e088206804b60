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
    Impl(size_t bufferSize, std::chrono::milliseconds interval, size_t limit)
        : ring(bufferSize, 0), missLogInterval(interval), byteLimit(limit) {
        size_t bytes = 0;
        for (size_t i = 0; i < bufferSize; ++i) bytes += ring.Storage()[i].StorageBytes();
        storedBytes = bytes;
    }

    void RunCustomerThread();
    void LogMissedPointClouds();
    void Miss();
    bool Store(const VelmorantMessage& message, VelmorantMessage& slot);
    bool MakeRoom(size_t needed, const VelmorantMessage& keep);
    void Release(VelmorantMessage& slot);
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
    size_t byteLimit;
    // The storage of all slots; changed only by the I/O thread, which alone resizes slots.
    std::atomic<size_t> storedBytes{0};
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

void DataHandler::Impl::Miss() {
    ++missedCount;
    LogMissedPointClouds();
}

// Gives back the slot's storage and counts it off.
void DataHandler::Impl::Release(VelmorantMessage& slot) {
    const size_t before = slot.StorageBytes();
    slot.ReleaseStorage();
    storedBytes -= before - slot.StorageBytes();
}

// Gives back the storage of free slots (neither waiting nor `keep`) until `needed`
// more bytes fit the limit. Free slots belong to the I/O thread: the customer thread
// has finished with a slot once it advanced the read index past it, and a read index
// taken a moment ago only hides slots freed since.
bool DataHandler::Impl::MakeRoom(size_t needed, const VelmorantMessage& keep) {
    const size_t slots = ring.Capacity();
    VelmorantMessage* storage = ring.Storage();
    const size_t read = ring.ReadIndex();
    for (size_t i = (static_cast<size_t>(&keep - storage) + 1) % slots; i != read; i = (i + 1) % slots) {
        if (storedBytes + needed <= byteLimit) return true;
        Release(storage[i]);
    }
    return storedBytes + needed <= byteLimit;
}

// Copies the message into the slot if the slots' storage stays within the limit.
bool DataHandler::Impl::Store(const VelmorantMessage& message, VelmorantMessage& slot) {
    const size_t size = static_cast<size_t>(message.GetSize());
    size_t needed = 0;
    if (size > slot.StorageBytes()) {
        // Grown from empty storage, the slot takes exactly the message's size.
        Release(slot);
        needed = size - slot.StorageBytes();
    }
    if (needed > 0 && !MakeRoom(needed, slot)) return false;
    const size_t before = slot.StorageBytes();
    slot = static_cast<const orbel::communication::IMessage&>(message);
    storedBytes += slot.StorageBytes() - before;
    return true;
}

DataHandler::DataHandler(size_t bufferSize, std::chrono::milliseconds missLogInterval, size_t byteLimit) {
    if (bufferSize < 2)
        throw std::invalid_argument("The point-cloud buffer must hold at least 2 messages, got " +
                                    std::to_string(bufferSize));
    impl_ = std::make_shared<Impl>(bufferSize, missLogInterval, byteLimit);
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
    if (free == 0 || !impl_->Store(message, *slot)) {
        impl_->Miss();
        return true;
    }
    ring.AdvanceWrite(1);
    std::lock_guard lock(impl_->wakeMutex);
    impl_->wake.notify_all();
    return true;
}

uint64_t DataHandler::ReceivedCount() const { return impl_->receivedCount; }
uint64_t DataHandler::MissedCount() const { return impl_->missedCount; }
uint64_t DataHandler::ReportedCount() const { return impl_->reportedCount; }
uint64_t DataHandler::StoredBytes() const { return impl_->storedBytes; }

}  // namespace orbel::sensor
