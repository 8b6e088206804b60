// The program's frame assembly as the point-cloud worker drives it: line clouds of any
// frame numbers, line indices, point types and point counts, in any order and any
// number (repeated line indices and more than 56 lines of a frame included), each
// frame published when the next one begins. Checked on every published frame: its
// arrays have the sizes its width and its 56 rows give, it holds at most one row of
// points per line slot, every point has its time stamp and, when coloured, its colour.
//
// Input: a series of runs of lines, each
//   frame u8 (the low two bits pick one of four frame numbers) | first line index u8 |
//   lines u8 (1 + v % 64, with consecutive line indices, wrapping at 256) |
//   type u8 (0x60, 0x66 or 0x6F by v % 3) | points u16 (v % 512) | seed u8;
// the points' values come from the seed. A last line of a new frame publishes the rest.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "app/FrameData.h"
#include "app/ObjectDispatcher.h"
#include "app/PointCloudWorker.h"
#include "common/FuzzCheck.h"
#include "common/FuzzInput.h"
#include "common/FuzzSupport.h"
#include "support/PointCloudPayloadBuilder.h"

namespace {

using orbel::studio::FrameData;
using orbel::studio::LineBatch;
using orbel::testing::PayloadPoint;
using orbel::testing::PointCloudPayloadBuilder;

constexpr uint8_t kTypes[] = {0x60, 0x66, 0x6F};

std::vector<uint8_t> Line(uint32_t frame, uint8_t index, uint8_t type, uint32_t points, uint8_t seed) {
    return PointCloudPayloadBuilder()
        .PointType(type)
        .PointCount(points)
        .FrameNumber(frame)
        .LineIndex(index)
        .Timestamp(1'000'000u + 1000u * frame + index)
        .Points([seed](uint32_t i) {
            orbel::fuzzing::SplitMix random(uint64_t{seed} << 32 | i);
            PayloadPoint p = PointCloudPayloadBuilder::DefaultPoint(i);
            p.reflectivity = static_cast<float>(random.Next() % 1000);
            p.red = static_cast<uint8_t>(random.Next());
            p.ambient = static_cast<uint16_t>(random.Next());
            return p;
        })
        .Build();
}

class FrameChecks : public orbel::studio::IConsumer<FrameData>, public orbel::studio::IConsumer<LineBatch> {
public:
    void Consume(std::shared_ptr<FrameData> frame) override {
        const size_t width = frame->width;
        ORBEL_FUZZ_CHECK(width > 0 && frame->height == FrameData::kLines, "a frame is 56 rows of its width");
        ORBEL_FUZZ_CHECK(frame->xyz.size() % (3 * width) == 0, "whole lines of points");
        const size_t points = frame->xyz.size() / 3;
        ORBEL_FUZZ_CHECK(points <= FrameData::kLines * width, "at most one line per line slot");
        ORBEL_FUZZ_CHECK(frame->timestamps.size() == points, "a time stamp per point");
        ORBEL_FUZZ_CHECK(frame->signal.size() == FrameData::kLines * width, "signal: 56 rows");
        ORBEL_FUZZ_CHECK(frame->ambient.size() == FrameData::kLines * width, "ambient: 56 rows");
        ORBEL_FUZZ_CHECK(frame->rgb.empty() || frame->rgb.size() >= 3 * points, "a colour per point when coloured");
    }
    void Consume(std::shared_ptr<LineBatch> batch) override {
        for (const auto& line : *batch) ORBEL_FUZZ_CHECK(line != nullptr, "a batch holds clouds");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::FuzzInput input(data, size);
    auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    FrameChecks checks;
    dispatcher->Subscribe<FrameData>(&checks);
    dispatcher->Subscribe<LineBatch>(&checks);
    orbel::studio::PointCloudWorker worker(dispatcher);

    auto process = [&](const std::vector<uint8_t>& payload) {
        auto cloud = orbel::sdk::CreatePointCloud();
        cloud->Deserialize(payload);
        worker.Process(*cloud);
    };

    while (input.Remaining() >= 7) {
        const uint32_t frame = 100 + (input.Byte() & 3);
        const uint8_t first = input.Byte();
        const int lines = 1 + input.Byte() % 64;
        const uint8_t type = kTypes[input.Byte() % 3];
        const uint32_t points = input.U16() % 512;
        const uint8_t seed = input.Byte();
        for (int i = 0; i < lines; ++i) {
            process(Line(frame, static_cast<uint8_t>(first + i), type, points, static_cast<uint8_t>(seed + i)));
        }
    }
    process(Line(200, 0, 0x60, 1, 0));

    dispatcher->Unsubscribe<FrameData>(&checks);
    dispatcher->Unsubscribe<LineBatch>(&checks);
    return 0;
}
