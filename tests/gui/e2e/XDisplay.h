// The X display as a window manager sees it, for the end-to-end test: find the program's
// top-level window by its title and ask it to close, as a window manager does when the user
// clicks the close button. Xlib stays in XDisplay.cpp: its macros clash with other headers.
#pragma once

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

private:
    void* display_;
};

}  // namespace orbel::testing
