// The colorizer's factory. The matcher and the colouring algorithm are not part
// of this build yet: asking for a colorizer fails with a clear error, which the
// program reports when the user switches colouring on.
#include <orbel/processing/Colorizer.h>
#include <orbel/sdk/Exception.h>

namespace orbel::processing {

IColorizer::~IColorizer() = default;

std::unique_ptr<IColorizer> ColorizerFactory::CreateColorizer(const ColorizerSettings&) {
    orbel::sdk::ThrowUnknownError("The colorizer is not available in this build");
}

}  // namespace orbel::processing
