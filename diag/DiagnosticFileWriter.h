// The user-interface side of the diagnostic log: writes rows into CSV files in a folder, starts a new
// file once the current one has reached its size limit and keeps only the newest files this writer
// created. Files of other instances or earlier runs are never deleted or overwritten. Every failure
// (folder, open, write, delete) is absorbed here: the row is lost and the next row tries again.
#pragma once

#include "diag/DiagnosticRecord.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>

namespace brindlecot {

class DiagnosticFileWriter
{
public:
    static constexpr uint64_t kMaxFileBytes = 16777216; // 16 MiB per file
    static constexpr size_t kMaxFiles = 4; // newest files of this writer kept on disk

    /// Wall-clock time for the file names (local time is taken from it).
    using Clock = std::function<std::time_t()>;

    explicit DiagnosticFileWriter(uint32_t instanceNumber);
    ~DiagnosticFileWriter();
    DiagnosticFileWriter(const DiagnosticFileWriter&) = delete;
    DiagnosticFileWriter& operator=(const DiagnosticFileWriter&) = delete;

    /// Writes one row into the current file, first opening one in `folder` (created with its
    /// parents) when none is open. Returns false when the row was lost.
    bool write(const std::filesystem::path& folder, const DiagnosticRecord& record);

    /// Closes the current file; the next row starts a new one.
    void close();

    /// "pellwick-YYYYmmdd-HHMMSS-i<instance>-<nnn>.csv" for the given local time and file counter.
    static std::string fileName(const std::tm& localTime, uint32_t instanceNumber, uint64_t fileCounter);

    // Test hooks: a smaller rotation limit and a fixed clock.
    void setMaxFileBytes(uint64_t bytes) { maxFileBytes_ = bytes; }
    void setClock(Clock clock) { clock_ = std::move(clock); }

    const std::deque<std::filesystem::path>& createdFiles() const { return createdFiles_; }
    uint64_t filesCreated() const { return filesCreated_; }
    uint64_t currentFileBytes() const { return currentFileBytes_; }
    bool fileOpen() const { return file_ != nullptr; }
    const std::filesystem::path& currentPath() const { return currentPath_; }
    uint64_t rowsWritten() const { return rowsWritten_; }
    uint64_t rowsLost() const { return rowsLost_; }

private:
    bool openNewFile(const std::filesystem::path& folder);
    bool writeBytes(const std::string& bytes);
    void pruneOldFiles();

    uint32_t instanceNumber_;
    uint64_t maxFileBytes_ = kMaxFileBytes;
    Clock clock_;
    std::FILE* file_ = nullptr;
    std::filesystem::path currentPath_;
    uint64_t currentFileBytes_ = 0; // bytes on disk, CR LF counted as two
    uint64_t filesCreated_ = 0;
    std::deque<std::filesystem::path> createdFiles_; // oldest first
    uint64_t rowsWritten_ = 0;
    uint64_t rowsLost_ = 0;
};

} // namespace brindlecot
