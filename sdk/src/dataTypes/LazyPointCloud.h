// orbel::data::LazyPointCloud: one point-cloud message payload (a scan line) kept as
// the bytes it arrived in, decoded one array at a time on first use.
//
//   0    255  metadata block (version 16 at byte 3; fixed fields read on load)
//   255  1    point-data version, 1
//   256  4    N, the point count
//   260  4    a float carried but not interpreted
//   264  1    point type 0x60 (26 bytes a point), 0x66 (29) or 0x6F (69)
//   265  ...  one array per field, every point's value in point order
//
// Guarantees: a message is validated completely before anything changes, so a failed
// Deserialize (or any failed call) leaves the object as it was; each array is decoded
// at most once per message, by one block copy; Serialize returns bytes that a fresh
// cloud reads back to the same arrays and colours.
//
// No lock: one thread uses a cloud at a time (the data handler's customer thread until
// it hands the cloud to the callback, then its receiver). Failures are std::runtime_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <orbel/sdk/IPointCloud.h>

namespace orbel::data {

class LazyPointCloud final : public orbel::sdk::IPointCloud {
public:
    // Empty: no bytes, no points, point type 0; fill it with Deserialize.
    LazyPointCloud() = default;

    size_t GetPointCount() const override;
    const std::vector<float>& GetX() override;
    const std::vector<float>& GetY() override;
    const std::vector<float>& GetZ() override;
    uint64_t GetTimestamp() const override;
    uint64_t GetAlternateTimestamp() const override;
    void SetColors(const std::vector<orbel::sdk::RGB>& colors) override;

    const std::vector<float>& GetDistance() override;
    const std::vector<float>& GetReflectivity() override;
    const std::vector<uint16_t>& GetAmbient() override;
    const std::vector<uint32_t>& GetConfidence() override;
    const orbel::sdk::PointCloudMetadata& GetMetadata() const override;
    const orbel::sdk::AuxiliaryInfo& GetAuxiliaryInfo() override;
    const orbel::sdk::ScanInfo& GetScanInfo() override;
    const std::vector<orbel::sdk::RGB>& GetColors() override;
    const std::vector<uint8_t>& Serialize() override;
    void Deserialize(const uint8_t* data, size_t size) override;
    void Deserialize(const std::vector<uint8_t>& bytes) override;

private:
    enum class Field { Distance, X, Y, Z, Reflectivity, Color, Ambient, Confidence };

    static void _Validate(const uint8_t* data, size_t size);
    void _Load();
    void _ThrowIfEmpty() const;
    size_t _FieldOffset(Field field) const;
    template <typename T>
    void _DecodeArray(Field field, std::vector<T>& cache) const;
    void _RewriteWithColors();

    std::vector<uint8_t> bytes_;
    uint64_t pointCount_ = 0;
    float headerValue_ = -9999.0f;
    uint8_t pointType_ = 0;

    std::vector<float> x_;
    std::vector<float> y_;
    std::vector<float> z_;
    std::vector<float> distance_;
    std::vector<float> reflectivity_;
    std::vector<uint16_t> ambient_;
    std::vector<uint32_t> confidence_;

    orbel::sdk::PointCloudMetadata metadata_{};
    orbel::sdk::AuxiliaryInfo auxiliaryInfo_{};
    orbel::sdk::ScanInfo scanInfo_{};

    bool colorsValid_ = false;
    std::vector<orbel::sdk::RGB> colors_;

    bool xyzCached_ = false;
    bool distanceCached_ = false;
    bool reflectivityCached_ = false;
    bool ambientCached_ = false;
    bool confidenceCached_ = false;
    bool auxiliaryInfoCached_ = false;
    bool scanInfoCached_ = false;
};

}  // namespace orbel::data
