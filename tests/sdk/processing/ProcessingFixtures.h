// Small doubles for the colorizer's tests: a cloud held in plain vectors that
// records what it was given, RGB8 images built pixel by pixel, and a temporary file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "dataTypes/Image.h"

namespace orbel::testing {

struct Point {
    float x = 0;
    float y = 0;
    float z = 0;
};

class TestCloud final : public orbel::sdk::IColorizableData {
public:
    explicit TestCloud(std::vector<Point> points = {}, uint64_t timestamp_us = 0, uint64_t alternate_us = 0)
        : timestamp_us_(timestamp_us), alternate_us_(alternate_us) {
        for (const Point& p : points) {
            x_.push_back(p.x);
            y_.push_back(p.y);
            z_.push_back(p.z);
        }
    }

    size_t GetPointCount() const override { return x_.size(); }
    const std::vector<float>& GetX() override { return x_; }
    const std::vector<float>& GetY() override { return y_; }
    const std::vector<float>& GetZ() override { return z_; }
    uint64_t GetTimestamp() const override { return timestamp_us_; }
    uint64_t GetAlternateTimestamp() const override { return alternate_us_; }
    void SetColors(const std::vector<orbel::sdk::RGB>& colors) override {
        colors_ = colors;
        ++setColorsCalls;
    }

    const std::vector<orbel::sdk::RGB>& Colors() const { return colors_; }
    int setColorsCalls = 0;

private:
    std::vector<float> x_, y_, z_;
    uint64_t timestamp_us_;
    uint64_t alternate_us_;
    std::vector<orbel::sdk::RGB> colors_;
};

// A width x height image of the format whose byte k is byteAt(k); byteCount defaults
// to what RGB8 needs.
inline std::shared_ptr<orbel::data::Image> MakeImage(uint32_t width, uint32_t height, uint64_t deviceTime_us = 0,
                                                     orbel::sdk::PixelFormat format = orbel::sdk::PixelFormat::RGB8,
                                                     std::function<uint8_t(size_t)> byteAt = nullptr,
                                                     size_t byteCount = SIZE_MAX) {
    if (byteCount == SIZE_MAX) byteCount = size_t{3} * width * height;
    std::vector<uint8_t> bytes(byteCount);
    for (size_t k = 0; k < byteCount; ++k) bytes[k] = byteAt ? byteAt(k) : static_cast<uint8_t>(k);
    auto image = std::make_shared<orbel::data::Image>();
    orbel::sdk::ImageMetadata metadata;
    metadata.deviceTimestamp_us = deviceTime_us;
    metadata.hostTimestamp_us = deviceTime_us + 7;
    metadata.frameId = 42;
    metadata.width = width;
    metadata.height = height;
    metadata.format = format;
    image->SetMetadata(metadata);
    image->SetData(bytes.data(), bytes.size());
    return image;
}

// A file in the temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::vector<uint8_t>& bytes) {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("orbel-processing-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".qext");
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() {
        std::error_code error;
        std::filesystem::remove(path_, error);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

}  // namespace orbel::testing
