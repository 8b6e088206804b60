// Out-of-line special members of the exported IColorizableData, so that its type
// information and vtable live in Orbel_SDK and the program can derive from it.
#include <orbel/sdk/IPointCloud.h>

namespace orbel::sdk {

IColorizableData::IColorizableData() = default;

IColorizableData::IColorizableData(const IColorizableData&) = default;

IColorizableData& IColorizableData::operator=(const IColorizableData&) = default;

IColorizableData::~IColorizableData() = default;

}  // namespace orbel::sdk
