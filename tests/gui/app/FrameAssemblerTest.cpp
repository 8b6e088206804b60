// Frame assembly: which frames are published, the order of their arrays, missing
// and misfit lines; and the camera images turned into CameraData.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "app/CameraImageWorker.h"
#include "app/FrameAssembler.h"
#include "app/PointCloudWorker.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/PointCloudPayloadBuilder.h"
#include "support/Threads.h"

namespace {

using orbel::studio::FrameAssembler;
using orbel::studio::FrameData;
using orbel::studio::LineBatch;
using orbel::testing::PayloadPoint;
using orbel::testing::PointCloudPayloadBuilder;

// Line `line` of a frame: point p has x = 1000 * line + p, reflectivity line + p / 100.
std::vector<uint8_t> Line(uint32_t frame, uint8_t line, uint32_t points = 4, uint8_t type = 0x60) {
    return PointCloudPayloadBuilder()
        .PointType(type)
        .PointCount(points)
        .FrameNumber(frame)
        .LineIndex(line)
        .Timestamp(1'000'000 + line)
        .Points([line](uint32_t p) {
            PayloadPoint point = PointCloudPayloadBuilder::DefaultPoint(p);
            point.x = 1000.0f * line + static_cast<float>(p);
            point.reflectivity = line + p / 100.0f;
            point.ambient = static_cast<uint16_t>(line * 10 + p);
            return point;
        })
        .Build();
}

std::unique_ptr<orbel::sdk::IPointCloud> Cloud(uint32_t frame, uint8_t line, uint32_t points = 4) {
    auto cloud = orbel::sdk::CreatePointCloud();
    cloud->Deserialize(Line(frame, line, points));
    return cloud;
}

struct Published : orbel::studio::IConsumer<FrameData>, orbel::studio::IConsumer<LineBatch> {
    std::vector<std::shared_ptr<FrameData>> frames;
    std::vector<size_t> batches;
    void Consume(std::shared_ptr<FrameData> frame) override { frames.push_back(frame); }
    void Consume(std::shared_ptr<LineBatch> batch) override { batches.push_back(batch->size()); }
};

TEST(PointCloudWorker, PublishesAFrameWhenTheNextOneBegins) {
    auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    Published published;
    dispatcher->Subscribe<FrameData>(&published);
    dispatcher->Subscribe<LineBatch>(&published);
    orbel::studio::PointCloudWorker worker(dispatcher);

    for (auto [frame, line] : {std::pair{7u, 0}, {7u, 1}, {8u, 0}, {8u, 1}}) worker.Process(*Cloud(frame, line));

    ASSERT_EQ(published.frames.size(), 1u);
    EXPECT_EQ(published.frames[0]->frameNumber, 7);
    EXPECT_EQ(published.batches, std::vector<size_t>{2});
    dispatcher->Unsubscribe<FrameData>(&published);
    dispatcher->Unsubscribe<LineBatch>(&published);
}

// Frame numbers a stream skips are frames the SDK dropped whole (its buffer was full):
// each gap is named once, in one line; a step back (a wrap, a sensor begun again) is none.
TEST(PointCloudWorker, NamesTheFramesOfWhichNoLineArrived) {
    orbel::testing::ProgramLogCapture log;
    auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    orbel::studio::PointCloudWorker worker(dispatcher);

    for (auto [frame, line] :
         {std::pair{1u, 0}, {1u, 1}, {2u, 0}, {5u, 0}, {5u, 1}, {6u, 0}, {8u, 0}, {3u, 0}, {4u, 0}}) {
        worker.Process(*Cloud(frame, line));
    }

    std::vector<std::string> warnings;
    for (const auto& record : log.Records()) {
        if (record.level == spdlog::level::warn) warnings.push_back(record.text);
    }
    EXPECT_EQ(warnings, (std::vector<std::string>{"Frames 3 to 4 not received: no line of them arrived",
                                                  "Frame 7 not received: no line of it arrived"}));
}

// Which frames a worker publishes, by the (frame, line) order it is given: a first frame
// that it joined after its line 0 is the tail of a frame and is left out; a later frame
// without line 0 is a frame that lost a line and is published.
TEST(PointCloudWorker, LeavesOutTheTailOfAFrameItJoinedLate) {
    const struct {
        const char* what;
        std::vector<std::pair<uint32_t, uint8_t>> lines;
        std::vector<int> published;
        std::vector<size_t> batches;
    } cases[] = {
        {"joined at line 40", {{5, 40}, {5, 41}, {6, 0}, {6, 1}, {7, 0}}, {6}, {2}},
        {"joined at line 1", {{5, 1}, {5, 2}, {6, 0}, {7, 0}}, {6}, {1}},
        {"from line 0", {{5, 0}, {5, 1}, {6, 0}}, {5}, {2}},
        {"first frame out of order", {{3, 2}, {3, 0}, {3, 1}, {4, 0}}, {3}, {3}},
        {"later frame without line 0", {{6, 0}, {7, 1}, {7, 2}, {8, 0}}, {6, 7}, {1, 2}},
        {"joined late, then a frame without line 0", {{6, 9}, {7, 1}, {8, 0}}, {7}, {1}},
    };
    for (const auto& c : cases) {
        auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
        Published published;
        dispatcher->Subscribe<FrameData>(&published);
        dispatcher->Subscribe<LineBatch>(&published);
        {
            orbel::studio::PointCloudWorker worker(dispatcher);
            for (auto [frame, line] : c.lines) worker.Process(*Cloud(frame, line));
        }
        std::vector<int> numbers;
        for (const auto& frame : published.frames) numbers.push_back(frame->frameNumber);
        EXPECT_EQ(numbers, c.published) << c.what;
        EXPECT_EQ(published.batches, c.batches) << c.what;
        dispatcher->Unsubscribe<FrameData>(&published);
        dispatcher->Unsubscribe<LineBatch>(&published);
    }
}

// 57 coloured lines of one frame, one index sent twice: the frame keeps one line per
// index, so nothing is written past its 56 rows (the colour buffer holds 56 x 192 points).
TEST(PointCloudWorker, RepeatedLineIndexKeepsTheFirstLineOnly) {
    orbel::testing::ProgramLogCapture log;
    auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    Published published;
    dispatcher->Subscribe<FrameData>(&published);
    dispatcher->Subscribe<LineBatch>(&published);
    orbel::studio::PointCloudWorker worker(dispatcher);

    auto line = [](uint8_t index, uint64_t timestamp) {
        auto cloud = orbel::sdk::CreatePointCloud();
        cloud->Deserialize(PointCloudPayloadBuilder()
                               .PointType(0x66)
                               .PointCount(192)
                               .FrameNumber(5)
                               .LineIndex(index)
                               .Timestamp(timestamp)
                               .Build());
        return cloud;
    };
    for (uint8_t index = 0; index < 56; ++index) {
        worker.Process(*line(index, 1'000 + index));
        if (index == 30) worker.Process(*line(30, 7));  // the repeat
    }
    worker.Process(*Cloud(6, 0));

    ASSERT_EQ(published.frames.size(), 1u);
    const FrameData& frame = *published.frames[0];
    EXPECT_EQ(frame.xyz.size(), 56u * 192 * 3);
    EXPECT_EQ(frame.rgb.size(), 56u * 192 * 3);
    ASSERT_EQ(frame.timestamps.size(), 56u * 192);
    EXPECT_EQ(frame.timestamps[30 * 192], 1'030u);
    EXPECT_EQ(std::count(frame.timestamps.begin(), frame.timestamps.end(), 7u), 0);
    EXPECT_EQ(published.batches, std::vector<size_t>{56});
    EXPECT_EQ(log.Count("Dropping repeated line 30 of frame 5", spdlog::level::warn), 1u);
    dispatcher->Unsubscribe<FrameData>(&published);
    dispatcher->Unsubscribe<LineBatch>(&published);
}

TEST(FrameAssembler, SortsLinesAndPlacesRowsByIndex) {
    FrameAssembler assembler;
    for (uint8_t line : {3, 1, 2}) assembler.AddLine(5, Line(5, line));
    const FrameData frame = assembler.BuildFrame(5);

    EXPECT_EQ(frame.frameNumber, 5);
    EXPECT_EQ(frame.height, 56u);
    EXPECT_EQ(frame.width, 4u);
    ASSERT_EQ(frame.xyz.size(), 3u * 4 * 3);
    EXPECT_EQ(frame.xyz[0], 1000.0f);       // line 1 first
    EXPECT_EQ(frame.xyz[12], 2000.0f);      // then line 2
    EXPECT_EQ(frame.xyz[24], 3000.0f);      // then line 3
    EXPECT_EQ(frame.timestamps, (std::vector<uint64_t>{1000001, 1000001, 1000001, 1000001, 1000002, 1000002,
                                                        1000002, 1000002, 1000003, 1000003, 1000003, 1000003}));
    ASSERT_EQ(frame.signal.size(), 56u * 4);
    ASSERT_EQ(frame.ambient.size(), 56u * 4);
    for (size_t p = 0; p < 4; ++p) {
        EXPECT_EQ(frame.signal[0 * 4 + p], 0.0f);  // no line 0: a zero row
        EXPECT_FLOAT_EQ(frame.signal[2 * 4 + p], 2 + p / 100.0f);
        EXPECT_EQ(frame.ambient[3 * 4 + p], 30.0f + p);
    }
    EXPECT_TRUE(frame.rgb.empty());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(frame.xyz.data()) % 32, 0u);
}

TEST(FrameAssembler, FiftyFiveLinesLeaveOneZeroRow) {
    FrameAssembler assembler;
    for (uint8_t line = 0; line < 56; ++line) {
        if (line != 20) assembler.AddLine(1, Line(1, line, 192));
    }
    const FrameData frame = assembler.BuildFrame(1);
    EXPECT_EQ(frame.height, 56u);
    EXPECT_EQ(frame.width, 192u);
    EXPECT_EQ(frame.xyz.size(), 55u * 192 * 3);
    size_t zeroRows = 0;
    for (size_t row = 0; row < 56; ++row) {
        bool zero = true;
        for (size_t p = 0; p < 192; ++p) zero = zero && frame.signal[row * 192 + p] == 0.0f && frame.ambient[row * 192 + p] == 0.0f;
        zeroRows += zero;
        if (zero) {
            EXPECT_EQ(row, 20u);
        }
    }
    EXPECT_EQ(zeroRows, 1u);
}

TEST(FrameAssembler, CopiesColoursWhenTheFirstLineHasThem) {
    FrameAssembler assembler;
    assembler.AddLine(2, Line(2, 0, 4, 0x66));
    assembler.AddLine(2, Line(2, 1, 4, 0x66));
    const FrameData frame = assembler.BuildFrame(2);
    ASSERT_EQ(frame.rgb.size(), 32256u);
    const PayloadPoint first = PointCloudPayloadBuilder::DefaultPoint(0);
    const PayloadPoint second = PointCloudPayloadBuilder::DefaultPoint(1);
    EXPECT_EQ(frame.rgb[0], first.red);
    EXPECT_EQ(frame.rgb[3 + 2], second.blue);
    EXPECT_EQ(frame.rgb[12], first.red);  // line 1 follows line 0's four points
}

TEST(FrameAssembler, LinesThatDoNotFitAreDroppedWithALog) {
    orbel::testing::ProgramLogCapture log;
    FrameAssembler assembler;
    assembler.AddLine(3, Line(3, 0, 4));
    assembler.AddLine(3, Line(3, 1, 6));   // another width
    assembler.AddLine(3, Line(3, 56, 4));  // no such row
    assembler.AddLine(3, Line(3, 2, 4));
    const FrameData frame = assembler.BuildFrame(3);
    EXPECT_EQ(frame.xyz.size(), 2u * 4 * 3);
    EXPECT_EQ(frame.signal.size(), 56u * 4);
    EXPECT_EQ(log.Count("Dropping line 1 of frame 3 with 6 points", spdlog::level::warn), 1u);
    EXPECT_EQ(log.Count("Dropping line 56 of frame 3 with 4 points", spdlog::level::warn), 1u);
}

TEST(FrameAssembler, LinesWithoutPointsAreNotKept) {
    orbel::testing::ProgramLogCapture log;
    auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    orbel::studio::PointCloudWorker worker(dispatcher);
    worker.Process(*Cloud(9, 0, 0));
    worker.Process(*Cloud(9, 1, 0));
    worker.Process(*Cloud(10, 0, 4));
    EXPECT_TRUE(log.Contains("Error building frame: No lines available for frame 9 Skipping...", spdlog::level::err));

    FrameAssembler assembler;
    assembler.AddLine(4, Line(4, 0, 0));
    EXPECT_TRUE(assembler.TakeFrame(4).empty());
    EXPECT_THROW(assembler.BuildFrame(4), std::runtime_error);
}

TEST(CameraImageWorker, DescribesEachPixelFormat) {
    using orbel::sdk::PixelFormat;
    struct Case {
        PixelFormat format;
        uint32_t kind, channels, bits;
    };
    const Case cases[] = {{PixelFormat::BayerRG8, 0, 1, 8},      {PixelFormat::BayerRG12, 0, 1, 12},
                          {PixelFormat::BayerRG12Packed, 0, 1, 12}, {PixelFormat::RGB8, 2, 3, 8},
                          {PixelFormat::RGB12, 2, 3, 12},         {PixelFormat::Unknown, 0, 3, 8}};
    for (const auto& c : cases) {
        auto image = orbel::sdk::CreateImage();
        std::vector<uint8_t> serialised(64 + 6, 0);
        serialised[0] = 1;
        serialised[17] = 42;  // frame id
        serialised[21] = 2;   // width
        serialised[25] = 1;   // height
        serialised[29] = static_cast<uint8_t>(c.format);
        image->Deserialize(serialised);
        const auto data = orbel::studio::CameraImageWorker::ToCameraData(*image);
        EXPECT_EQ(data->format, c.kind) << int(c.format);
        EXPECT_EQ(data->channels, c.channels) << int(c.format);
        EXPECT_EQ(data->bitsPerChannel, c.bits) << int(c.format);
        EXPECT_EQ(data->imageFrameNumber, 42u);
        EXPECT_EQ(data->byteSize, 6u);
        EXPECT_EQ(data->width, 2u);
    }
}

// Holds the worker thread inside the first delivery until released, so that the
// images pushed meanwhile pile up against the worker's own cap.
struct HeldCameraData : orbel::studio::IConsumer<orbel::studio::CameraData> {
    std::promise<void> entered;
    std::shared_future<void> release;
    std::mutex mutex;
    std::vector<uint32_t> frameIds;
    void Consume(std::shared_ptr<orbel::studio::CameraData> data) override {
        bool first;
        {
            std::lock_guard lock(mutex);
            first = frameIds.empty();
            frameIds.push_back(data->imageFrameNumber);
        }
        if (first) {
            entered.set_value();
            release.wait();
        }
    }
};

std::shared_ptr<orbel::sdk::IImage> ImageWithId(uint8_t frameId) {
    auto image = orbel::sdk::CreateImage();
    std::vector<uint8_t> serialised(64 + 3, 0);
    serialised[0] = 1;
    serialised[17] = frameId;
    serialised[21] = 1;  // width
    serialised[25] = 1;  // height
    serialised[29] = static_cast<uint8_t>(orbel::sdk::PixelFormat::RGB8);
    image->Deserialize(serialised);
    return image;
}

TEST(CameraImageWorker, ABusyWorkerKeepsTheElevenNewestImages) {
    auto dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
    HeldCameraData held;
    std::promise<void> release;
    held.release = release.get_future().share();
    dispatcher->Subscribe<orbel::studio::CameraData>(&held);
    orbel::studio::CameraImageWorker worker(dispatcher);
    worker.Start();

    worker.Push(ImageWithId(0));
    held.entered.get_future().wait();  // image 0 is being delivered; the queue is empty
    for (uint8_t id = 1; id <= 20; ++id) worker.Push(ImageWithId(id));
    EXPECT_EQ(worker.Waiting(), 11u);
    release.set_value();
    ASSERT_TRUE(orbel::testing::Eventually([&] { return worker.Waiting() == 0; }));
    worker.Stop();  // joins: the image popped last has been delivered

    EXPECT_EQ(held.frameIds, (std::vector<uint32_t>{0, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    dispatcher->Unsubscribe<orbel::studio::CameraData>(&held);
}

TEST(CameraImageWorker, AStoppedWorkerQueuesNothing) {
    orbel::studio::CameraImageWorker worker(std::make_shared<orbel::studio::ObjectDispatcher>());
    for (int i = 0; i < 12; ++i) worker.Push(std::shared_ptr<orbel::sdk::IImage>(orbel::sdk::CreateImage()));
    EXPECT_EQ(worker.Waiting(), 0u);
}

}  // namespace
