#include "engine/EditorSizing.h"

#include <algorithm>
#include <cmath>

namespace brindlecot {

bool constrainEditorSize(int& width, int& height, double screenScale)
{
    int maxW = kEditorMaxWidth;
    int maxH = kEditorMaxHeight;
    if (screenScale > 1.0) {
        maxW = static_cast<int>(std::lround(kEditorMaxWidth * screenScale));
        maxH = static_cast<int>(std::lround(kEditorMaxHeight * screenScale));
    }
    const bool inside
        = width >= kEditorMinWidth && width <= maxW && height >= kEditorMinHeight && height <= maxH;
    const int w = std::clamp(width, kEditorMinWidth, maxW);
    const int h = std::clamp(height, kEditorMinHeight, maxH);
    int newW = w;
    int newH = h;
    if (static_cast<double>(w) / h > kEditorAspect)
        newW = static_cast<int>(std::lround(h * kEditorAspect));
    else
        newH = static_cast<int>(std::lround(w / kEditorAspect));
    const bool unchanged = newW == w && newH == h;
    width = newW;
    height = newH;
    return inside && unchanged;
}

double editorDrawScale(int width, int height, double screenScale)
{
    const double s = screenScale > 0.0 ? screenScale : 1.0;
    const double scale = std::min(height / (s * kEditorHeight), width / (s * kEditorWidth));
    return scale > 0.0 && std::isfinite(scale) ? scale : 1.0;
}

} // namespace brindlecot
