// Maps the embedded pictures to their uses. The byte arrays come from the generated
// source that the build writes from assets/*.png.
#include "app/EmbeddedImages.h"

namespace orbel::studio::gui::assets {
extern const unsigned char kIconPng[];
extern const std::size_t kIconPngSize;
extern const unsigned char kSplashPng[];
extern const std::size_t kSplashPngSize;
extern const unsigned char kLogoPng[];
extern const std::size_t kLogoPngSize;
extern const unsigned char kButton0Png[];
extern const std::size_t kButton0PngSize;
extern const unsigned char kButton1Png[];
extern const std::size_t kButton1PngSize;
extern const unsigned char kButton2Png[];
extern const std::size_t kButton2PngSize;
extern const unsigned char kButton3Png[];
extern const std::size_t kButton3PngSize;
extern const unsigned char kButton4Png[];
extern const std::size_t kButton4PngSize;
extern const unsigned char kToast1Png[];
extern const std::size_t kToast1PngSize;
extern const unsigned char kToast2Png[];
extern const std::size_t kToast2PngSize;
extern const unsigned char kToast3Png[];
extern const std::size_t kToast3PngSize;
}  // namespace orbel::studio::gui::assets

namespace orbel::studio::gui {

PngBytes WindowIconPng() { return {assets::kIconPng, assets::kIconPngSize}; }
PngBytes SplashPng() { return {assets::kSplashPng, assets::kSplashPngSize}; }
PngBytes LogoPng() { return {assets::kLogoPng, assets::kLogoPngSize}; }

PngBytes ButtonIconPng(int id) {
    switch (id) {
        case 0: return {assets::kButton0Png, assets::kButton0PngSize};
        case 1: return {assets::kButton1Png, assets::kButton1PngSize};
        case 2: return {assets::kButton2Png, assets::kButton2PngSize};
        case 3: return {assets::kButton3Png, assets::kButton3PngSize};
        case 4: return {assets::kButton4Png, assets::kButton4PngSize};
        default: return {};
    }
}

PngBytes ToastIconPng(int level) {
    switch (level) {
        case 0: return WindowIconPng();
        case 1: return {assets::kToast1Png, assets::kToast1PngSize};
        case 2: return {assets::kToast2Png, assets::kToast2PngSize};
        case 3: return {assets::kToast3Png, assets::kToast3PngSize};
        default: return {};
    }
}

}  // namespace orbel::studio::gui
