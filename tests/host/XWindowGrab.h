// Grabs the pixels of a top-level X window by its title, or asks it to close (kept apart from JUCE: Xlib's
// macros clash with JUCE's names).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brindlecot::test {

struct GrabbedWindow
{
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb; // row-major, opaque
};

/// Looks for a mapped window titled `title` on $DISPLAY (searching the whole tree), else takes the
/// largest mapped top-level window, and copies its contents. Returns false when there is no
/// display or no window.
bool grabWindow(const std::string& title, GrabbedWindow& out);

/// Asks the same window to close, as a window manager's close button does (WM_DELETE_WINDOW).
/// Returns false when there is no display or no window.
bool requestClose(const std::string& title);

/// Creates the atoms of the window-manager protocols, as any desktop session has done before an app
/// starts. JUCE only offers WM_DELETE_WINDOW on its windows when the atom already exists, so on a
/// bare Xvfb an app started first could never be asked to close.
bool internWindowManagerAtoms();

} // namespace brindlecot::test
