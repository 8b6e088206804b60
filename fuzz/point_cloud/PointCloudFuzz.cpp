// A point-cloud message payload from the network through the public cloud: Deserialize,
// then every accessor. Checked: a refused payload leaves the cloud as it was; every
// array has one value per point and holds the payload's bytes for its field; colours are
// taken, kept and serialised; Serialize gives bytes that a fresh cloud reads back to the
// same arrays; and a cloud re-read from a slice of its own bytes stays intact.
//
// Input: the payload itself (seeds are valid payloads of each point type).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

#include "common/FuzzCheck.h"
#include "common/FuzzSupport.h"

namespace {

using orbel::sdk::IPointCloud;
using orbel::sdk::RGB;

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// The payload's own bytes for one field: `width` bytes a point, from offset 265 + k x N.
template <typename T>
bool HoldsField(const std::vector<T>& values, const uint8_t* payload, size_t count, size_t multiple) {
    return values.size() == count &&
           (count == 0 || std::memcmp(values.data(), payload + 265 + multiple * count, count * sizeof(T)) == 0);
}

bool SameMetadata(const orbel::sdk::PointCloudMetadata& a, const orbel::sdk::PointCloudMetadata& b) {
    return a.alternateTimestamp_us == b.alternateTimestamp_us && a.timestamp_us == b.timestamp_us &&
           a.reserved43 == b.reserved43 && a.frameNumber == b.frameNumber && a.lineIndex == b.lineIndex &&
           a.reserved16 == b.reserved16 && a.reserved8 == b.reserved8 && a.reserved18 == b.reserved18;
}

struct Snapshot {
    size_t count = 0;
    orbel::sdk::PointCloudMetadata metadata;
    std::vector<float> x;
    std::vector<RGB> colors;
    std::vector<uint8_t> bytes;

    static Snapshot Of(IPointCloud& cloud, bool loaded) {
        Snapshot s;
        s.count = cloud.GetPointCount();
        s.metadata = cloud.GetMetadata();
        if (loaded) {
            s.x = cloud.GetX();
            s.colors = cloud.GetColors();
            s.bytes = cloud.Serialize();
        }
        return s;
    }
    bool operator==(const Snapshot& o) const {
        return count == o.count && SameMetadata(metadata, o.metadata) && SameBits(x, o.x) &&
               colors == o.colors && bytes == o.bytes;
    }
};

// Every array against the payload; the cloud holds exactly `payload`.
void CheckAgainstPayload(IPointCloud& cloud, const uint8_t* payload, size_t size) {
    const size_t n = cloud.GetPointCount();
    ORBEL_FUZZ_CHECK(size >= 265, "a cloud was made from at least its header");
    uint32_t declared = 0;
    std::memcpy(&declared, payload + 256, 4);
    ORBEL_FUZZ_CHECK(n == declared, "the point count is the header's");
    const uint8_t type = payload[264];
    const bool colored = type == 0x66 || type == 0x6F;
    const size_t perPoint = type == 0x60 ? 26 : type == 0x66 ? 29 : 69;
    ORBEL_FUZZ_CHECK(type == 0x60 || colored, "only known point types are taken");
    ORBEL_FUZZ_CHECK(265 + uint64_t{perPoint} * n <= size, "the points fit in the payload");

    ORBEL_FUZZ_CHECK(HoldsField(cloud.GetDistance(), payload, n, 0), "distance");
    ORBEL_FUZZ_CHECK(HoldsField(cloud.GetX(), payload, n, 4), "x");
    ORBEL_FUZZ_CHECK(HoldsField(cloud.GetY(), payload, n, 8), "y");
    ORBEL_FUZZ_CHECK(HoldsField(cloud.GetZ(), payload, n, 12), "z");
    ORBEL_FUZZ_CHECK(HoldsField(cloud.GetReflectivity(), payload, n, 16), "reflectivity");
    ORBEL_FUZZ_CHECK(HoldsField(cloud.GetAmbient(), payload, n, colored ? 23 : 20), "ambient");
    ORBEL_FUZZ_CHECK(HoldsField(cloud.GetConfidence(), payload, n, colored ? 25 : 22), "confidence");
    if (colored) {
        ORBEL_FUZZ_CHECK(HoldsField(cloud.GetColors(), payload, n, 20), "colours");
    } else {
        ORBEL_FUZZ_CHECK(cloud.GetColors().empty(), "a cloud without colour fields has no colours");
    }

    const auto& meta = cloud.GetMetadata();
    uint32_t frame = 0;
    uint64_t stamp = 0;
    std::memcpy(&frame, payload + 12, 4);
    std::memcpy(&stamp, payload + 27, 8);
    ORBEL_FUZZ_CHECK(meta.frameNumber == frame && meta.lineIndex == payload[17], "frame number and line index");
    ORBEL_FUZZ_CHECK(meta.timestamp_us == stamp && cloud.GetTimestamp() == stamp, "time stamp");
    const auto& aux = cloud.GetAuxiliaryInfo();
    ORBEL_FUZZ_CHECK(std::memcmp(aux.block.data(), payload + 141, 16) == 0, "auxiliary block");
    (void)cloud.GetScanInfo();
    (void)cloud.GetAlternateTimestamp();
}

// A fresh cloud reading `bytes` has the same arrays as `cloud`.
void CheckRoundTrip(IPointCloud& cloud, const std::vector<uint8_t>& bytes) {
    auto again = orbel::sdk::CreatePointCloud();
    again->Deserialize(bytes);
    ORBEL_FUZZ_CHECK(again->GetPointCount() == cloud.GetPointCount(), "round trip: count");
    ORBEL_FUZZ_CHECK(SameBits(again->GetDistance(), cloud.GetDistance()), "round trip: distance");
    ORBEL_FUZZ_CHECK(SameBits(again->GetX(), cloud.GetX()) && SameBits(again->GetY(), cloud.GetY()) &&
                         SameBits(again->GetZ(), cloud.GetZ()),
                     "round trip: coordinates");
    ORBEL_FUZZ_CHECK(SameBits(again->GetReflectivity(), cloud.GetReflectivity()), "round trip: reflectivity");
    ORBEL_FUZZ_CHECK(again->GetAmbient() == cloud.GetAmbient(), "round trip: ambient");
    ORBEL_FUZZ_CHECK(again->GetConfidence() == cloud.GetConfidence(), "round trip: confidence");
    ORBEL_FUZZ_CHECK(again->GetColors() == cloud.GetColors(), "round trip: colours");
    ORBEL_FUZZ_CHECK(SameMetadata(again->GetMetadata(), cloud.GetMetadata()), "round trip: metadata");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();

    // A refused payload leaves an empty cloud empty, and a loaded cloud as it was.
    auto cloud = orbel::sdk::CreatePointCloud();
    bool loaded = false;
    try {
        cloud->Deserialize(data, size);
        loaded = true;
    } catch (const std::runtime_error&) {
        ORBEL_FUZZ_CHECK(cloud->GetPointCount() == 0 && cloud->Serialize().empty(), "a refused payload adds nothing");
        bool threw = false;
        try {
            cloud->GetX();
        } catch (const std::runtime_error&) {
            threw = true;
        }
        ORBEL_FUZZ_CHECK(threw, "an empty cloud refuses its arrays");
        return 0;
    }
    ORBEL_FUZZ_CHECK(loaded, "loaded");
    CheckAgainstPayload(*cloud, data, size);

    const Snapshot before = Snapshot::Of(*cloud, true);
    try {
        cloud->Deserialize(data, size > 265 ? 265 + (size - 265) / 3 : size / 2);
        CheckAgainstPayload(*cloud, data, size > 265 ? 265 + (size - 265) / 3 : size / 2);
        cloud->Deserialize(data, size);
    } catch (const std::runtime_error&) {
        ORBEL_FUZZ_CHECK(Snapshot::Of(*cloud, true) == before, "a refused payload leaves the cloud as it was");
    }

    // Serialize without colours given is the payload itself; a fresh cloud reads it back.
    const std::vector<uint8_t> plain = cloud->Serialize();
    ORBEL_FUZZ_CHECK(plain.size() == size && std::memcmp(plain.data(), data, size) == 0,
                     "an uncoloured cloud serialises to its payload");
    CheckRoundTrip(*cloud, plain);

    // A cloud re-read from a slice of its own bytes (the header and the first points).
    {
        auto self = orbel::sdk::CreatePointCloud();
        self->Deserialize(data, size);
        const std::vector<uint8_t>& own = self->Serialize();
        try {
            self->Deserialize(own.data(), own.size());
            CheckAgainstPayload(*self, data, size);
            self->Deserialize(own.data(), 265);
            ORBEL_FUZZ_CHECK(self->GetPointCount() == 0, "only an empty cloud fits in its header");
        } catch (const std::runtime_error&) {
            ORBEL_FUZZ_CHECK(self->Serialize().size() == size, "a refused slice of its own bytes changes nothing");
        }
    }

    // Colours: a wrong count is refused, the right count is kept and serialised.
    const size_t n = cloud->GetPointCount();
    bool refused = false;
    try {
        cloud->SetColors(std::vector<RGB>(n + 1));
    } catch (const std::runtime_error&) {
        refused = true;
    }
    ORBEL_FUZZ_CHECK(refused, "a colour count other than the point count is refused");
    std::vector<RGB> colors(n);
    for (size_t i = 0; i < n; ++i) {
        colors[i] = RGB{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(data[i % size])};
    }
    cloud->SetColors(colors);
    ORBEL_FUZZ_CHECK(cloud->GetColors() == colors, "the colours set are the colours read");
    const std::vector<uint8_t> colored = cloud->Serialize();
    CheckRoundTrip(*cloud, colored);
    return 0;
}
