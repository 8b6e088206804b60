// A recorded session made by the test for offline colorization: QPC frames whose points
// project (with the default alignment) onto the centres of 16 x 16 blocks of 64 x 48
// JPEG images, each image's blocks of its own colours, and the QEXT file of the default
// alignment. What a point must get is read back from the JPEG as the program decodes it.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <orbel/sdk/IImage.h>

#include "gui/sessions/SessionFixtures.h"
#include "sessions/OfflinePlayer.h"
#include "support/PointCloudPayloadBuilder.h"

namespace orbel::testing {

struct Pixel {
    uint32_t x;
    uint32_t y;
};

class ColorizationSession {
public:
    static constexpr uint32_t kWidth = 64;
    static constexpr uint32_t kHeight = 48;

    explicit ColorizationSession(const fs::path& root)
        : clouds(root / "frames_qpc"), images(root / "frames_rgb"), qext(root / "default.qext"), output(root / "out") {
        fs::create_directories(clouds);
        fs::create_directories(images);
        // Identity rotation, no translation or distortion, unit focal lengths, principal point (0, 0).
        const float values[18] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0};
        std::vector<uint8_t> bytes(72);
        std::memcpy(bytes.data(), values, sizeof values);  // the machine is little-endian, as the file
        WriteBytes(qext, bytes);
    }

    // The block centre that point p of line l projects to.
    static Pixel PixelOf(uint32_t line, uint32_t point) { return {8 + 16 * (point % 4), 8 + 16 * (line % 3)}; }

    static std::string FrameName(uint32_t frame) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%08u.qpc", frame);
        return name;
    }

    // One frame of 56 lines (type 0x60) of `points` points each; line l has time stamp
    // time_us + l and alternate time stamp 7000 + l.
    fs::path AddFrame(uint32_t frame, uint64_t time_us, uint32_t points = 4, const std::string& name = "") {
        std::vector<std::vector<uint8_t>> lines;
        for (uint32_t l = 0; l < 56; ++l) {
            lines.push_back(PointCloudPayloadBuilder()
                                .PointType(0x60)
                                .PointCount(points)
                                .FrameNumber(frame)
                                .LineIndex(static_cast<uint8_t>(l))
                                .Timestamp(time_us == 0 ? 0 : time_us + l)
                                .AlternateTimestamp(7000 + l)
                                .Points([l](uint32_t p) {
                                    const Pixel pixel = PixelOf(l, p);
                                    PayloadPoint point;
                                    point.x = 1000.0f;
                                    point.y = -1000.0f * static_cast<float>(pixel.x);
                                    point.z = -1000.0f * static_cast<float>(pixel.y);
                                    return point;
                                })
                                .Build());
        }
        const fs::path path = clouds / (name.empty() ? FrameName(frame) : name);
        WriteBytes(path, Concatenate(lines));
        return path;
    }

    // A JPEG whose block (bx, by) is (tint, 40 + 50 bx, 40 + 60 by), named as the recorder
    // names camera images.
    fs::path AddImage(uint32_t frameId, uint64_t time_us, uint8_t tint, const std::string& name = "") {
        char defaultName[64];
        std::snprintf(defaultName, sizeof defaultName, "image_%08u_%020llu.jpg", frameId,
                      static_cast<unsigned long long>(time_us));
        const fs::path path = images / (name.empty() ? std::string(defaultName) : name);
        std::vector<uint8_t> bytes(64 + 3 * kWidth * kHeight, 0);
        bytes[0] = 1;
        for (size_t k = 0; k < 4; ++k) {
            bytes[21 + k] = static_cast<uint8_t>(kWidth >> (8 * k));
            bytes[25 + k] = static_cast<uint8_t>(kHeight >> (8 * k));
        }
        bytes[29] = static_cast<uint8_t>(sdk::PixelFormat::RGB8);
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                uint8_t* pixel = bytes.data() + 64 + 3 * (y * kWidth + x);
                pixel[0] = tint;
                pixel[1] = static_cast<uint8_t>(40 + 50 * (x / 16));
                pixel[2] = static_cast<uint8_t>(40 + 60 * (y / 16));
            }
        }
        auto image = sdk::CreateImage();
        image->Deserialize(bytes);
        image->SaveAsJpeg(path, 100, false);
        return path;
    }

    // The colour the program decodes at a pixel of an image file.
    static std::array<uint8_t, 3> DecodedColour(const fs::path& image, Pixel pixel) {
        const auto decoded = studio::LoadCameraImage(image);
        if (!decoded || decoded->channels != 3) return {0, 0, 0};
        const uint8_t* p = decoded->pixels.data() + 3 * (pixel.y * decoded->width + pixel.x);
        return {p[0], p[1], p[2]};
    }

    fs::path clouds;
    fs::path images;
    fs::path qext;
    fs::path output;
};

}  // namespace orbel::testing
