// Replaces a file so that a crash, a kill or a full disk leaves either the old content or the new
// one, never a torn file: the bytes go to a ".partial" sibling, are flushed to the disk, and the
// sibling is renamed over the target. Writers of the same path in several processes or threads are
// serialised by a lock on the sibling, so one writer never renames another's half-written bytes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace brindlecot {

/// The temporary sibling a write goes through: path + ".partial".
std::filesystem::path partialPathFor(const std::filesystem::path& path);

/// Writes `bytes` to `path` atomically, creating missing folders. On failure the old file stays,
/// the sibling is removed and `error` reads "could not write " + the full path.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string& error);

} // namespace brindlecot
