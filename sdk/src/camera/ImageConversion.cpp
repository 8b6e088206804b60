#include "camera/ImageConversion.h"

#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include <orbel/sdk/Exception.h>

#include "camera/vendor/GenericException.h"
#include "camera/vendor/Pfnc.h"
#include "camera/vendor/System.h"

namespace orbel::camera {
namespace {

const char* FormatName(orbel::sdk::PixelFormat format) {
    switch (format) {
        case orbel::sdk::PixelFormat::BayerRG8: return "BayerRG8";
        case orbel::sdk::PixelFormat::BayerRG12: return "BayerRG12";
        case orbel::sdk::PixelFormat::BayerRG12Packed: return "BayerRG12Packed";
        case orbel::sdk::PixelFormat::RGB8: return "RGB8";
        case orbel::sdk::PixelFormat::RGB12: return "RGB12";
        default: return "Unknown";
    }
}

[[noreturn]] void ThrowImageError(const std::string& detail) {
    throw orbel::sdk::Exception(detail, orbel::sdk::SensorError::IMAGE_ERROR);
}

void CheckBuffers(const char* caller, orbel::sdk::PixelFormat format, size_t sourceSize, size_t destinationSize,
                  uint32_t width, uint32_t height) {
    const std::string who = std::string(caller) + ": ";
    if (width == 0 || height == 0) {
        ThrowImageError(who + "image of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels has no pixels");
    }
    const uint64_t needed = *RequiredPixelBytes(format, width, height);
    if (sourceSize < needed) {
        ThrowImageError(who + "source holds " + std::to_string(sourceSize) + " bytes, a " + std::to_string(width) +
                        " x " + std::to_string(height) + " " + FormatName(format) + " image needs " +
                        std::to_string(needed));
    }
    const uint64_t target = *RequiredPixelBytes(orbel::sdk::PixelFormat::RGB8, width, height);
    if (destinationSize < target) {
        ThrowImageError(who + "destination holds " + std::to_string(destinationSize) + " bytes, the RGB8 image needs " +
                        std::to_string(target));
    }
}

void ConvertBayer(std::span<const uint8_t> source, std::span<uint8_t> destination, uint32_t width, uint32_t height,
                  double bytesPerPixel, uint64_t code) {
    vendor::ImageHandle wrapped = CreateArenaImage(source.data(), bytesPerPixel, width, height, code);
    vendor::ImageHandle converted(vendor::ImageFactory::Convert(wrapped.get(), vendor::pfnc::RGB8, 0));
    if (!converted) throw std::runtime_error("Failed to convert RGB8");
    std::memcpy(destination.data(), converted->GetData(), size_t{width} * height * 3);
}

}  // namespace

std::optional<uint64_t> RequiredPixelBytes(orbel::sdk::PixelFormat format, uint32_t width, uint32_t height) {
    using orbel::sdk::PixelFormat;
    switch (format) {
        case PixelFormat::BayerRG8: return vendor::pfnc::PixelBytes(vendor::pfnc::BayerRG8, width, height);
        case PixelFormat::BayerRG12: return vendor::pfnc::PixelBytes(vendor::pfnc::BayerRG12, width, height);
        case PixelFormat::BayerRG12Packed:
            return vendor::pfnc::PixelBytes(vendor::pfnc::BayerRG12Packed, width, height);
        case PixelFormat::RGB8: return vendor::pfnc::PixelBytes(vendor::pfnc::RGB8, width, height);
        case PixelFormat::RGB12: return vendor::pfnc::PixelBytes(vendor::pfnc::RGB12, width, height);
        default: return std::nullopt;
    }
}

vendor::ImageHandle CreateArenaImage(const uint8_t* data, double bytesPerPixel, uint32_t width, uint32_t height,
                                     uint64_t pixelFormat) {
    try {
        vendor::SharedSystem();
        // Double precision keeps the count exact for every 32-bit width and
        // height; single precision drops bytes from 16 Mi upward.
        const double bytes = static_cast<double>(uint64_t{width} * height) * bytesPerPixel;
        const auto size = static_cast<uint64_t>(bytes);
        vendor::ImageHandle image(
            vendor::ImageFactory::Create(data, static_cast<size_t>(size), width, height, pixelFormat));
        if (!image) throw std::runtime_error("Failed to allocate memory from BayerRG8 data");
        return image;
    } catch (const vendor::GenericException& e) {
        std::cerr << e.GetDescription() << '\n';
        throw;
    }
}

void ConvertBayerRG8ToRGB8(std::span<const uint8_t> source, std::span<uint8_t> destination, uint32_t width,
                           uint32_t height) {
    CheckBuffers("ConvertBayerRG8ToRGB8", orbel::sdk::PixelFormat::BayerRG8, source.size(), destination.size(), width,
                 height);
    ConvertBayer(source, destination, width, height, 1.0, vendor::pfnc::BayerRG8);
}

void ConvertBayerRG12ToRGB8(std::span<const uint8_t> source, std::span<uint8_t> destination, uint32_t width,
                            uint32_t height, bool packed) {
    const auto format = packed ? orbel::sdk::PixelFormat::BayerRG12Packed : orbel::sdk::PixelFormat::BayerRG12;
    CheckBuffers("ConvertBayerRG12ToRGB8", format, source.size(), destination.size(), width, height);
    if (packed) {
        ConvertBayer(source, destination, width, height, 1.5, vendor::pfnc::BayerRG12Packed);
    } else {
        ConvertBayer(source, destination, width, height, 2.0, vendor::pfnc::BayerRG12);
    }
}

void ConvertRGB12ToRGB8(std::span<const uint8_t> source, std::span<uint8_t> destination, uint32_t width,
                        uint32_t height) {
    CheckBuffers("ConvertRGB12ToRGB8", orbel::sdk::PixelFormat::RGB12, source.size(), destination.size(), width,
                 height);
    const size_t samples = size_t{width} * height * 3;
    const uint8_t* in = source.data();
    uint8_t* out = destination.data();
    for (size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<uint8_t>((in[2 * i] | in[2 * i + 1] << 8) >> 4);
    }
}

bool ConvertToRGB8(orbel::sdk::PixelFormat format, std::span<const uint8_t> source, std::span<uint8_t> destination,
                   uint32_t width, uint32_t height) {
    using orbel::sdk::PixelFormat;
    switch (format) {
        case PixelFormat::BayerRG8:
            ConvertBayerRG8ToRGB8(source, destination, width, height);
            return true;
        case PixelFormat::BayerRG12:
            ConvertBayerRG12ToRGB8(source, destination, width, height, false);
            return true;
        case PixelFormat::BayerRG12Packed:
            ConvertBayerRG12ToRGB8(source, destination, width, height, true);
            return true;
        case PixelFormat::RGB12:
            ConvertRGB12ToRGB8(source, destination, width, height);
            return true;
        default:
            return false;
    }
}

}  // namespace orbel::camera
