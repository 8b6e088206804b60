// DisplayLossWatch: what the program does when its connection to the display is lost (the
// X server ends, or another client cuts ours off as xkill does). Xlib then calls its I/O
// error handler, and the default one (and GTK's, installed over it) ends the process with
// exit(1) before anything of ours runs: no line in the log saying why. While a watch
// exists, the first thread that finds the loss runs `lastWords` with the reason and then
// ends the process with status 1: without the display the program can neither go on nor
// close its window. Other threads that find the loss meanwhile wait for that end, and end
// the process themselves should the last words not return within a few seconds.
//
// Contract: made on the main thread after every library that installs the handler has
// started (GTK's file dialogs do), destroyed before what `lastWords` uses goes; one watch
// at a time (the handler is process-wide). `lastWords` runs on whichever thread found the loss
// (the GUI thread, or one posting a frame request), must not use the display and must
// not wait for other threads. Does nothing on Windows.
#pragma once

#include <functional>
#include <string>

namespace orbel::studio::platform {

class DisplayLossWatch {
public:
    explicit DisplayLossWatch(std::function<void(const std::string& reason)> lastWords);
    ~DisplayLossWatch();
    DisplayLossWatch(const DisplayLossWatch&) = delete;
    DisplayLossWatch& operator=(const DisplayLossWatch&) = delete;

private:
    std::function<void(const std::string& reason)> lastWords_;
};

}  // namespace orbel::studio::platform
