// The diagnostic event log of one plug-in instance. The audio thread hands it every processed
// block's snapshot (recordBlock): it emits "engaged", "released" and "retuned" rows when the
// sounding notches change and a "status" row every 100 ms of audio, into a lock-free queue. The
// user-interface thread drains the queue into rotating CSV files (drain). Both sides do nothing
// while the switch is off; rows already queued wait for it to come back on.
#pragma once

#include "diag/DiagnosticFileWriter.h"
#include "diag/DiagnosticQueue.h"
#include "diag/DiagnosticRecord.h"
#include "engine/FrameSnapshot.h"

#include <atomic>
#include <cstdint>
#include <filesystem>

namespace brindlecot {

class DiagnosticLog
{
public:
    /// Takes the next instance number of the process (0 for the first log).
    DiagnosticLog();
    DiagnosticLog(const DiagnosticLog&) = delete;
    DiagnosticLog& operator=(const DiagnosticLog&) = delete;

    /// The logging switch (the plug-in's copy of the preference); any thread.
    void setEnabled(bool on) { enabled_.store(on, std::memory_order_relaxed); }
    bool enabled() const { return enabled_.load(std::memory_order_relaxed); }

    /// Audio thread, once per processed block, after the frame published the snapshot. Never
    /// allocates, locks or does I/O. Bypass copy blocks (snapshot.processed false) are ignored.
    void recordBlock(const FrameSnapshot& snapshot);

    /// Audio thread (or while it is stopped): forget the notch count, the last frequency and the
    /// status count, as after a reset. Resets of the frame that feeds the log are noticed from its
    /// snapshot without this call; it is for an owner that swaps in a different frame.
    void clearChangeTracking();

    /// User-interface thread: writes every queued row, oldest first, into `folder` (usually the
    /// product data folder's "logs"; an empty path loses the rows). Nothing while the switch is off.
    void drain(const std::filesystem::path& folder);

    uint32_t instanceNumber() const { return instanceNumber_; }
    /// Rows dropped because the queue was full (any thread).
    uint64_t dropped() const { return queue_.dropped(); }
    /// Rows waiting in the queue.
    uint64_t pending() const { return queue_.size(); }

    /// The file side (user-interface thread only): created files, counters, test hooks.
    DiagnosticFileWriter& writer() { return writer_; }
    const DiagnosticFileWriter& writer() const { return writer_; }

    /// Deepest-notch moves above this many octaves give a "retuned" row.
    static constexpr double kRetuneOctaves = 0.02;
    /// Seconds of processed audio between status rows.
    static constexpr double kStatusSeconds = 0.1;

private:
    void push(DiagnosticRecord& record, DiagnosticEvent event);

    std::atomic<bool> enabled_ {false};
    const uint32_t instanceNumber_;
    DiagnosticQueue queue_;

    // Audio-thread state.
    uint64_t block_ = 0; // logged blocks, never reset
    int32_t lastNotchCount_ = 0;
    float lastFrequency_ = 0.0f;
    uint64_t samplesSinceStatus_ = 0;
    uint64_t seenResetCount_ = 0; // the frame's reset counters as last seen, to notice resets
    uint64_t seenFullStateResets_ = 0;

    // User-interface-thread state.
    DiagnosticFileWriter writer_;
};

} // namespace brindlecot
