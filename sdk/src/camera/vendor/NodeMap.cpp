#include "camera/vendor/NodeMap.h"

namespace orbel::camera::vendor {

NodeMap::~NodeMap() = default;

}  // namespace orbel::camera::vendor
