// The program's own pictures, embedded in the executable as PNG bytes (drawn by
// assets/make_assets.sh, turned into byte arrays by the build). The bytes are constant
// and live for the whole process; any thread may read them.
#pragma once

#include <cstddef>
#include <span>

namespace orbel::studio::gui {

using PngBytes = std::span<const unsigned char>;

// The program icon: the window icon and the toast icon of level 0.
PngBytes WindowIconPng();
// The splash shown while the program starts, 800 x 391.
PngBytes SplashPng();
// The logo the views show faintly while they have nothing to show.
PngBytes LogoPng();

// Button icons by id: 0 camera, 1 eye, 2 rotate, 3 move, 4 grid. Empty for other ids.
PngBytes ButtonIconPng(int id);
inline constexpr int kButtonIconCount = 5;

// Toast icons by level: 0 the program icon, 1 success, 2 warning, 3 failure. Empty for other levels.
PngBytes ToastIconPng(int level);
inline constexpr int kToastLevelCount = 4;

}  // namespace orbel::studio::gui
