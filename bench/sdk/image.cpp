// Camera-image work on the acquisition and recording threads, at the camera's
// 1920 x 1200: demosaicing of BayerRG8, BayerRG12 and BayerRG12Packed to RGB8
// (through the conversion functions, and the bare vendor kernel), and JPEG
// writing of the RGB8 result with SaveImageAsRGB8 at quality 90, with and
// without chroma subsampling. Baselines measured in the same run: a memcpy of
// the RGB8 image, and libjpeg-turbo compressing the same buffer into memory
// (jpeg_mem_dest, same quality and sampling). Every benchmark reports pixels
// (items) and RGB8 bytes per second; the ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "camera/ImageConversion.h"
#include "common/RecordingReporter.h"
#include "camera/vendor/BayerDemosaic.h"
#include "sdk/camera/BayerMosaic.h"
#include "utilities/LibJpegTurboWrapper.h"

namespace {

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1200;
constexpr size_t kPixels = size_t{kWidth} * kHeight;
constexpr size_t kRGBBytes = kPixels * 3;
constexpr int kQuality = 90;

enum class Layout { RG8, RG12, RG12Packed };

// A smooth scene with fine texture and sensor noise, as 12-bit mosaic samples.
const std::vector<uint16_t>& SceneSamples() {
    static const std::vector<uint16_t> samples = [] {
        std::mt19937 random(42);
        std::normal_distribution<double> noise(0.0, 24.0);
        std::vector<uint16_t> s(kPixels);
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const double base[3] = {2048 + 1500 * std::sin(x / 150.0) * std::cos(y / 210.0),
                                        2048 + 1200 * std::cos((x + y) / 97.0),
                                        2048 + 1600 * std::sin(y / 75.0 + x / 400.0)};
                const double texture = 300 * std::sin(x * 0.9) * std::sin(y * 0.7);
                const auto colour = static_cast<int>(orbel::testing::SiteColour(x, y));
                const double v = base[colour] + texture + noise(random);
                s[size_t{y} * kWidth + x] = static_cast<uint16_t>(std::clamp(v, 0.0, 4095.0));
            }
        }
        return s;
    }();
    return samples;
}

const std::vector<uint8_t>& Mosaic(Layout layout) {
    static const std::vector<uint8_t> rg8 = [] {
        std::vector<uint16_t> eight(SceneSamples());
        for (auto& v : eight) v = static_cast<uint16_t>(v >> 4);
        return orbel::testing::PackRG8(eight);
    }();
    static const std::vector<uint8_t> rg12 = orbel::testing::PackRG12(SceneSamples());
    static const std::vector<uint8_t> rg12Packed = orbel::testing::PackRG12Packed(SceneSamples());
    switch (layout) {
        case Layout::RG8: return rg8;
        case Layout::RG12: return rg12;
        default: return rg12Packed;
    }
}

const std::vector<uint8_t>& SceneRGB8() {
    static const std::vector<uint8_t> rgb = [] {
        std::vector<uint8_t> out(kRGBBytes);
        orbel::camera::ConvertBayerRG12ToRGB8(Mosaic(Layout::RG12), out, kWidth, kHeight, false);
        return out;
    }();
    return rgb;
}

void Report(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRGBBytes));
}

void BM_Memcpy(benchmark::State& state) {
    const std::vector<uint8_t>& source = SceneRGB8();
    std::vector<uint8_t> copy(kRGBBytes, 1);
    for (auto _ : state) {
        std::memcpy(copy.data(), source.data(), kRGBBytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

void BM_Convert(benchmark::State& state, Layout layout) {
    const std::vector<uint8_t>& source = Mosaic(layout);
    std::vector<uint8_t> rgb(kRGBBytes, 1);
    for (auto _ : state) {
        if (layout == Layout::RG8) {
            orbel::camera::ConvertBayerRG8ToRGB8(source, rgb, kWidth, kHeight);
        } else {
            orbel::camera::ConvertBayerRG12ToRGB8(source, rgb, kWidth, kHeight, layout == Layout::RG12Packed);
        }
        benchmark::DoNotOptimize(rgb.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

// The demosaic alone, into the caller's buffer: what the factory's own
// allocation and the copy into the destination add is the difference to BM_Convert.
void BM_Kernel(benchmark::State& state, Layout layout) {
    const std::vector<uint8_t>& source = Mosaic(layout);
    std::vector<uint8_t> rgb(kRGBBytes, 1);
    for (auto _ : state) {
        switch (layout) {
            case Layout::RG8: orbel::camera::vendor::DemosaicBayerRG8(source.data(), kWidth, kHeight, rgb.data()); break;
            case Layout::RG12:
                orbel::camera::vendor::DemosaicBayerRG12(source.data(), kWidth, kHeight, rgb.data());
                break;
            default:
                orbel::camera::vendor::DemosaicBayerRG12Packed(source.data(), source.size(), kWidth, kHeight,
                                                               rgb.data());
                break;
        }
        benchmark::DoNotOptimize(rgb.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

void BM_SaveImageAsRGB8(benchmark::State& state, bool subsample) {
    const std::vector<uint8_t>& rgb = SceneRGB8();
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("orbel-bench-image-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    // A new file per image, as the recorder writes them (rewriting one file
    // would measure the file system's truncation instead).
    size_t index = 0;
    std::filesystem::path path;
    for (auto _ : state) {
        path = folder / ("frame_" + std::to_string(index++) + ".jpg");
        orbel::utilities::LibJpegTurboWrapper::SaveImageAsRGB8({kWidth, kHeight, rgb.data()}, path, kQuality,
                                                               subsample);
    }
    state.counters["jpeg_bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove_all(folder);
    Report(state);
}

// libjpeg-turbo on its own: same settings, compressed into memory.
void BM_LibjpegMemDest(benchmark::State& state, bool subsample) {
    const std::vector<uint8_t>& rgb = SceneRGB8();
    std::vector<JSAMPROW> rows(kHeight);
    for (uint32_t y = 0; y < kHeight; ++y) rows[y] = const_cast<JSAMPROW>(rgb.data() + size_t{y} * kWidth * 3);
    unsigned long lastSize = 0;
    for (auto _ : state) {
        jpeg_compress_struct compressor;
        jpeg_error_mgr errors;
        compressor.err = jpeg_std_error(&errors);
        jpeg_create_compress(&compressor);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&compressor, &buffer, &size);
        compressor.image_width = kWidth;
        compressor.image_height = kHeight;
        compressor.input_components = 3;
        compressor.in_color_space = JCS_EXT_RGB;
        jpeg_set_defaults(&compressor);
        jpeg_set_quality(&compressor, kQuality, TRUE);
        compressor.comp_info[0].h_samp_factor = subsample ? 2 : 1;
        compressor.comp_info[0].v_samp_factor = subsample ? 2 : 1;
        jpeg_start_compress(&compressor, TRUE);
        while (compressor.next_scanline < kHeight) {
            jpeg_write_scanlines(&compressor, rows.data() + compressor.next_scanline, kHeight - compressor.next_scanline);
        }
        jpeg_finish_compress(&compressor);
        jpeg_destroy_compress(&compressor);
        lastSize = size;
        std::free(buffer);
    }
    state.counters["jpeg_bytes"] = static_cast<double>(lastSize);
    Report(state);
}

void PrintRatio(const orbel::bench::RecordingReporter& runs, const std::string& name, const std::string& baseline) {
    const orbel::bench::CaseResult* figure = runs.FindPrefix(name);
    const orbel::bench::CaseResult* base = runs.FindPrefix(baseline);
    if (figure == nullptr || base == nullptr) return;
    std::printf("  %-34s / %-30s = %8.2f\n", figure->name.c_str(), base->name.c_str(), figure->realNs / base->realNs);
}

// Each benchmark's time beside its baseline.
void PrintRatios(const orbel::bench::RecordingReporter& runs) {
    std::printf("\nRatios (time / baseline time; below 1 is faster than the baseline):\n");
    const char* layouts[] = {"BayerRG8", "BayerRG12", "BayerRG12Packed"};
    for (const char* layout : layouts) {
        PrintRatio(runs, std::string("BM_Convert/") + layout, "BM_Memcpy");
        PrintRatio(runs, std::string("BM_Kernel/") + layout, "BM_Memcpy");
    }
    for (const char* sampling : {"subsample:0", "subsample:1"}) {
        PrintRatio(runs, std::string("BM_SaveImageAsRGB8/") + sampling, std::string("BM_LibjpegMemDest/") + sampling);
        PrintRatio(runs, std::string("BM_SaveImageAsRGB8/") + sampling, "BM_Memcpy");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SceneRGB8();  // built once, outside every measurement

    auto timed = [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->UseRealTime(); };
    timed(benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy));
    const std::pair<const char*, Layout> layouts[] = {
        {"BayerRG8", Layout::RG8}, {"BayerRG12", Layout::RG12}, {"BayerRG12Packed", Layout::RG12Packed}};
    for (const auto& [name, layout] : layouts) {
        timed(benchmark::RegisterBenchmark((std::string("BM_Convert/") + name).c_str(), BM_Convert, layout));
        timed(benchmark::RegisterBenchmark((std::string("BM_Kernel/") + name).c_str(), BM_Kernel, layout));
    }
    for (bool subsample : {false, true}) {
        const std::string suffix = subsample ? "/subsample:1" : "/subsample:0";
        timed(benchmark::RegisterBenchmark(("BM_LibjpegMemDest" + suffix).c_str(), BM_LibjpegMemDest, subsample));
        timed(benchmark::RegisterBenchmark(("BM_SaveImageAsRGB8" + suffix).c_str(), BM_SaveImageAsRGB8, subsample));
    }

    orbel::bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
