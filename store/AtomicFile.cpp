#include "store/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace brindlecot {

namespace fs = std::filesystem;

namespace {

// Opens (without truncating) and locks the sibling; returns -1 on failure. A writer that waited
// for the lock may find that the holder has meanwhile renamed the file it opened onto the target;
// it then starts again on a fresh sibling instead of writing into the live file.
int openLockedPartial(const fs::path& partial)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            return -1;
        int rc = 0;
        do
            rc = ::flock(fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        // Without lock support (some network file systems) the write still goes through the sibling.
        if (rc != 0)
            return fd;
        struct stat opened
        {
        };
        struct stat named
        {
        };
        if (::fstat(fd, &opened) == 0 && ::stat(partial.c_str(), &named) == 0 && opened.st_dev == named.st_dev
            && opened.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    return -1;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here does not undo the replacement.
void syncFolder(const fs::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

fs::path partialPathFor(const fs::path& path)
{
    fs::path partial = path;
    partial += ".partial";
    return partial;
}

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string& error)
{
    error.clear();
    const auto fail = [&] {
        error = "could not write " + path.string();
        return false;
    };
    if (path.empty() || !path.has_filename())
        return fail();
    const fs::path folder = path.parent_path();
    std::error_code ec;
    if (!folder.empty())
        fs::create_directories(folder, ec); // a failure shows up when the sibling cannot be opened

    const fs::path partial = partialPathFor(path);
    const int fd = openLockedPartial(partial);
    if (fd < 0)
        return fail();
    // The data must be on the disk before the rename makes it the file, or a power cut after the
    // rename could leave an empty or partly written preset under the old name.
    const bool written
        = ::ftruncate(fd, 0) == 0 && writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    if (!written || ::rename(partial.c_str(), path.c_str()) != 0) {
        ::unlink(partial.c_str());
        ::close(fd);
        return fail();
    }
    // Closing after the rename keeps the lock until the sibling's name is free again.
    ::close(fd);
    syncFolder(folder);
    return true;
}

} // namespace brindlecot
