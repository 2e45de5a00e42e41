#include "diag/DiagnosticLog.h"

#include <algorithm>
#include <cmath>

namespace brindlecot {

namespace {
// Process-wide, separate from every other instance counter, so the file names of two instances in
// one host never collide.
std::atomic<uint32_t> logInstances {0};
} // namespace

DiagnosticLog::DiagnosticLog()
    : instanceNumber_(logInstances.fetch_add(1, std::memory_order_relaxed))
    , writer_(instanceNumber_)
{ }

void DiagnosticLog::push(DiagnosticRecord& record, DiagnosticEvent event)
{
    record.event = static_cast<uint8_t>(event);
    queue_.push(record);
}

void DiagnosticLog::clearChangeTracking()
{
    lastNotchCount_ = 0;
    lastFrequency_ = 0.0f;
    samplesSinceStatus_ = 0;
}

void DiagnosticLog::recordBlock(const FrameSnapshot& s)
{
    // A reset of the frame starts the change tracking afresh (a full state reset, e.g. on entering
    // bypass, clears the notch tracking only). Followed even while logging is off, so that turning
    // it on later does not compare against notches from before the reset.
    if (s.resetCount != seenResetCount_) {
        seenResetCount_ = s.resetCount;
        clearChangeTracking();
    }
    if (s.fullStateResets != seenFullStateResets_) {
        seenFullStateResets_ = s.fullStateResets;
        lastNotchCount_ = 0;
        lastFrequency_ = 0.0f;
    }
    if (!enabled() || !s.processed || !(s.sampleRate > 0.0))
        return;

    ++block_;
    DiagnosticRecord r = diagnosticRecordFrom(s);
    r.block = block_;
    r.dropped = queue_.dropped();

    const int32_t n = r.notchCount;
    const float f = r.frequencyHz;
    if (n != lastNotchCount_) {
        push(r, n > lastNotchCount_ ? DiagnosticEvent::engaged : DiagnosticEvent::released);
        lastNotchCount_ = n;
        lastFrequency_ = f;
    } else if (n > 0 && f > 0.0f && lastFrequency_ > 0.0f
        && std::fabs(std::log2(static_cast<double>(f) / static_cast<double>(lastFrequency_)))
            > kRetuneOctaves) {
        push(r, DiagnosticEvent::retuned);
        lastFrequency_ = f;
    }

    samplesSinceStatus_ += static_cast<uint64_t>(std::max<int32_t>(0, s.frameCount));
    const double period = std::max(1.0, std::trunc(s.sampleRate * kStatusSeconds));
    if (static_cast<double>(samplesSinceStatus_) >= period) {
        samplesSinceStatus_ = 0;
        push(r, DiagnosticEvent::status);
    }
}

void DiagnosticLog::drain(const std::filesystem::path& folder)
{
    if (!enabled())
        return;
    DiagnosticRecord r;
    while (queue_.pop(r))
        writer_.write(folder, r);
}

} // namespace brindlecot
