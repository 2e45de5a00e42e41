// Editor window sizing: the 542 x 476 design scaled between 0.75x and 2x, aspect ratio kept.
#pragma once

namespace brindlecot {

inline constexpr int kEditorWidth = 542;
inline constexpr int kEditorHeight = 476;
inline constexpr int kEditorMinWidth = 406;
inline constexpr int kEditorMinHeight = 357;
inline constexpr int kEditorMaxWidth = 1084;
inline constexpr int kEditorMaxHeight = 952;
inline constexpr double kEditorAspect = 1.1386554; // 542 / 476

/// Constrains a requested size in place: clamp into the limits (the maximum scaled by the screen
/// scale when it is above 1), then restore the aspect ratio. Returns true only when the request was
/// inside the limits and already had the aspect ratio.
bool constrainEditorSize(int& width, int& height, double screenScale);

/// Draw scale for a window size: min(h / (s * 476), w / (s * 542)), or 1 when not positive.
double editorDrawScale(int width, int height, double screenScale);

} // namespace brindlecot
