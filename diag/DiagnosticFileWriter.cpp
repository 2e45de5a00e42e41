#include "diag/DiagnosticFileWriter.h"

#include "diag/DiagnosticCsv.h"

#include <cerrno>
#include <cinttypes>
#include <system_error>

namespace brindlecot {

namespace {
// A name already on disk (another process of the same instance number in the same second, say a
// script running the offline tool twice) gets "-2", "-3", ... before ".csv" instead of being
// truncated; after this many tries the open counts as failed.
constexpr int kMaxNameTries = 100;
} // namespace

DiagnosticFileWriter::DiagnosticFileWriter(uint32_t instanceNumber)
    : instanceNumber_(instanceNumber)
    , clock_([] { return std::time(nullptr); })
{ }

DiagnosticFileWriter::~DiagnosticFileWriter()
{
    close();
}

void DiagnosticFileWriter::close()
{
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
    currentFileBytes_ = 0;
}

std::string DiagnosticFileWriter::fileName(const std::tm& t, uint32_t instanceNumber, uint64_t fileCounter)
{
    char stamp[32];
    if (std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &t) == 0)
        stamp[0] = '\0';
    char tail[64];
    std::snprintf(tail, sizeof tail, "-i%" PRIu32 "-%03" PRIu64, instanceNumber, fileCounter);
    return std::string("pellwick-") + stamp + tail + ".csv";
}

bool DiagnosticFileWriter::openNewFile(const std::filesystem::path& folder)
{
    // An unknown data folder arrives as the empty path: nowhere to write (never the working folder).
    if (folder.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return false;

    const std::time_t now = clock_ ? clock_() : std::time(nullptr);
    std::tm local {};
    if (localtime_r(&now, &local) == nullptr)
        return false;
    const std::string base = fileName(local, instanceNumber_, filesCreated_);
    std::filesystem::path path;
    for (int attempt = 1; attempt <= kMaxNameTries && file_ == nullptr; ++attempt) {
        std::string name = base;
        if (attempt > 1)
            name.insert(name.size() - 4, "-" + std::to_string(attempt));
        path = folder / name;
        // "x": create exclusively, so an existing file is never truncated.
        file_ = std::fopen(path.c_str(), "wbx");
        if (file_ == nullptr && errno != EEXIST)
            return false;
    }
    if (file_ == nullptr)
        return false;

    currentPath_ = path;
    currentFileBytes_ = 0;
    filesCreated_ += 1;
    createdFiles_.push_back(path);
    pruneOldFiles();
    return writeBytes(diagnosticCsvHeader());
}

void DiagnosticFileWriter::pruneOldFiles()
{
    while (createdFiles_.size() > kMaxFiles) {
        std::error_code ec;
        std::filesystem::remove(createdFiles_.front(), ec); // a file the user removed is fine
        createdFiles_.pop_front();
    }
}

bool DiagnosticFileWriter::writeBytes(const std::string& bytes)
{
    const bool ok
        = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() && std::fflush(file_) == 0;
    const long position = ok ? std::ftell(file_) : -1L;
    if (position < 0) {
        // Disk full or similar: give this file up so that a half-written line is never continued,
        // and cut it back to its last whole line. The next row starts another file.
        const uint64_t whole = currentFileBytes_;
        close();
        std::error_code ec;
        std::filesystem::resize_file(currentPath_, whole, ec);
        return false;
    }
    currentFileBytes_ = static_cast<uint64_t>(position);
    return true;
}

bool DiagnosticFileWriter::write(const std::filesystem::path& folder, const DiagnosticRecord& record)
{
    bool ok = false;
    try {
        if (file_ != nullptr && currentFileBytes_ >= maxFileBytes_)
            close();
        if (file_ != nullptr || openNewFile(folder))
            ok = writeBytes(diagnosticCsvRow(record));
    } catch (...) {
        // Out of memory or a file-system exception: this row is lost, the writer stays usable.
        ok = false;
    }
    if (ok)
        ++rowsWritten_;
    else
        ++rowsLost_;
    return ok;
}

} // namespace brindlecot
