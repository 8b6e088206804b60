// orbel::sensor::DataHandler: point-cloud messages (0x1000) go into a ring of N
// reusable message slots on the I/O thread; a customer thread builds each into a
// lazy point cloud, frees the slot and calls the point-cloud callback. When the
// ring is full (N - 1 waiting), or storing the message would make the slots hold
// more than the byte limit (64 MiB), the new message is dropped and counted, and
// the count is logged at most once per 10 s. The I/O thread never waits for the callback.
//
// Memory: the limit bounds the storage the slots keep, not only what waits in them,
// since a reused slot keeps the storage of the largest message it held; free slots
// give theirs back when a new message needs the room.
//
// Threads: Handle on the I/O thread (the ring's only writer); the callback on the
// customer thread (the only reader), never under the ring's mutex. Set the
// callback before the handler is added to the list. The handler may be released
// on any thread, its own customer thread included.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include <orbel/sdk/IPointCloud.h>

#include "sensor/IMessageHandler.h"

namespace orbel::sensor {

class DataHandler : public IMessageHandler {
public:
    using PointCloudCallback = std::function<void(std::unique_ptr<orbel::sdk::IPointCloud>)>;

    static constexpr uint32_t kPointCloud = 0x1000;
    static constexpr size_t kDefaultByteLimit = size_t{64} << 20;

    // Throws std::invalid_argument for fewer than 2 slots (one always stays free).
    // missLogInterval bounds how often dropped messages are reported; byteLimit bounds
    // the bytes the slots hold.
    explicit DataHandler(size_t bufferSize,
                         std::chrono::milliseconds missLogInterval = std::chrono::milliseconds(10'000),
                         size_t byteLimit = kDefaultByteLimit);
    ~DataHandler() override;
    DataHandler(const DataHandler&) = delete;
    DataHandler& operator=(const DataHandler&) = delete;

    void SetCallback(PointCloudCallback callback);
    bool Handle(orbel::communication::VelmorantMessage& message) override;

    uint64_t ReceivedCount() const;
    uint64_t MissedCount() const;
    uint64_t ReportedCount() const;
    // Bytes the slots hold now, waiting messages and kept storage together.
    uint64_t StoredBytes() const;

private:
    class Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace orbel::sensor
