#include "diag/DiagnosticCsv.h"

#include <charconv>
#include <cstring>

namespace brindlecot {

namespace {

class RowBuilder
{
public:
    explicit RowBuilder(std::string& out)
        : out_(out)
    { }

    void separator()
    {
        if (!first_)
            out_ += ',';
        first_ = false;
    }

    void real(double v)
    {
        separator();
        char buffer[400]; // the widest fixed double (1.8e308 with 4 decimals) fits
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 4);
        out_.append(buffer, r.ptr);
    }

    template <typename Int> void integer(Int v)
    {
        separator();
        char buffer[24];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
        out_.append(buffer, r.ptr);
    }

    void flag(bool v)
    {
        separator();
        out_ += v ? '1' : '0';
    }

    void text(const char* v)
    {
        separator();
        out_ += v;
    }

private:
    std::string& out_;
    bool first_ = true;
};

std::string makeHeader()
{
    std::string h = "block,transport,playhead_seconds,event,frequency_hz,notch_depth_db,reduction_db,"
                    "bleed_explained_db,notch_count,bleed_amount,feedback_amount,input_gain_db,"
                    "output_gain_db,ceiling_reduction_db,candidate_hz,prominence_db,growth_db,window_rms,"
                    "frames,directionality,loud,prominent,growing,isolated";
    for (int i = 0; i < DiagnosticRecord::kNotches; ++i)
        h += ",notch" + std::to_string(i) + "_hz,notch" + std::to_string(i) + "_db";
    h += ",dropped\r\n";
    return h;
}

} // namespace

const std::string& diagnosticCsvHeader()
{
    static const std::string header = makeHeader();
    return header;
}

std::string diagnosticCsvRow(const DiagnosticRecord& r)
{
    std::string out;
    out.reserve(512);
    RowBuilder b(out);
    b.integer(r.block);
    b.flag(r.transport);
    b.real(r.playheadSeconds);
    b.text(diagnosticEventName(r.event));
    b.real(r.frequencyHz);
    b.real(r.notchDepthDb);
    b.real(r.reductionDb);
    b.real(r.bleedExplainedDb);
    b.integer(r.notchCount);
    b.real(r.bleedAmount);
    b.real(r.feedbackAmount);
    b.real(r.inputGainDb);
    b.real(r.outputGainDb);
    b.real(r.ceilingReductionDb);
    b.real(r.candidateHz);
    b.real(r.prominenceDb);
    b.real(r.growthDb);
    b.real(r.windowRms);
    b.integer(r.frames);
    b.real(r.directionality);
    b.flag(r.loud);
    b.flag(r.prominent);
    b.flag(r.growing);
    b.flag(r.isolated);
    for (size_t i = 0; i < static_cast<size_t>(DiagnosticRecord::kNotches); ++i) {
        b.real(r.notchHz[i]);
        b.real(r.notchDb[i]);
    }
    b.integer(r.dropped);
    out += "\r\n";
    return out;
}

} // namespace brindlecot
