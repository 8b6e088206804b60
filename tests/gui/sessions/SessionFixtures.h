// Small fixtures for the session tests: a scratch folder per test, frames of line payloads
// made with the independent payload builder, QPC files from them, line clouds as the SDK
// makes them, and a consumer that counts what the dispatcher delivers.
#pragma once

#include <linux/capability.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>

#include "app/IConsumer.h"
#include "support/PointCloudPayloadBuilder.h"

namespace orbel::testing {

namespace fs = std::filesystem;

class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "orbel-sessions-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path root_;
};

// For one test, HOME names `home` and the working folder is `working` (both created); the
// process's own come back afterwards. Where a relative output folder must go, and where not.
class HomeAndWorkingFolder {
public:
    HomeAndWorkingFolder(const fs::path& home, const fs::path& working) : working_(fs::current_path()) {
        if (const char* value = getenv("HOME")) home_ = value;
        fs::create_directories(home);
        fs::create_directories(working);
        setenv("HOME", home.c_str(), 1);
        fs::current_path(working);
    }
    ~HomeAndWorkingFolder() {
        fs::current_path(working_);
        if (home_) {
            setenv("HOME", home_->c_str(), 1);
        } else {
            unsetenv("HOME");
        }
    }
    HomeAndWorkingFolder(const HomeAndWorkingFolder&) = delete;
    HomeAndWorkingFolder& operator=(const HomeAndWorkingFolder&) = delete;

private:
    fs::path working_;
    std::optional<std::string> home_;
};

// While alive, this thread, and the threads it starts meanwhile, is held to permission bits
// even when it runs as root: the two capabilities that let root read and search any folder
// leave its effective set, and come back afterwards. So a folder without read permission
// cannot be listed by root either. Does nothing for other users, who are held to them anyway.
class HeldToPermissionBits {
public:
    HeldToPermissionBits() {
        if (geteuid() != 0 || syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
            lowered[capability / 32].effective &= ~(1u << (capability % 32));
        }
        lowered_ = syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~HeldToPermissionBits() {
        if (lowered_) syscall(SYS_capset, &header_, saved_);
    }
    HeldToPermissionBits(const HeldToPermissionBits&) = delete;
    HeldToPermissionBits& operator=(const HeldToPermissionBits&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool lowered_ = false;
};

inline bool Listable(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    return !error;
}

// The payloads of one frame's 56 lines: line i has index i, the frame number, time stamp
// 1000 + i and alternate time stamp 5000 + i.
inline std::vector<std::vector<uint8_t>> FrameLines(uint8_t type, uint32_t points, uint32_t frame = 7,
                                                    size_t lines = 56) {
    std::vector<std::vector<uint8_t>> payloads;
    for (size_t i = 0; i < lines; ++i) {
        payloads.push_back(PointCloudPayloadBuilder()
                               .PointType(type)
                               .PointCount(points)
                               .FrameNumber(frame)
                               .LineIndex(static_cast<uint8_t>(i))
                               .Timestamp(1000 + i)
                               .AlternateTimestamp(5000 + i)
                               .Points([i, points](uint32_t p) {
                                   return PointCloudPayloadBuilder::DefaultPoint(static_cast<uint32_t>(i) * points + p);
                               })
                               .Build());
    }
    return payloads;
}

inline std::vector<uint8_t> Concatenate(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A file of `size` bytes that starts with `head` and takes no disk blocks after it.
inline void WriteSparse(const fs::path& path, const std::vector<uint8_t>& head, uint64_t size) {
    WriteBytes(path, head);
    fs::resize_file(path, size);
}

// The bytes this process has taken in through read calls so far (Linux: "rchar" of
// /proc/self/io), so that a test can tell a file refused unread from one read whole.
inline uint64_t BytesReadByProcess() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline std::unique_ptr<sdk::IPointCloud> Cloud(const std::vector<uint8_t>& payload) {
    auto cloud = sdk::CreatePointCloud();
    cloud->Deserialize(payload);
    return cloud;
}

inline std::vector<std::unique_ptr<sdk::IPointCloud>> Clouds(const std::vector<std::vector<uint8_t>>& payloads) {
    std::vector<std::unique_ptr<sdk::IPointCloud>> clouds;
    for (const auto& payload : payloads) clouds.push_back(Cloud(payload));
    return clouds;
}

// A QPC file of one frame, written byte for byte from the builder's payloads.
inline fs::path WriteQpc(const fs::path& path, uint8_t type, uint32_t points, uint32_t frame = 7) {
    WriteBytes(path, Concatenate(FrameLines(type, points, frame)));
    return path;
}

// An RGB8 image made through the SDK's serialised form: pixel (x, y) is (x, y, frameId).
inline std::shared_ptr<sdk::IImage> RgbImage(uint32_t frameId, uint64_t timestamp_us, uint32_t width = 16,
                                             uint32_t height = 8) {
    std::vector<uint8_t> bytes(64 + 3 * width * height, 0);
    bytes[0] = 1;
    for (size_t k = 0; k < 8; ++k) bytes[1 + k] = static_cast<uint8_t>(timestamp_us >> (8 * k));
    for (size_t k = 0; k < 4; ++k) {
        bytes[17 + k] = static_cast<uint8_t>(frameId >> (8 * k));
        bytes[21 + k] = static_cast<uint8_t>(width >> (8 * k));
        bytes[25 + k] = static_cast<uint8_t>(height >> (8 * k));
    }
    bytes[29] = static_cast<uint8_t>(sdk::PixelFormat::RGB8);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* pixel = bytes.data() + 64 + 3 * (y * width + x);
            pixel[0] = static_cast<uint8_t>(x * 16);
            pixel[1] = static_cast<uint8_t>(y * 16);
            pixel[2] = static_cast<uint8_t>(frameId);
        }
    }
    std::shared_ptr<sdk::IImage> image = sdk::CreateImage();
    image->Deserialize(bytes);
    return image;
}

// Keeps every message the dispatcher delivers.
template <typename T>
class Collector : public studio::IConsumer<T> {
public:
    void Consume(std::shared_ptr<T> message) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(message));
    }
    std::vector<std::shared_ptr<T>> Messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    size_t Count() const {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<T>> messages_;
};

}  // namespace orbel::testing
