// Writes the seed corpora of the fuzz targets: a few small, valid (and a few nearly
// valid) inputs per target, in each target's input layout, so that fuzzing starts deep
// inside the code rather than at its first length check. Deterministic: running it again
// rewrites the same files.
//
//   orbel_fuzz_seeds <repository>/fuzz
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "proto/viewer_config.pb.h"
#include "support/PointCloudPayloadBuilder.h"
#include "support/RawFrame.h"

namespace {

namespace fs = std::filesystem;
using orbel::testing::PointCloudPayloadBuilder;
using orbel::testing::RawFrame;
using Bytes = std::vector<uint8_t>;

fs::path gRoot;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path folder = gRoot / target / "corpus";
    fs::create_directories(folder);
    std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

void Put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v));
    Put16(b, static_cast<uint16_t>(v >> 16));
}

Bytes Garbage(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 73 + seed * 31 + 11) ^ 0x5C);
    return b;
}

Bytes Cloud(uint8_t type, uint32_t points, uint32_t frame = 7, uint8_t line = 0) {
    return PointCloudPayloadBuilder().PointType(type).PointCount(points).FrameNumber(frame).LineIndex(line).Build();
}

// A status response payload: state byte, serial number (4 bytes), error byte.
Bytes StatusPayload(uint8_t state, uint8_t error) { return {0, state, 0x21, 0x43, 0x65, 0x07, error}; }

// A header alone, with any size field and a correct header checksum.
Bytes Header(uint32_t id, uint32_t counter, uint32_t payloadSize) {
    Bytes header = RawFrame(id, counter, {});
    header.resize(23);
    for (int k = 0; k < 4; ++k) header[18 + k] = static_cast<uint8_t>(payloadSize >> (8 * k));
    header[22] = orbel::testing::SumBytes(header.data(), 22);
    return header;
}

// A header whose size field points past the candidates that follow, with a frame
// checksum that fails: many such back to back make a receiver re-check the same bytes.
Bytes FalseHeaders(size_t count) {
    Bytes all;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t remaining = static_cast<uint32_t>((count - i) * 23 + 9 - 32);
        const Bytes header = Header(0x1000, static_cast<uint32_t>(i), remaining);
        all.insert(all.end(), header.begin(), header.end());
    }
    all.push_back(0x00);  // a frame checksum that fails for every candidate
    all.insert(all.end(), 8, 0x03);
    return all;
}

// One 0x02 followed by a valid frame whose counter is chosen so that the candidate one
// byte earlier (its start sequence is the 0x02 and the frame's first seven bytes) has a
// valid header checksum too. That candidate is rejected later, by the frame check (its
// size field is the frame's id byte 3 and size bytes 0..2) or by the size limit; the
// frame itself then begins one byte after a rejected candidate.
Bytes ShiftedCandidate(uint8_t idHigh, size_t payloadSize) {
    for (uint32_t counter = 0; counter < 256; ++counter) {
        const Bytes frame = RawFrame(uint32_t{idHigh} << 24 | 0x1000, counter, Garbage(payloadSize, 9));
        Bytes shifted{0x02};
        shifted.insert(shifted.end(), frame.begin(), frame.end());
        if (shifted[22] == orbel::testing::SumBytes(shifted.data(), 22)) return shifted;
    }
    return {};
}

void StreamSeeds(const std::string& target, bool parser) {
    const Bytes frames = Cat({RawFrame(0x3000, 1, {0}), RawFrame(0x1000, 2, Cloud(0x60, 3)),
                              RawFrame(0x5008, 3, {0, 1}), RawFrame(0x7000, 4, StatusPayload(0x01, 0))});
    const Bytes mixed = Cat({Garbage(40, 1), RawFrame(0x1000, 5, Cloud(0x66, 2)), Garbage(7, 2),
                             RawFrame(0x2809, 6, {}), Bytes{0x02, 0x02, 0x07}, RawFrame(0x5001, 7, {0}),
                             Garbage(3, 3)});
    Bytes badChecksums = RawFrame(0x3000, 8, {1, 2, 3});
    badChecksums[22] ^= 1;  // header checksum
    Bytes badFrame = RawFrame(0x3000, 9, {1, 2, 3});
    badFrame[26] ^= 1;  // frame checksum
    Bytes badEnd = RawFrame(0x3000, 10, {4});
    badEnd.back() = 0x04;
    const Bytes rejected = Cat({badChecksums, badFrame, badEnd, RawFrame(0x3001, 11, {0})});
    const Bytes tooLarge = Cat({Header(0x1000, 12, 5000), RawFrame(0x5002, 13, {0}),
                                RawFrame(0x1000, 14, Cloud(0x60, 4))});

    // Header: parser flags u8 | capacity u16 | start u16 | reads u32 | throw at u8;
    //         emulator reads u32 | limit u16.
    auto seed = [&](const std::string& name, uint8_t flags, uint16_t capacity, uint16_t start, uint32_t reads,
                    uint8_t throwAt, const Bytes& stream) {
        Bytes b;
        if (parser) {
            b.push_back(flags);
            Put16(b, capacity);
            Put16(b, start);
            Put32(b, reads);
            b.push_back(throwAt);
        } else {
            Put32(b, reads);
            Put16(b, capacity == 0xFFFF ? 0xFFFF : static_cast<uint16_t>(capacity + 40 - 1 - 32));
        }
        b.insert(b.end(), stream.begin(), stream.end());
        Write(target, name, b);
    };
    seed("frames-whole", 0, 0xFFFF, 0, 0, 0, frames);
    seed("frames-bytewise", 8, 0xFFFF, 0, 1, 0, frames);
    seed("mixed-random-reads", 9, 0xFFFF, 1000, 0x00A1B20B, 0, mixed);
    seed("rejected-candidates", 8, 0xFFFF, 0, 0x00C0FF07, 0, rejected);
    seed("too-large-small-ring", 1, 400, 350, 0x0012340A, 0, tooLarge);
    // Rejected by the frame check (a 48-byte candidate), then by the size limit.
    const Bytes shifted = Cat({ShiftedCandidate(0x10, 0), Garbage(16, 4), ShiftedCandidate(0x00, 300)});
    seed("shifted-candidates", 8, 0xFFF0, 0, 0x00000D0C, 0, shifted);
    seed("false-headers", 8, 0xFFFF, 0, 0x00000009, 0, Cat({FalseHeaders(40), RawFrame(0x3000, 15, {0})}));
    if (parser) {
        seed("throw-then-again", 2, 0xFFFF, 0, 0x00000105, 1, frames);
        seed("throw-then-clear", 6, 0xFFFF, 0, 0x00000306, 0, Cat({frames, mixed}));
    }
}

void MessageSeeds() {
    Write("message", "empty-payload", RawFrame(0x3000, 1, {}));
    Write("message", "one-byte", RawFrame(0x4000, 2, {0}));
    Write("message", "point-cloud", RawFrame(0x1000, 3, Cloud(0x6F, 2)));
    Bytes bad = RawFrame(0x3000, 4, {9, 9});
    bad[22] ^= 0x10;
    bad[25] = static_cast<uint8_t>(bad[25] - 0x10);  // the frame sum still holds
    Write("message", "header-checksum-only", bad);
}

void PointCloudSeeds() {
    Write("point_cloud", "basic-4", Cloud(0x60, 4));
    Write("point_cloud", "color-3", Cloud(0x66, 3));
    Write("point_cloud", "full-2", Cloud(0x6F, 2));
    Write("point_cloud", "no-points", Cloud(0x60, 0));
    Write("point_cloud", "trailing",
          PointCloudPayloadBuilder().PointType(0x66).PointCount(2).TrailingBytes(9).Build());
}

Bytes SerialisedImage(uint32_t width, uint32_t height, uint8_t format, size_t pixelBytes) {
    Bytes b(64, 0);
    b[0] = 1;
    for (int k = 0; k < 4; ++k) {
        b[17 + k] = static_cast<uint8_t>(42u >> (8 * k));
        b[21 + k] = static_cast<uint8_t>(width >> (8 * k));
        b[25 + k] = static_cast<uint8_t>(height >> (8 * k));
    }
    b[1] = 0x10;  // device time stamp
    b[9] = 0x20;  // host time stamp
    b[29] = format;
    const Bytes pixels = Garbage(pixelBytes, format);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

void ImageSeeds() {
    auto seed = [](const std::string& name, uint8_t options, const Bytes& image) {
        Write("image", name, Cat({Bytes{options}, image}));
    };
    seed("rgb8-2x2", 90, SerialisedImage(2, 2, 4, 12));
    seed("bayer8-4x4", 0x80 | 75, SerialisedImage(4, 4, 1, 16));
    seed("bayer12-3x3", 50, SerialisedImage(3, 3, 2, 18));
    seed("bayer12packed-4x2", 0x80 | 95, SerialisedImage(4, 2, 3, 12));
    seed("rgb12-2x1", 85, SerialisedImage(2, 1, 5, 12));
    seed("other-format-2x2", 60, SerialisedImage(2, 2, 9, 12));
    seed("too-few-pixels", 60, SerialisedImage(8, 8, 4, 20));
}

void DemosaicSeeds() {
    auto seed = [](const std::string& name, uint8_t layout, uint16_t widthValue, size_t bytes) {
        Bytes b{layout};
        Put16(b, widthValue);
        const Bytes mosaic = Garbage(bytes, static_cast<uint8_t>(layout + widthValue));
        b.insert(b.end(), mosaic.begin(), mosaic.end());
        Write("demosaic", name, b);
    };
    seed("rg8-8x8", 0, 7, 64);
    seed("rg8-33x5", 0, 32, 33 * 5);
    seed("rg12-17x3", 1, 16, 17 * 3 * 2);
    seed("rg12-40x4", 1, 39, 40 * 4 * 2);
    seed("packed-20x4", 2, 19, 20 * 4 * 3 / 2);
    seed("packed-41x3", 2, 40, 41 * 3 * 3 / 2);
    seed("thin-1x9", 0, 0, 9);
    seed("thin-12x1", 1, 11, 24);
}

void SettingsSeeds() {
    using orbel::studio::gui::ViewerConfigProto;
    ViewerConfigProto full;
    full.set_show_grid(true);
    full.set_point_size(3);
    full.set_show_2d_view(true);
    full.set_view2d_scalar_type(orbel::studio::gui::SCALAR_TYPE_AMBIENT);
    full.set_background_color_r(0.2f);
    full.set_point_color_a(0.5f);
    full.set_view3d_colormap(orbel::studio::gui::COLORMAP_VIRIDIS);
    full.set_view2d_colormap(orbel::studio::gui::COLORMAP_GRAYSCALE);
    full.set_show_camera(true);
    full.set_camera_above(true);
    full.set_camera_split_ratio(1.0f);
    full.set_lidar_2d_view_scale_factor(2.5f);
    full.set_cloud_transform_mode(2);
    full.set_cloud_yaw_degrees(15.0f);
    full.set_sensor_ip("127.0.0.1");
    full.set_sensor_port(4000);
    full.set_camera_ip("127.0.0.2");
    full.set_enable_camera(true);
    full.set_enable_colorizer(true);
    full.set_qext_path("/home/operator/calibration.qext");
    const std::string fullBytes = full.SerializeAsString();
    Write("settings", "full", Bytes(fullBytes.begin(), fullBytes.end()));

    ViewerConfigProto unusable;
    unusable.set_point_size(-1);
    unusable.set_camera_split_ratio(2.0f);
    unusable.set_lidar_2d_view_scale_factor(-0.0f);
    unusable.set_sensor_port(70000);
    unusable.set_view3d_colormap(static_cast<orbel::studio::gui::ColormapType>(42));
    unusable.set_view2d_scalar_type(orbel::studio::gui::SCALAR_TYPE_DEPTH);
    const std::string unusableBytes = unusable.SerializeAsString();
    Write("settings", "unusable-values", Bytes(unusableBytes.begin(), unusableBytes.end()));
    Write("settings", "empty", {});
}

void HandlerSeeds() {
    auto session = [](const std::string& name, uint8_t slots, const Bytes& status, const Bytes& start,
                      const Bytes& stop, const Bytes& stream) {
        Bytes b{slots};
        Put32(b, 0x0000A50C);
        Put16(b, static_cast<uint16_t>(status.size()));
        Put16(b, static_cast<uint16_t>(start.size()));
        Put16(b, static_cast<uint16_t>(stop.size()));
        Write("handlers", name, Cat({b, status, start, stop, stream}));
    };
    const Bytes status = RawFrame(0x7000, 1, StatusPayload(0x01, 0));
    const Bytes started = RawFrame(0x5001, 2, {0});
    const Bytes stopped = RawFrame(0x5002, 3, {0});
    Bytes lines;
    for (uint8_t line = 0; line < 4; ++line) {
        const Bytes frame = RawFrame(0x1000, 10u + line, Cloud(line % 2 ? 0x66 : 0x60, 3, 1, line));
        lines.insert(lines.end(), frame.begin(), frame.end());
    }
    const Bytes events = Cat({RawFrame(0x5008, 20, {0, 1}), RawFrame(0x500E, 21, {0}), RawFrame(0x3006, 22, {}),
                              RawFrame(0x2809, 23, {0}), RawFrame(0x4806, 24, {0}), RawFrame(0x1001, 25, {0}),
                              RawFrame(0x1000, 26, {1, 2, 3}), RawFrame(0x3001, 27, {0})});
    session("session", 240, status, started, stopped, Cat({lines, events, lines}));
    session("small-ring", 0, status, started, stopped, Cat({lines, lines, lines}));
    session("refused-commands", 5, RawFrame(0x7000, 4, {0, 1}), RawFrame(0x4803, 5, {0}), RawFrame(0x280B, 6, {0}),
            events);
    session("error-status", 240, RawFrame(0x7000, 7, StatusPayload(0xD2, 0x1F)), Bytes{}, Bytes{}, lines);
}

void TextSeeds() {
    auto seed = [](const std::string& name, uint8_t mode, const std::string& text) {
        Bytes b{mode};
        b.insert(b.end(), text.begin(), text.end());
        Write("text", name, b);
    };
    seed("ascii", 0, "Sensor moved to new state: RUNNING");
    seed("utf8", 0, "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9D\x84\x9E");
    seed("utf7", 1, "Hi Mom -+Jjo--! +AGEAYgBj- 1 +- 1 = 2");
    seed("invalid-utf8", 0, "ok\x80!\xFF\xC3");
    seed("wide-values", 1, std::string("\x41\x00\x00\x00\x00\xD8\x00\x00\x00\x00\x11\x00\xAC\x20\x00\x00", 16));
}

void FrameAssemblerSeeds() {
    // A run of `lines` lines with consecutive indices from `first`.
    auto run = [](Bytes& b, uint8_t frame, uint8_t first, uint8_t lines, uint8_t type, uint16_t points,
                  uint8_t seed) {
        b.insert(b.end(), {frame, first, static_cast<uint8_t>(lines - 1), type});
        Put16(b, points);
        b.push_back(seed);
    };
    Bytes two;
    run(two, 0, 0, 4, 0, 6, 1);
    run(two, 1, 2, 2, 1, 6, 2);
    run(two, 1, 0, 2, 1, 6, 3);
    Write("frame_assembler", "two-frames", two);

    Bytes misfits;
    run(misfits, 0, 0, 1, 2, 5, 1);
    run(misfits, 0, 60, 1, 2, 5, 2);  // an index past the 56 rows
    run(misfits, 0, 1, 1, 2, 7, 3);   // another width
    run(misfits, 0, 1, 1, 0, 5, 4);   // the same index again
    run(misfits, 0, 2, 1, 0, 0, 5);   // no points
    run(misfits, 1, 0, 1, 0, 5, 6);
    Write("frame_assembler", "misfit-lines", misfits);

    Bytes full;
    run(full, 2, 0, 56, 1, 192, 7);
    Write("frame_assembler", "full-frame", full);
}

// A QPC file: 56 lines of one type and point count, in line-index order.
Bytes QpcFile(uint8_t type, uint32_t points) {
    Bytes file;
    for (uint8_t line = 0; line < 56; ++line) {
        const Bytes payload = PointCloudPayloadBuilder()
                                  .PointType(type)
                                  .PointCount(points)
                                  .FrameNumber(7)
                                  .LineIndex(line)
                                  .Timestamp(1000u + line)
                                  .AlternateTimestamp(5000u + line)
                                  .Build();
        file.insert(file.end(), payload.begin(), payload.end());
    }
    return file;
}

void QpcFileSeeds() {
    Write("qpc_file", "plain-1pt", QpcFile(0x60, 1));
    Write("qpc_file", "coloured-2pt", QpcFile(0x66, 2));
    Write("qpc_file", "extended-1pt", QpcFile(0x6F, 1));
    Write("qpc_file", "plain-0pt-tail", Cat({QpcFile(0x60, 0), Bytes{1, 2, 3}}));
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

void PutFloat(Bytes& b, float v) { Put32(b, std::bit_cast<uint32_t>(v)); }

void PutDouble(Bytes& b, double v, bool bigEndian = false) {
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    for (int k = 0; k < 8; ++k) b.push_back(static_cast<uint8_t>(bits >> (8 * (bigEndian ? 7 - k : k))));
}

void PlyFileSeeds() {
    // As the program writes them: every column.
    Bytes ours = Text(
        "ply\nformat binary_little_endian 1.0\ncomment frameNumber 7\ncomment originalFilename frame_00000007.qpc\n"
        "element vertex 3\nproperty float x\nproperty float y\nproperty float z\nproperty float signal\n"
        "property float ambient\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
        "property double timestamp\nend_header\n");
    for (int i = 0; i < 3; ++i) {
        for (float v : {float(i), float(i + 1), float(i + 2), 0.5f * i, 100.0f + i}) PutFloat(ours, v);
        ours.insert(ours.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)});
        PutDouble(ours, 1.7e15 + i);
    }
    Write("ply_file", "ours-binary", ours);

    // ascii with CRLF, a face list before the vertices, other names and integer columns.
    Write("ply_file", "ascii-face-first",
          Text("ply\r\nformat ascii 1.0\r\nelement face 1\r\nproperty list uchar int vertex_indices\r\n"
               "element vertex 2\r\nproperty float x\r\nproperty float y\r\nproperty float z\r\n"
               "property int label\r\nproperty float intensity\r\nproperty uchar r\r\nproperty uchar g\r\n"
               "property uchar b\r\nproperty short flag\r\nend_header\r\n3 0 1 2\r\n"
               "1.5 -2 3e2 -7 0.5 10 20 30 -1\r\n+4 5 6 2147483647 1 255 0 1 32767\r\n"));

    // big-endian doubles and a camera element after the vertices.
    Bytes big = Text(
        "ply\nformat binary_big_endian 1.0\nelement vertex 2\nproperty double x\nproperty double y\n"
        "property double z\nproperty ushort extra\nelement camera 1\nproperty float view_px\nend_header\n");
    for (double v : {1.0, 2.0, 3.0}) PutDouble(big, v, true);
    big.insert(big.end(), {0, 9});
    for (double v : {-1.0, 1e300, 0.25}) PutDouble(big, v, true);
    big.insert(big.end(), {0, 9, 0x3F, 0x80, 0, 0});
    Write("ply_file", "big-endian-camera-after", big);

    // As PCL's converter writes them: colour bytes, intensity, an empty face and a camera element.
    Bytes pcl = Text(
        "ply\nformat binary_little_endian 1.0\ncomment PCL generated\nelement vertex 2\nproperty float x\n"
        "property float y\nproperty float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
        "property float intensity\nelement face 0\nproperty list uchar int vertex_indices\nelement camera 1\n"
        "property float view_px\nproperty int viewportx\nend_header\n");
    for (int i = 0; i < 2; ++i) {
        for (float v : {0.0f, 1.0f, 2.0f}) PutFloat(pcl, v);
        pcl.insert(pcl.end(), {10, 20, 30});
        PutFloat(pcl, 0.5f);
    }
    PutFloat(pcl, 0.0f);
    Put32(pcl, 640);
    Write("ply_file", "pcl-like", pcl);
}

void QextSeeds() {
    auto qext = [](std::initializer_list<float> values) {
        Bytes b;
        for (float v : values) PutFloat(b, v);
        return b;
    };
    // R identity, T (100, 0, -50), k1 -0.1, k2 0.01, fx 1000, fy 1000, cx 960, cy 600.
    const Bytes camera = qext({1, 0, 0, 0, 1, 0, 0, 0, 1, 100, 0, -50, -0.1f, 0.01f, 1000, 1000, 960, 600});
    Write("qext", "camera", camera);
    // A unit pinhole on a 7 x 5 image, then points (x, y, z) in front, behind and aside.
    Write("qext", "unit-with-points",
          Cat({qext({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 3, 2}),
               qext({1, -1, -1, -1, 1, 1, 1, 0.5f, -0.5f, 2, -3, -2})}));
    // Strong negative distortion: the lens model folds back inside the image.
    Write("qext", "folding-lens", qext({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, -1, 0, 1, 1, 2, 2}));
    Write("qext", "short", Bytes(camera.begin(), camera.begin() + 50));
    Bytes zeroFocal = camera;
    std::fill(zeroFocal.begin() + 56, zeroFocal.begin() + 60, 0);
    Write("qext", "zero-focal-length", zeroFocal);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <repository>/fuzz\n", argv[0]);
        return 2;
    }
    gRoot = argv[1];
    StreamSeeds("stream_parser", true);
    StreamSeeds("emulator_decoder", false);
    MessageSeeds();
    PointCloudSeeds();
    ImageSeeds();
    DemosaicSeeds();
    SettingsSeeds();
    HandlerSeeds();
    TextSeeds();
    FrameAssemblerSeeds();
    QpcFileSeeds();
    PlyFileSeeds();
    QextSeeds();
    return 0;
}
