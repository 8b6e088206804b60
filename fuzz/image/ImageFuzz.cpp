// The serialised camera image (a 64-byte header, then the pixels) read back through the
// public image type, serialised again and saved as JPEG. Checked: a refused buffer
// leaves the image as it was; a taken one serialises back to its own fields and pixels;
// SaveAsJpeg writes a whole JPEG file whenever the pixels suffice for size and format,
// and otherwise throws and leaves no file behind.
//
// Input: options u8 (quality 1..100 from the low seven bits, bit 7 chroma subsampling)
//        | the serialised image.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include <orbel/sdk/Exception.h>
#include <orbel/sdk/IImage.h>

#include "common/FuzzCheck.h"
#include "common/FuzzInput.h"
#include "common/FuzzSupport.h"

namespace {

namespace fs = std::filesystem;
using orbel::sdk::IImage;

bool SameImage(const IImage& a, const IImage& b) {
    const auto& m = a.GetMetadata();
    const auto& n = b.GetMetadata();
    return m.deviceTimestamp_us == n.deviceTimestamp_us && m.hostTimestamp_us == n.hostTimestamp_us &&
           m.frameId == n.frameId && m.width == n.width && m.height == n.height && m.format == n.format &&
           a.GetData() == b.GetData();
}

// The fields the 64-byte header carries, at their offsets.
bool SameHeaderFields(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, 30) == 0; }

// Whether the image can be written: pixels present, a known format (or one outside the
// enumeration, written as RGB8) with enough bytes, and both sides within JPEG's 65,500.
bool Saveable(const IImage& image) {
    const auto& m = image.GetMetadata();
    const uint64_t pixels = uint64_t{m.width} * m.height;
    uint64_t needed = 3 * pixels;
    switch (static_cast<int>(m.format)) {
        case 0: return false;
        case 1: needed = pixels; break;
        case 2: needed = 2 * pixels; break;
        case 3: needed = pixels * 3 / 2; break;
        case 5: needed = 6 * pixels; break;
        default: break;
    }
    return pixels != 0 && m.width <= 65500 && m.height <= 65500 && image.GetData().size() >= needed;
}

bool IsWholeJpeg(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return bytes.size() >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[bytes.size() - 2] == 0xFF &&
           bytes.back() == 0xD9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();
    orbel::fuzzing::FuzzInput input(data, size);
    const uint8_t options = input.Byte();
    const int quality = 1 + (options & 0x7F) % 100;
    const bool subsample = (options & 0x80) != 0;
    const auto serialised = input.Rest();

    // An image that already holds something, so that a refusal has something to keep.
    auto image = orbel::sdk::CreateImage();
    std::vector<uint8_t> earlier(64 + 3, 0);
    earlier[0] = 1;
    earlier[21] = 1;  // 1 x 1 pixel
    earlier[25] = 1;
    earlier[29] = 4;  // RGB8
    image->Deserialize(earlier);
    auto reference = orbel::sdk::CreateImage();
    reference->Deserialize(earlier);

    try {
        image->Deserialize(serialised.data(), serialised.size());
    } catch (const orbel::sdk::Exception& e) {
        ORBEL_FUZZ_CHECK(e.GetType() == orbel::sdk::SensorError::IMAGE_ERROR, "a refused buffer is IMAGE_ERROR");
        ORBEL_FUZZ_CHECK(SameImage(*image, *reference), "a refused buffer leaves the image as it was");
        return 0;
    }
    ORBEL_FUZZ_CHECK(serialised.size() >= 64 && serialised[0] == 1, "only a 64-byte header of version 1 is taken");
    ORBEL_FUZZ_CHECK(image->GetData().size() == serialised.size() - 64 &&
                         std::equal(image->GetData().begin(), image->GetData().end(), serialised.begin() + 64),
                     "the pixels are the bytes after the header");

    if (!image->GetData().empty()) {
        const std::vector<uint8_t> again = image->Serialize();
        ORBEL_FUZZ_CHECK(again.size() == serialised.size(), "serialised again: same size");
        ORBEL_FUZZ_CHECK(SameHeaderFields(again.data(), serialised.data()), "serialised again: same header fields");
        ORBEL_FUZZ_CHECK(std::equal(again.begin() + 64, again.end(), serialised.begin() + 64),
                         "serialised again: same pixels");
    }

    const fs::path jpeg = orbel::fuzzing::ProcessTempDir() / "image.jpg";
    std::error_code ignored;
    fs::remove(jpeg, ignored);
    bool saved = false;
    try {
        image->SaveAsJpeg(jpeg, quality, subsample);
        saved = true;
    } catch (const std::exception&) {
        ORBEL_FUZZ_CHECK(!Saveable(*image), "an image with pixels enough for its format is saved");
    }
    if (saved) {
        ORBEL_FUZZ_CHECK(IsWholeJpeg(jpeg), "a saved image is a whole JPEG file");
    } else {
        ORBEL_FUZZ_CHECK(!fs::exists(jpeg), "a failed save leaves no file behind");
    }
    return 0;
}
