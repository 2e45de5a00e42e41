// Grabs the pixels of a top-level X window by its title (kept apart from JUCE: Xlib's macros clash
// with JUCE's names).
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

} // namespace brindlecot::test
