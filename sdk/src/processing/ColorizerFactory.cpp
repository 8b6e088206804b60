// The colorizer's factory and the out-of-line destructors of the exported
// interfaces, so their type information lives in Orbel_SDK.
#include <orbel/processing/Colorizer.h>

#include "processing/Colorizer.h"
#include "processing/ColorizerAlgorithm.h"
#include "processing/Matcher.h"

namespace orbel::processing {

IColorizer::~IColorizer() = default;
IColorizerAlgorithm::~IColorizerAlgorithm() = default;

std::unique_ptr<IColorizer> ColorizerFactory::CreateColorizer(const ColorizerSettings& settings) {
    return std::make_unique<Colorizer>(std::make_unique<Matcher>(settings.maxTimeDifference, settings.waitMargin),
                                       std::make_unique<ColorizerAlgorithm>(), settings.bufferSize);
}

std::unique_ptr<IColorizerAlgorithm> ColorizerFactory::CreateColorizerAlgorithm() {
    return std::make_unique<ColorizerAlgorithm>();
}

}  // namespace orbel::processing
