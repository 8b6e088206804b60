// The GenICam description our fake camera serves: the one Aravis's fake GigE Vision camera
// (arv-fake-gv-camera-0.8) ships, extended with every node the SDK's camera configuration
// touches (storage registers that read back what was written; "ExposureTime" drives the
// fake camera's exposure and clamps requests below 30 µs to 30), the BayerRG12 and
// BayerRG12Packed pixel formats (streamed at the right size with the pixels left zero) and
// the trigger source "Line2". "TriggerMode" is kept in storage, so the camera streams
// freely whatever is written there.
//
// The tests' fake-camera fixture and the demo run (scripts/run, through the
// orbel-fake-camera-description program) serve the same description.
#pragma once

#include <string>
#include <vector>

namespace orbel::fakecamera {

struct DescriptionOptions {
    // Added nodes left out of the description: a camera that lacks them.
    std::vector<std::string> omitNodes;
    // false: no BayerRG8 pixel format (a monochrome camera).
    bool bayerRG8 = true;
};

// The description as XML text. Throws std::runtime_error when the installed description
// lacks a place this extends.
std::string Description(const DescriptionOptions& options = {});

}  // namespace orbel::fakecamera
