// Whole-file replacement through a temporary sibling and a rename, so that a reader on another thread
// or in another process sees either the old file or the new one, never a partial file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace brindlecot::updates {

/// Writes bytes to path through path's name + ".tmp-" + a random 32-bit decimal, then renames it onto
/// path. Creates missing parent folders. False (and no temporary file left) on any failure.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

/// The sibling name used for one write: path's file name + ".tmp-" + the decimal text of token.
std::filesystem::path temporarySibling(const std::filesystem::path& path, uint32_t token);

} // namespace brindlecot::updates
