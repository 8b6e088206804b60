// The two numbers that choose how points are coloured: the colour map
// (ColormapType, the settings file's own enumeration, so the numbers cannot drift)
// and the scalar channel (ScalarType, numbered like the file's ScalarTypeProto).
#pragma once

#include <cstdint>

#include "proto/viewer_config.pb.h"

namespace orbel::studio::gui {

// ColormapType and its enumerators COLORMAP_UNIFORM .. COLORMAP_GRAYSCALE come
// from the generated settings schema.

enum class ScalarType : int32_t {
    XAxis = 0,
    YAxis = 1,
    ZAxis = 2,
    Signal = 3,
    Ambient = 4,
    Depth = 5,
};

}  // namespace orbel::studio::gui
