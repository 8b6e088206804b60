// The 2D view's image rows and placement.
#include "views/LidarImage.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "views/Colormaps.h"
#include "views/LidarCloud.h"

namespace orbel::studio::gui {

const std::vector<float>* Channel2D(FrameData& frame, ScalarType type) {
    switch (type) {
        case ScalarType::XAxis:
            return GetScalarChannel(frame, ScalarType::XAxis);
        case ScalarType::Ambient:
            return &frame.ambient;
        default:
            return &frame.signal;
    }
}

bool BuildImageRows(const std::vector<float>& channel, ColormapType map, float min, float max,
                    std::vector<uint8_t>& rgb, int& width) {
    const std::size_t n = channel.size();
    if (n == 0 || n % kImageRows != 0) {
        return false;
    }
    width = static_cast<int>(n / kImageRows);
    ApplyColormap(channel, map, min, max, rgb);
    return true;
}

std::string NotLinesMessage(const FrameData& frame, std::size_t values) {
    const std::string source = frame.sourceName.empty() ? std::string() : " (" + frame.sourceName + ")";
    return fmt::format("2D view: frame {}{} cannot be shown as scan lines: its {} points are not {} lines of equal "
                       "length",
                       frame.frameNumber, source, values, kImageRows);
}

Rect FitImage(Vec2 regionMin, Vec2 regionSize, int width, int rows) {
    if (width < 1 || rows < 1 || !(regionSize.x > 0.0f) || !(regionSize.y > 0.0f)) {
        return {regionMin, regionMin};
    }
    const float aspect = static_cast<float>(width) / static_cast<float>(rows);
    Vec2 size;
    if (aspect > regionSize.x / regionSize.y) {
        size = {regionSize.x, regionSize.x / aspect};
    } else {
        size = {regionSize.y * aspect, regionSize.y};
    }
    const Vec2 min{regionMin.x + (regionSize.x - size.x) / 2.0f, regionMin.y + (regionSize.y - size.y) / 2.0f};
    return {min, min + size};
}

Rect LogoRect(Vec2 regionMin, Vec2 regionSize, int logoWidth, int logoHeight) {
    constexpr float kLogoWidth = 600.0f;
    const float height = logoWidth > 0 ? kLogoWidth * static_cast<float>(logoHeight) / static_cast<float>(logoWidth) : 0.0f;
    const Vec2 min{regionMin.x + (regionSize.x - kLogoWidth) / 2.0f, regionMin.y + (regionSize.y - height) / 2.0f};
    return {min, min + Vec2{kLogoWidth, height}};
}

float FadeAlpha(Vec2 mouse, Vec2 centre) {
    constexpr float kFadeDistance = 120.0f;
    if (!std::isfinite(mouse.x) || !std::isfinite(mouse.y)) {
        return 0.0f;
    }
    return 1.0f - std::min(Length(mouse - centre), kFadeDistance) / kFadeDistance;
}

}  // namespace orbel::studio::gui
