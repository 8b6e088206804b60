// The SDK's colorizer interfaces over the program's own recorded data, for offline
// colorization: an image over a decoded camera image (ImageAdapter), a colourable
// cloud over a whole FrameData (FrameDataColorizable, PLY frames) and over the 56
// line clouds of a QPC frame (QpcFrameColorizable, which keeps every line's own
// metadata for writing back).
//
// Contract: plain objects, one thread at a time; the owner keeps what they refer to
// alive. Failures are std::runtime_error (and std::logic_error for the image
// operations that have no meaning here).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>

#include "app/FrameData.h"

namespace orbel::studio {

// The image as three 8-bit channels: grey (one or two channels) repeated in red, green
// and blue, a fourth channel (alpha) dropped; three-channel images are returned as they
// are. Null for any other layout or pixels shorter than the size says.
std::shared_ptr<CameraData> ToThreeChannels(std::shared_ptr<CameraData> image);

class ImageAdapter final : public orbel::sdk::IImage {
public:
    // Device time stamp and frame id from the image; RGB8 for three-channel RGB data
    // (format 2), Unknown otherwise.
    explicit ImageAdapter(std::shared_ptr<CameraData> image);

    uint32_t GetWidth() const override { return metadata_.width; }
    uint32_t GetHeight() const override { return metadata_.height; }
    orbel::sdk::PixelFormat GetPixelFormat() const override { return metadata_.format; }
    const std::vector<uint8_t>& GetData() const override { return image_->pixels; }
    const orbel::sdk::ImageMetadata& GetMetadata() const override { return metadata_; }
    std::vector<uint8_t> Serialize() const override;
    void Deserialize(const uint8_t* data, size_t size) override;
    void Deserialize(const std::vector<uint8_t>& bytes) override;
    void SaveAsJpeg(const std::filesystem::path& path, int quality, bool subsample) const override;

private:
    std::shared_ptr<CameraData> image_;
    orbel::sdk::ImageMetadata metadata_;
};

class FrameDataColorizable final : public orbel::sdk::IColorizableData {
public:
    // The frame must outlive the adapter.
    explicit FrameDataColorizable(FrameData& frame) : frame_(&frame) {}

    size_t GetPointCount() const override { return frame_->xyz.size() / 3; }
    const std::vector<float>& GetX() override;
    const std::vector<float>& GetY() override;
    const std::vector<float>& GetZ() override;
    // The frame's first per-point time stamp; 0 when it has none.
    uint64_t GetTimestamp() const override;
    uint64_t GetAlternateTimestamp() const override { return GetTimestamp(); }
    // Writes the colours into the frame's rgb, three bytes a point.
    void SetColors(const std::vector<orbel::sdk::RGB>& colors) override;

    FrameData& Frame() { return *frame_; }

private:
    void _Split();

    FrameData* frame_;
    bool split_ = false;
    std::vector<float> x_, y_, z_;
};

class QpcFrameColorizable final : public orbel::sdk::IColorizableData {
public:
    // The frame of a QPC file: its 56 lines checked and loaded. Throws std::runtime_error
    // with the reason when the file cannot be read or holds no valid frame.
    static std::unique_ptr<QpcFrameColorizable> Read(const std::filesystem::path& path);

    explicit QpcFrameColorizable(std::vector<std::unique_ptr<orbel::sdk::IPointCloud>> lines);

    size_t GetPointCount() const override { return pointCount_; }
    const std::vector<float>& GetX() override;
    const std::vector<float>& GetY() override;
    const std::vector<float>& GetZ() override;
    // The first line's time stamps, as the frame's merged cloud carries them.
    uint64_t GetTimestamp() const override;
    uint64_t GetAlternateTimestamp() const override;
    // Hands each line its own points' colours.
    void SetColors(const std::vector<orbel::sdk::RGB>& colors) override;

    uint32_t FrameNumber() const;
    std::vector<std::unique_ptr<orbel::sdk::IPointCloud>>& Lines() { return lines_; }

private:
    void _Join();

    std::vector<std::unique_ptr<orbel::sdk::IPointCloud>> lines_;
    size_t pointCount_ = 0;
    bool joined_ = false;
    std::vector<float> x_, y_, z_;
};

}  // namespace orbel::studio
