// The time-stamp matching colorizer: which image each cloud is coloured from and
// when, which clouds are reported uncoloured, the queues' caps, images arriving out
// of order, a failing algorithm, a matcher naming no queued image, image conversion to
// RGB8 and pushes from two threads.
//
// Scenario clouds hold one point (1, 0, 0), which the default alignment projects to
// pixel (0, 0); each image is 1 x 1 and its red byte is its number in push order
// (from 1), so a reported colour names the image the cloud was coloured from.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <orbel/processing/Colorizer.h>
#include <orbel/sdk/Exception.h>

#include "processing/Colorizer.h"
#include "processing/ColorizerAlgorithm.h"
#include "processing/Matcher.h"
#include "sdk/processing/ProcessingFixtures.h"
#include "support/LogCapture.h"

namespace {

using orbel::processing::ColorizerFactory;
using orbel::processing::ColorizerSettings;
using orbel::processing::IColorizer;
using orbel::sdk::IColorizableData;
using orbel::sdk::PixelFormat;
using orbel::testing::MakeImage;
using orbel::testing::TestCloud;

struct Step {
    enum Kind { Image, Cloud, Flush, SetCallback, Reset, AlternateMode } kind;
    uint64_t time = 0;       // image device time, or cloud time stamp
    uint64_t alternate = 0;  // cloud alternate time stamp
};

Step Img(uint64_t t) { return {Step::Image, t}; }
Step Cld(uint64_t t, uint64_t alternate = 0) { return {Step::Cloud, t, alternate}; }
Step DoFlush() { return {Step::Flush}; }
Step DoSetCallback() { return {Step::SetCallback}; }
Step DoReset() { return {Step::Reset}; }
Step UseAlternate() { return {Step::AlternateMode}; }

// One report: the cloud's time stamp, and the time of the image it was coloured from
// (0 when reported uncoloured).
struct Report {
    uint64_t cloud;
    uint64_t image;
    bool operator==(const Report&) const = default;
};
void PrintTo(const Report& r, std::ostream* os) { *os << "{cloud " << r.cloud << ", image " << r.image << "}"; }
constexpr uint64_t kUncoloured = 0;

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    std::vector<Report> reports;  // in order
    uint64_t bufferSize = 560;
    bool callbackFirst = true;
};
void PrintTo(const Scenario& c, std::ostream* os) { *os << c.name; }

std::vector<Scenario> Scenarios() {
    return {
        // Both images 50,000 away: the later wins the tie; 1,075,000 is not above
        // 1,100,000, so no wait. The earlier image is dropped: a cloud 200,000 before it
        // then finds only the later one, 300,000 away, and is too old.
        {"TieGoesToTheLaterImageAtOnce",
         {Img(1'000'000), Img(1'100'000), Cld(1'050'000), Cld(800'000)},
         {{1'050'000, 1'100'000}, {800'000, kUncoloured}}},
        // In tolerance but 1,035,000 is above the newest image: waits until a later image
        // arrives; the earlier image is strictly nearer and stays for the next cloud.
        {"WaitsForALaterImageThenTakesTheNearest",
         {Img(1'000'000), Cld(1'010'000), Img(1'040'000), Cld(900'000)},
         {{1'010'000, 1'000'000}, {900'000, 1'000'000}}},
        {"TooOldIsReportedUncoloured", {Img(1'200'000), Img(1'300'000), Cld(900'000)}, {{900'000, kUncoloured}}},
        {"GapBetweenImagesIsNoMatch", {Img(1'000'000), Img(2'000'000), Cld(1'500'000)}, {{1'500'000, kUncoloured}}},
        {"NewerThanEveryImageWaitsEvenInFlush",
         {Img(3'000'000), Img(3'900'000), Cld(5'000'000), DoFlush()},
         {}},
        {"FlushDoesNotHoldBackForTheWaitMargin", {Img(1'000'000), Cld(1'010'000), DoFlush()}, {{1'010'000, 1'000'000}}},
        {"NoImageReportsEveryCloudAtOnce", {Cld(1), Cld(2)}, {{1, kUncoloured}, {2, kUncoloured}}},
        {"ToleranceIsInclusive",
         {Img(1'000'000), Img(2'000'000), Cld(1'250'000), Cld(1'250'001)},
         {{1'250'000, 1'000'000}, {1'250'001, kUncoloured}}},
        // Images pushed in the order 1,100,000 / 1,000,000 / 1,200,000 are searched in
        // time order: 1,090,000 is nearest to 1,100,000.
        {"ImagesOutOfOrderAreSearchedInTimeOrder",
         {Img(1'100'000), Img(1'000'000), Img(1'200'000), Cld(1'090'000)},
         {{1'090'000, 1'100'000}}},
        // The cloud queue's cap: a waiting cloud pushed out is reported, not lost.
        {"FullCloudQueueReportsTheOldestUncoloured",
         {Img(1'000'000), Cld(2'000'000), Cld(2'000'001), Cld(2'000'002), Cld(2'000'003), Cld(2'000'004)},
         {{2'000'000, kUncoloured}, {2'000'001, kUncoloured}},
         3},
        // The image queue's cap drops the earliest image, not the first pushed: the
        // cloud at 1,050,000 then finds 1,300,000 (1,000,000 is gone).
        {"FullImageQueueDropsTheEarliestImage",
         {Img(1'300'000), Img(1'000'000), Img(1'600'000), Img(1'900'000), Cld(1'050'000)},
         {{1'050'000, 1'300'000}},
         3},
        {"BufferSizeZeroKeepsNothing", {Img(1'000'000), Cld(1'000'000), Cld(2'000'000)},
         {{1'000'000, kUncoloured}, {2'000'000, kUncoloured}}, 0},
        {"CloudsWaitForTheCallback",
         {Img(1'000'000), Img(1'100'000), Cld(1'000'000), Cld(1'050'000), DoSetCallback(), Img(1'200'000)},
         {{1'000'000, 1'000'000}, {1'050'000, 1'100'000}},
         560,
         false},
        {"ResetDropsQueuedCloudsAndImagesUnreported",
         {Img(1'000'000), Cld(1'010'000), DoReset(), Cld(1'000'000)},
         {{1'000'000, kUncoloured}}},
        {"AlternateModeMatchesOnTheAlternateTimeStamp",
         {UseAlternate(), Img(2'000'000), Img(2'100'000), Cld(1'000'000, 2'000'000)},
         {{1'000'000, 2'000'000}}},
        {"PrimaryModeIgnoresTheAlternateTimeStamp",
         {Img(2'000'000), Img(2'100'000), Cld(1'000'000, 2'000'000)},
         {{1'000'000, kUncoloured}}},
    };
}

class Matching : public ::testing::TestWithParam<Scenario> {};

TEST_P(Matching, ReportsEachCloudWithTheImageItTook) {
    const Scenario& s = GetParam();
    auto colorizer = ColorizerFactory::CreateColorizer({250000, 25000, s.bufferSize});
    std::map<uint8_t, uint64_t> imageTimes;  // red byte -> image time
    std::vector<Report> reports;
    auto callback = [&](std::shared_ptr<IColorizableData> data, bool coloured) {
        auto& cloud = dynamic_cast<TestCloud&>(*data);
        uint64_t image = kUncoloured;
        if (coloured) {
            EXPECT_EQ(cloud.Colors().size(), 1u);
            image = imageTimes.at(cloud.Colors()[0].r);
        } else {
            EXPECT_EQ(cloud.setColorsCalls, 0);
        }
        reports.push_back({cloud.GetTimestamp(), image});
    };
    if (s.callbackFirst) colorizer->SetCallback(callback);

    uint8_t imageNumber = 0;
    for (const Step& step : s.steps) {
        switch (step.kind) {
            case Step::Image: {
                ++imageNumber;
                imageTimes[imageNumber] = step.time;
                colorizer->PushImage(MakeImage(1, 1, step.time, PixelFormat::RGB8,
                                               [imageNumber](size_t k) { return k == 0 ? imageNumber : uint8_t{0}; }));
                break;
            }
            case Step::Cloud:
                colorizer->PushPointCloud(std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}},
                                                                      step.time, step.alternate));
                break;
            case Step::Flush: colorizer->Flush(); break;
            case Step::SetCallback: colorizer->SetCallback(callback); break;
            case Step::Reset: colorizer->Reset(); break;
            case Step::AlternateMode: colorizer->SetMatchingMode(1); break;
        }
    }
    EXPECT_EQ(reports, s.reports);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Matching, ::testing::ValuesIn(Scenarios()),
                         [](const auto& info) { return std::string(info.param.name); });

// Fails on the clouds whose time stamp it was told, colours the rest red.
class FailingAlgorithm final : public orbel::processing::IColorizerAlgorithm {
public:
    explicit FailingAlgorithm(std::set<uint64_t> failOn) : failOn_(std::move(failOn)) {}
    void Initialize(const orbel::processing::AlignmentInformation&) override {}
    void Colorize(IColorizableData& data, const orbel::sdk::IImage&) override {
        if (failOn_.count(data.GetTimestamp())) throw std::runtime_error("projection failed");
        data.SetColors(std::vector<orbel::sdk::RGB>(data.GetPointCount(), {255, 0, 0}));
    }

private:
    std::set<uint64_t> failOn_;
};

TEST(Colorizer, AlgorithmFailureReportsThatCloudUncolouredAndGoesOn) {
    orbel::testing::LogCapture log(orbel::sdk::Severity::DEBUG);
    orbel::processing::Colorizer colorizer(std::make_unique<orbel::processing::Matcher>(250000, 25000),
                                           std::make_unique<FailingAlgorithm>(std::set<uint64_t>{1'000'000}), 560);
    std::vector<std::pair<uint64_t, bool>> reports;
    colorizer.SetCallback([&](std::shared_ptr<IColorizableData> data, bool coloured) {
        reports.emplace_back(data->GetTimestamp(), coloured);
    });
    colorizer.PushImage(MakeImage(1, 1, 1'000'000));
    colorizer.PushImage(MakeImage(1, 1, 1'100'000));
    EXPECT_NO_THROW(colorizer.PushPointCloud(std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}},
                                                                         1'000'000)));
    colorizer.PushPointCloud(std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}}, 1'010'000));

    EXPECT_EQ(reports, (std::vector<std::pair<uint64_t, bool>>{{1'000'000, false}, {1'010'000, true}}));
    EXPECT_EQ(log.Count(L"projection failed"), 1u);
    EXPECT_EQ(log.CountAt(orbel::sdk::Severity::ERROR), 0u);  // the program treats SDK errors as a lost sensor
}

TEST(Colorizer, CallbackExceptionLeavesTheUnmatchedCloudFirstInLine) {
    auto colorizer = ColorizerFactory::CreateColorizer({250000, 25000, 560});
    int calls = 0;
    colorizer->SetCallback([&](std::shared_ptr<IColorizableData>, bool) {
        if (++calls == 1) throw std::runtime_error("consumer failed");
    });
    auto cloud = std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}}, 5);
    EXPECT_THROW(colorizer->PushPointCloud(cloud), std::runtime_error);
    colorizer->Flush();  // the mutex was released and the cloud is reported again
    EXPECT_EQ(calls, 2);
}

// Answers for each cloud, by its time stamp, what it was told, and counts the questions.
class ScriptedMatcher final : public orbel::processing::IMatcher {
public:
    explicit ScriptedMatcher(std::map<uint64_t, orbel::processing::MatchResult> answers)
        : answers_(std::move(answers)) {}
    orbel::processing::MatchResult Match(const IColorizableData& cloud, const orbel::processing::ImageQueue&,
                                         orbel::processing::MatchMode, bool) const override {
        // A cloud left first in line would be asked about for ever: end that loop.
        if (++asked[cloud.GetTimestamp()] > 5) throw std::runtime_error("asked about the same cloud again and again");
        return answers_.at(cloud.GetTimestamp());
    }
    mutable std::map<uint64_t, int> asked;

private:
    std::map<uint64_t, orbel::processing::MatchResult> answers_;
};

// A replacement matcher may name an image past the queue: there is nothing to colour that
// cloud with, so it leaves the queue unreported; the images stay for the clouds after it.
TEST(Colorizer, AMatchedIndexOutsideTheImagesDropsTheCloudUnreported) {
    using orbel::processing::MatchStatus;
    for (const size_t outside : {size_t{2}, size_t{3}, SIZE_MAX}) {
        SCOPED_TRACE("index " + std::to_string(outside));
        auto matcher = std::make_unique<ScriptedMatcher>(std::map<uint64_t, orbel::processing::MatchResult>{
            {10, {MatchStatus::Matched, outside}}, {20, {MatchStatus::Matched, 1}}});
        const ScriptedMatcher& asked = *matcher;
        orbel::processing::Colorizer colorizer(std::move(matcher),
                                               std::make_unique<orbel::processing::ColorizerAlgorithm>(), 560);
        std::vector<std::pair<uint64_t, uint8_t>> reports;  // cloud time, red byte of its image (0: uncoloured)
        colorizer.SetCallback([&](std::shared_ptr<IColorizableData> data, bool coloured) {
            const auto& cloud = dynamic_cast<TestCloud&>(*data);
            reports.emplace_back(cloud.GetTimestamp(), coloured ? cloud.Colors().at(0).r : uint8_t{0});
        });
        for (uint8_t number : {uint8_t{1}, uint8_t{2}}) {
            colorizer.PushImage(MakeImage(1, 1, 1000u * number, PixelFormat::RGB8,
                                          [number](size_t k) { return k == 0 ? number : uint8_t{0}; }));
        }
        auto dropped = std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}}, 10);
        colorizer.PushPointCloud(dropped);
        colorizer.Flush();
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(dropped->setColorsCalls, 0);
        EXPECT_EQ(asked.asked.at(10), 1);  // gone from the queue: never asked about again

        colorizer.PushPointCloud(std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}}, 20));
        EXPECT_EQ(reports, (std::vector<std::pair<uint64_t, uint8_t>>{{20, 2}}));
    }
}

TEST(Colorizer, ConvertsEveryImageToRGB8OrRefusesIt) {
    using orbel::processing::ConvertToRGB8Image;
    auto rgb8 = MakeImage(2, 2, 10);
    EXPECT_EQ(ConvertToRGB8Image(rgb8), rgb8);  // shared, not copied

    // RGB12: each 16-bit sample shifted right by 4 and kept to 8 bits.
    auto rgb12 = MakeImage(1, 1, 77, PixelFormat::RGB12, [](size_t k) -> uint8_t {
        static const uint8_t samples[] = {0xF0, 0x0F, 0x34, 0x12, 0xFF, 0xFF};  // 0x0FF0, 0x1234, 0xFFFF
        return samples[k];
    }, 6);
    auto converted = ConvertToRGB8Image(rgb12);
    EXPECT_EQ(converted->GetPixelFormat(), PixelFormat::RGB8);
    EXPECT_EQ(converted->GetData(), (std::vector<uint8_t>{0xFF, 0x23, 0xFF}));
    EXPECT_EQ(converted->GetMetadata().deviceTimestamp_us, 77u);
    EXPECT_EQ(converted->GetMetadata().hostTimestamp_us, 84u);
    EXPECT_EQ(converted->GetMetadata().frameId, 42u);
    EXPECT_EQ(converted->GetWidth(), 1u);

    // A flat Bayer mosaic demosaics to the same grey everywhere.
    auto bayer = ConvertToRGB8Image(MakeImage(4, 4, 5, PixelFormat::BayerRG8, [](size_t) { return uint8_t{90}; }, 16));
    EXPECT_EQ(bayer->GetData(), std::vector<uint8_t>(48, 90));

    struct Refused {
        std::shared_ptr<orbel::sdk::IImage> image;
        const char* detail;
    };
    const Refused refused[] = {
        {nullptr, "Image is null"},
        {MakeImage(4, 4, 0, PixelFormat::RGB12, nullptr, 0), "Image contains no pixel data"},
        {MakeImage(4, 4, 0, PixelFormat::Unknown, nullptr, 48), "Failed to convert image to RGB8"},
        {MakeImage(4, 4, 0, PixelFormat::BayerRG8, nullptr, 15), "Failed to convert image to RGB8"},
        {MakeImage(4, 4, 0, static_cast<PixelFormat>(9), nullptr, 48), "Failed to convert image to RGB8"},
    };
    for (const Refused& r : refused) {
        try {
            ConvertToRGB8Image(r.image);
            ADD_FAILURE() << r.detail;
        } catch (const orbel::sdk::Exception& e) {
            EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::UNKNOWN_ERROR);
            EXPECT_NE(std::string(e.what()).find(std::string("Extra information: ") + r.detail), std::string::npos)
                << e.what();
        }
    }
}

TEST(Colorizer, RefusedImageIsNotQueued) {
    auto colorizer = ColorizerFactory::CreateColorizer({250000, 25000, 560});
    std::vector<bool> reports;
    colorizer->SetCallback([&](std::shared_ptr<IColorizableData>, bool coloured) { reports.push_back(coloured); });
    EXPECT_THROW(colorizer->PushImage(MakeImage(1, 1, 1'000'000, PixelFormat::Unknown)), orbel::sdk::Exception);
    colorizer->PushImage(nullptr);  // ignored
    colorizer->PushPointCloud(std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}}, 1'000'000));
    EXPECT_EQ(reports, std::vector<bool>{false});  // no image to match
}

// Images on one thread, clouds on another, as the camera's and the sensor's delivery
// threads push them live: every cloud is reported exactly once.
TEST(Colorizer, PushesFromTwoThreadsReportEveryCloudOnce) {
    constexpr uint64_t kCount = 2000;
    constexpr uint64_t kPeriod = 50'000;
    auto colorizer = ColorizerFactory::CreateColorizer({250000, 25000, 560});
    std::mutex mutex;
    std::multiset<uint64_t> reported;
    colorizer->SetCallback([&](std::shared_ptr<IColorizableData> data, bool) {
        std::lock_guard lock(mutex);
        reported.insert(data->GetTimestamp());
    });
    std::thread images([&] {
        for (uint64_t k = 1; k <= kCount; ++k) colorizer->PushImage(MakeImage(2, 2, k * kPeriod));
    });
    std::thread clouds([&] {
        for (uint64_t k = 1; k <= kCount; ++k) {
            colorizer->PushPointCloud(
                std::make_shared<TestCloud>(std::vector<orbel::testing::Point>{{1, 0, 0}}, k * kPeriod + 10'000));
        }
    });
    images.join();
    clouds.join();
    colorizer->PushImage(MakeImage(2, 2, (kCount + 1) * kPeriod));  // lets the last clouds be decided
    colorizer->Flush();

    std::lock_guard lock(mutex);
    EXPECT_EQ(reported.size(), kCount);
    for (uint64_t k = 1; k <= kCount; ++k) EXPECT_EQ(reported.count(k * kPeriod + 10'000), 1u) << k;
}

}  // namespace
