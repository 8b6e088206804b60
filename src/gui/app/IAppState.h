// IAppState: the three questions about the program's state that code outside the
// application core asks. Implementations answer from atomics, on any thread.
#pragma once

namespace orbel::studio {

class IAppState {
public:
    virtual ~IAppState() = default;
    virtual bool IsStreaming() const = 0;
    virtual bool IsReplaying() const = 0;
    virtual bool IsBusy() const = 0;
};

}  // namespace orbel::studio
