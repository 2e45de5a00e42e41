// The plug-in's state chunk: "PWS1", version 5, accent, editor size, input mode, then the 22
// parameter doubles, all little-endian. Also reads the older layout (22 doubles and a "PWAC"
// trailer with the accent). Works on a byte buffer and a parameter array; every read is bounds-checked.
#pragma once

#include "engine/Parameters.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace brindlecot {

inline constexpr uint32_t kStateTag = 0x50575331u; // "PWS1", P in the most significant byte
inline constexpr uint32_t kTrailerTag = 0x50574143u; // "PWAC"
inline constexpr int32_t kStateVersion = 5;
inline constexpr int kStateHeaderBytes = 24;
inline constexpr int kStateChunkBytes = kStateHeaderBytes + 8 * kNumParams; // 200

/// Non-parameter fields the chunk carries, and what the reader needs to know about the editor.
struct StateFields
{
    int32_t accentIndex = 5; // 0..5; 5 follows the host's track colour
    bool accentChanged = false; // set by the reader when accentIndex changes
    int32_t inputMode = 0; // 0 auto, 1 left channel only
    int32_t savedEditorWidth = 0;
    // Editor size as the framework keeps it (pixels); the reader updates it when no editor is open.
    int32_t editorWidth = 542;
    int32_t editorHeight = 476;
    float screenScale = 1.0f;
    bool editorOpen = false;
};

/// Appends a version-5 chunk. `editorWidth`/`editorHeight` are in unscaled window units.
void writeStateChunk(std::vector<uint8_t>& out, int32_t accentIndex, int32_t editorWidth,
    int32_t editorHeight, int32_t inputMode, const std::array<double, kNumParams>& params);

/// Editor size to store while no editor is open: round(framework size / screenScale).
void unscaledEditorSize(const StateFields& fields, int32_t& width, int32_t& height);

/// Reads a chunk starting at `start`; returns the position after what it consumed. Parameters
/// missing from a short chunk keep their values in `params`; `paramsRead` tells how many were read.
int64_t readStateChunk(const uint8_t* data, size_t size, int64_t start, StateFields& fields,
    std::array<double, kNumParams>& params, int* paramsRead = nullptr);

} // namespace brindlecot
