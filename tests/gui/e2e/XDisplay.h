// The X display as a window manager sees it, for the end-to-end tests: find the program's
// top-level window by its title, ask it to close as a window manager does when the user
// clicks the close button (or cut its client off), minimise it, and count the pictures it
// presents (every buffer swap damages the window), so that a test can wait for frames drawn
// after an input. Xlib stays in XDisplay.cpp: its macros clash with other headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orbel::testing {

class XDisplay {
public:
    XDisplay();  // the display named by DISPLAY
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool Open() const { return display_ != nullptr; }
    // A top-level window with exactly this title.
    std::optional<unsigned long> FindWindow(const std::string& title);
    // Sends WM_DELETE_WINDOW through WM_PROTOCOLS.
    void RequestClose(unsigned long window);
    // Has the X server close the connection of the client that made the window, as xkill
    // does; the server and every other client go on.
    void KillClient(unsigned long window);
    // Minimises the window as a window manager does when the user asks it to: unmapped, and
    // its WM_STATE iconic (what the window's client reads).
    void Iconify(unsigned long window);
    // From now on counts the window's presented frames; false without the DAMAGE extension.
    bool WatchFrames(unsigned long window);
    // Frames presented since WatchFrames. Two swaps that come between two calls may count
    // as one: a count never runs ahead of the frames drawn.
    uint64_t FramesPresented();

private:
    void* display_;
    unsigned long damage_ = 0;
    int damageEventBase_ = 0;
    uint64_t frames_ = 0;
};

}  // namespace orbel::testing
