// The out-of-line destructor that anchors ICamera's type information in Orbel_SDK.
#include <orbel/sdk/ICamera.h>

orbel::sdk::ICamera::~ICamera() = default;
