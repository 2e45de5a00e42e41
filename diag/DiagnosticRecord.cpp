#include "diag/DiagnosticRecord.h"

namespace brindlecot {

const char* diagnosticEventName(uint8_t event)
{
    switch (event) {
    case static_cast<uint8_t>(DiagnosticEvent::engaged):
        return "engaged";
    case static_cast<uint8_t>(DiagnosticEvent::released):
        return "released";
    case static_cast<uint8_t>(DiagnosticEvent::retuned):
        return "retuned";
    case static_cast<uint8_t>(DiagnosticEvent::status):
        return "status";
    default:
        return "unknown";
    }
}

DiagnosticRecord diagnosticRecordFrom(const FrameSnapshot& s)
{
    DiagnosticRecord r;
    r.transport = s.transportRunning;
    r.playheadSeconds = s.playheadSeconds;
    r.frequencyHz = s.deepestNotchFrequencyHz;
    r.notchDepthDb = s.maxNotchDepthDb;
    r.reductionDb = s.reductionDb;
    r.bleedExplainedDb = s.gateGainDb;
    r.notchCount = s.activeNotchCount;
    r.bleedAmount = s.bleedAmount;
    r.feedbackAmount = s.feedbackAmount;
    r.inputGainDb = s.inputGainDb;
    r.outputGainDb = s.outputGainDb;
    r.ceilingReductionDb = s.limiterGainDb;
    r.candidateHz = s.candidateHz;
    r.prominenceDb = s.prominenceDb;
    r.growthDb = s.growthDb;
    r.windowRms = s.analysisRms;
    r.frames = s.trackFrames;
    r.directionality = s.directionality;
    r.loud = s.loud;
    r.prominent = s.prominent;
    r.growing = s.growing;
    r.isolated = s.isolated;
    static_assert(DiagnosticRecord::kNotches == FrameSnapshot::kNotches, "one column pair per notch");
    r.notchHz = s.notchHz;
    r.notchDb = s.notchDb;
    return r;
}

} // namespace brindlecot
