#include "feedback-sim/FeedbackLoop.h"
#include "feedback-sim/LoopAnalysis.h"

#include "diag/DiagnosticLog.h"
#include "dsp/feedback/Fft2048.h"
#include "engine/ProcessingFrame.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

namespace brindlecot::sim {

namespace {

double dbToLinear(double db)
{
    return std::pow(10.0, db / 20.0);
}

double energy(const std::vector<double>& x, size_t from, size_t to)
{
    double e = 0.0;
    for (size_t n = from; n < to && n < x.size(); ++n)
        e += x[n] * x[n];
    return e;
}

} // namespace

// ---- Processors -----------------------------------------------------------------------------

void IdentityProcessor::process(const double* in, double* out, int frames)
{
    std::copy(in, in + frames, out);
}

GainProcessor::GainProcessor(double gainDb)
    : gain_(dbToLinear(gainDb))
{ }

void GainProcessor::process(const double* in, double* out, int frames)
{
    for (int i = 0; i < frames; ++i)
        out[i] = gain_ * in[i];
}

SectionsProcessor::SectionsProcessor(std::vector<Sos> sections)
{
    for (const Sos& s : sections)
        filters_.emplace_back(s);
}

void SectionsProcessor::reset()
{
    for (SosFilter& f : filters_)
        f.reset();
}

void SectionsProcessor::process(const double* in, double* out, int frames)
{
    for (int i = 0; i < frames; ++i) {
        double v = in[i];
        for (SosFilter& f : filters_)
            v = f.process(v);
        out[i] = v;
    }
}

std::vector<double> measureImpulse(LoopProcessor& processor, int length, int blockSize, double level)
{
    processor.reset();
    std::vector<double> in(static_cast<size_t>(std::max(0, length)), 0.0), out(in.size(), 0.0);
    if (!in.empty())
        in[0] = level;
    const int block = std::max(1, blockSize);
    for (int at = 0; at < length; at += block)
        processor.process(in.data() + at, out.data() + at, std::min(block, length - at));
    for (double& v : out)
        v /= level;
    processor.reset();
    return out;
}

FrameProcessor::FrameProcessor(double sampleRate, double feedbackReductionPercent)
    : sampleRate_(sampleRate)
    , reduction_(feedbackReductionPercent)
    , frame_(std::make_unique<ProcessingFrame>(0))
{
    reset();
}

FrameProcessor::~FrameProcessor() = default;

void FrameProcessor::reset()
{
    // A fresh frame per run: no state (lane bookkeeping, meters) survives from the previous one.
    frame_ = std::make_unique<ProcessingFrame>(0);
    ParameterValues params = defaultParameterValues();
    params[kFeedbackReduction] = reduction_;
    frame_->onReset(sampleRate_, params);
    playheadSamples_ = 0.0;
    if (log_ != nullptr)
        log_->clearChangeTracking(); // a new frame: its notches start from none
}

void FrameProcessor::attachLog(DiagnosticLog* log, std::string folder)
{
    log_ = log;
    logFolder_ = std::move(folder);
    if (log_ != nullptr)
        log_->clearChangeTracking();
}

void FrameProcessor::process(const double* in, double* out, int frames)
{
    ParameterValues params = defaultParameterValues();
    params[kFeedbackReduction] = reduction_;
    const double* inputs[1] = {in};
    double* outputs[1] = {out};
    frame_->setTransport(true, playheadSamples_);
    frame_->process(params, inputs, 1, outputs, 1, frames);
    playheadSamples_ += frames;
    if (log_ != nullptr) {
        log_->recordBlock(frame_->lastSnapshot());
        log_->drain(logFolder_);
    }
}

int FrameProcessor::activeNotchCount() const
{
    return frame_->published.activeNotchCount.load();
}

uint64_t FrameProcessor::detectorAnalyses() const
{
    return frame_->feedbackSuppressor().detector().analysisCount();
}

uint64_t FrameProcessor::heldTrackAnalyses() const
{
    return frame_->feedbackSuppressor().detector().heldFrames();
}

bool FrameProcessor::trackRunning() const
{
    return frame_->feedbackSuppressor().detector().trackFrames() > 0;
}

// ---- Rooms ----------------------------------------------------------------------------------

namespace {

// A second-order Butterworth high-pass or low-pass over a float response, in double precision.
void bandLimit(std::vector<float>& x, double cornerHz, double sampleRate, bool highPass)
{
    if (!(cornerHz > 0.0) || cornerHz >= 0.5 * sampleRate)
        return;
    const double q = std::sqrt(0.5);
    SosFilter f(highPass ? designHighPass(cornerHz, q, sampleRate) : designLowPass(cornerHz, q, sampleRate));
    for (float& v : x)
        v = static_cast<float>(f.process(v));
}

} // namespace

std::vector<float> syntheticRoom(const RoomSettings& s, double sampleRate)
{
    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const int direct = static_cast<int>(std::lround(s.preDelayMs * 1e-3 * sampleRate));
    const int tailStart = direct + static_cast<int>(std::lround(s.tailStartMs * 1e-3 * sampleRate));
    const int tailLength = static_cast<int>(std::lround(s.rt60Seconds * sampleRate)); // down to -60 dB
    std::vector<float> h(static_cast<size_t>(tailStart + tailLength + 1), 0.0f);
    h[static_cast<size_t>(direct)] = 1.0f;
    for (int r = 0; r < s.earlyReflections; ++r) {
        const int at = direct + 1 + static_cast<int>(uni(rng) * s.earlyWindowMs * 1e-3 * sampleRate);
        const double gain = (0.3 + 0.4 * uni(rng)) * (uni(rng) < 0.5 ? -1.0 : 1.0);
        h[static_cast<size_t>(at)] += static_cast<float>(gain);
    }
    // Exponential decay of 60 dB over rt60: amplitude factor 10^(-3 t / rt60).
    const double tail0 = dbToLinear(s.tailLevelDb);
    for (int n = 0; n < tailLength; ++n) {
        const double t = n / sampleRate;
        h[static_cast<size_t>(tailStart + n)]
            += static_cast<float>(tail0 * std::pow(10.0, -3.0 * t / s.rt60Seconds) * gauss(rng));
    }
    // Loudspeaker and microphone band: second-order Butterworth high-pass and low-pass (RBJ Audio EQ
    // Cookbook), so the loop cannot ring outside the band a stage monitor actually reproduces.
    h.resize(h.size() + static_cast<size_t>(0.02 * sampleRate), 0.0f);
    bandLimit(h, s.lowCutHz, sampleRate, true);
    bandLimit(h, s.highCutHz, sampleRate, false);
    return h;
}

std::vector<float> pureDelayRoom(int delaySamples)
{
    std::vector<float> h(static_cast<size_t>(std::max(0, delaySamples)) + 1, 0.0f);
    h.back() = 1.0f;
    return h;
}

double theoreticalStableGainDb(const std::vector<float>& room, double sampleRate, double loHz, double hiHz)
{
    // The room alone (a unity chain, no extra delay) on the open-loop analysis's fine grid.
    return magnitudeLimitDb(openLoopResponse(room, {}, 0, sampleRate), loHz, hiHz);
}

// ---- The loop -------------------------------------------------------------------------------

FeedbackLoop::FeedbackLoop(std::vector<float> room, int blockSize, int totalFrames)
    : blockSize_(std::max(1, blockSize))
{
    if (room.empty())
        room.push_back(0.0f);
    const int length = static_cast<int>(room.size());
    headLength_ = std::min(length, kPartition);
    while (offset_ < headLength_ - 1 && room[static_cast<size_t>(offset_)] == 0.0f)
        ++offset_;
    const int taps = headLength_ - offset_;
    reversed_.resize(static_cast<size_t>(taps));
    for (int j = 0; j < taps; ++j)
        reversed_[static_cast<size_t>(j)] = room[static_cast<size_t>(headLength_ - 1 - j)];

    // Partition p holds taps kPartition (p + 1) .. kPartition (p + 2) - 1, zero-padded to 2 kPartition.
    constexpr size_t kFft = 2 * kPartition;
    for (int start = kPartition; start < length; start += kPartition) {
        std::vector<std::complex<double>> x(kFft, 0.0);
        for (int j = 0; j < kPartition && start + j < length; ++j)
            x[static_cast<size_t>(j)] = room[static_cast<size_t>(start + j)];
        fftInPlace(x, false);
        x.resize(kPartition + 1);
        tailSpectra_.push_back(std::move(x));
    }
    historySpectra_.assign(tailSpectra_.size(), std::vector<std::complex<double>>(kPartition + 1, 0.0));
    scratch_.assign(kFft, 0.0);
    tailOut_.assign(kPartition, 0.0);

    pad_ = length + 2 * kPartition;
    speaker_.assign(static_cast<size_t>(pad_ + std::max(0, totalFrames) + blockSize_ + kPartition), 0.0);
    pending_.assign(static_cast<size_t>(blockSize_), 0.0);
}

void FeedbackLoop::setLoopGainDb(double gainDb)
{
    gain_ = dbToLinear(gainDb);
}

void FeedbackLoop::computeTail(int chunk)
{
    // Overlap-save: frame j is the loudspeaker over [(j - 1) P, (j + 1) P); the last P outputs of
    // (partition p) circularly convolved with frame (chunk - 1 - p) are the room tail's share of
    // frames chunk P .. chunk P + P - 1. Frame chunk - 1 ends at chunk P - 1, already played.
    const size_t parts = tailSpectra_.size();
    const double* s = speaker_.data() + pad_ + (chunk - 2) * kPartition;
    for (int i = 0; i < 2 * kPartition; ++i)
        scratch_[static_cast<size_t>(i)] = s[i];
    fftInPlace(scratch_, false);
    historyNewest_ = static_cast<int>((static_cast<size_t>(historyNewest_) + 1) % parts);
    std::copy(scratch_.begin(), scratch_.begin() + kPartition + 1,
        historySpectra_[static_cast<size_t>(historyNewest_)].begin());

    std::fill(scratch_.begin(), scratch_.end(), std::complex<double>(0.0));
    for (size_t p = 0; p < parts; ++p) {
        const auto& h = tailSpectra_[p];
        const auto& x = historySpectra_[(static_cast<size_t>(historyNewest_) + parts - p) % parts];
        for (size_t k = 0; k <= kPartition; ++k)
            scratch_[k] += h[k] * x[k];
    }
    for (size_t k = 1; k < kPartition; ++k)
        scratch_[2 * kPartition - k] = std::conj(scratch_[k]);
    fftInPlace(scratch_, true);
    for (int i = 0; i < kPartition; ++i)
        tailOut_[static_cast<size_t>(i)] = scratch_[static_cast<size_t>(kPartition + i)].real();
}

int FeedbackLoop::step(const double* source, LoopProcessor& processor, double* micOut, double* out)
{
    const int available = static_cast<int>(speaker_.size()) - pad_ - blockSize_ - kPartition - position_;
    const int frames = std::min(blockSize_, available);
    if (frames <= 0)
        return 0;
    // The loudspeaker now plays what the processor produced for the previous block.
    for (int i = 0; i < frames; ++i) {
        const double v = pending_[static_cast<size_t>(i)];
        speaker_[static_cast<size_t>(pad_ + position_ + i)]
            = std::isfinite(v) ? std::clamp(v, -kSpeakerLimit, kSpeakerLimit) : 0.0;
    }

    const int taps = static_cast<int>(reversed_.size());
    const bool tail = !tailSpectra_.empty();
    for (int i = 0; i < frames; ++i) {
        const int n = position_ + i;
        if (tail && n % kPartition == 0)
            computeTail(n / kPartition);
        // mic[n] = source[n] + g * sum_k h[k] speaker[n - k]
        const double* s = speaker_.data() + pad_ + n - (headLength_ - 1);
        double acc[4] = {0.0, 0.0, 0.0, 0.0};
        int j = 0;
        for (; j + 4 <= taps; j += 4) {
            acc[0] += reversed_[static_cast<size_t>(j)] * s[j];
            acc[1] += reversed_[static_cast<size_t>(j + 1)] * s[j + 1];
            acc[2] += reversed_[static_cast<size_t>(j + 2)] * s[j + 2];
            acc[3] += reversed_[static_cast<size_t>(j + 3)] * s[j + 3];
        }
        for (; j < taps; ++j)
            acc[0] += reversed_[static_cast<size_t>(j)] * s[j];
        double sum = (acc[0] + acc[1]) + (acc[2] + acc[3]);
        if (tail)
            sum += tailOut_[static_cast<size_t>(n % kPartition)];
        micOut[i] = source[i] + gain_ * sum;
    }
    processor.process(micOut, out, frames);
    std::fill(pending_.begin(), pending_.end(), 0.0);
    std::copy(out, out + frames, pending_.begin());
    position_ += frames;
    return frames;
}

RunResult runLoop(const std::vector<double>& source, const std::vector<float>& room, LoopProcessor& processor,
    const RunSettings& settings, const RunResult* reference)
{
    const int total = static_cast<int>(source.size());
    const int muteFrom = std::max(0, total - settings.mutedFrames());
    std::vector<double> played(source);
    std::fill(played.begin() + muteFrom, played.end(), 0.0);

    RunResult r;
    r.loopGainDb = settings.loopGainDb;
    r.mic.assign(source.size(), 0.0);
    r.output.assign(source.size(), 0.0);
    processor.reset();
    FeedbackLoop loop(room, settings.blockSize, total);
    const int onset = static_cast<int>(settings.onsetSeconds * settings.sampleRate);
    int lastCount = 0;
    while (loop.position() < total) {
        const int at = loop.position();
        loop.setLoopGainDb(at >= onset ? settings.loopGainDb : settings.quietGainDb);
        const int frames = loop.step(played.data() + at, processor, r.mic.data() + at, r.output.data() + at);
        if (frames <= 0)
            break;
        const int count = processor.activeNotchCount();
        if (count > lastCount)
            r.notchEngagements += count - lastCount;
        lastCount = count;
        r.maxNotches = std::max(r.maxNotches, count);
        if (count > 0 && r.firstNotchFrame < 0 && at + frames > onset)
            r.firstNotchFrame = at + frames;
        if (r.firstTrackFrame < 0 && at + frames > onset && processor.trackRunning())
            r.firstTrackFrame = at + frames;
    }

    r.analyses = processor.detectorAnalyses();
    r.heldTrackAnalyses = processor.heldTrackAnalyses();

    const size_t w = static_cast<size_t>(settings.judgeWindowSeconds * settings.sampleRate);
    if (w == 0)
        return r;
    // While the source plays: windows counted back from the mute.
    const size_t windows = static_cast<size_t>(muteFrom) / w;
    const size_t first = static_cast<size_t>(muteFrom) - windows * w;
    std::vector<double> ratio;
    for (size_t i = 0; i < windows; ++i) {
        const size_t from = first + i * w;
        const double out = energy(r.output, from, from + w);
        r.windowEnergy.push_back(out);
        // What the room brought to the microphone (mic minus source): exactly the loop's share.
        double loop = 0.0;
        for (size_t n = from; n < from + w; ++n)
            loop += (r.mic[n] - played[n]) * (r.mic[n] - played[n]);
        r.windowLoopEnergy.push_back(loop);
        double expected = energy(played, from, from + w);
        if (reference != nullptr && i < reference->windowEnergy.size()
            && i < reference->windowLoopEnergy.size()) {
            // The reference's output, with its loop share grown by the loop gain difference: what
            // this run would give if the loop did not regenerate.
            const double grow = std::pow(10.0, (settings.loopGainDb - reference->loopGainDb) / 10.0) - 1.0;
            expected = reference->windowEnergy[i] + reference->windowLoopEnergy[i] * std::max(0.0, grow);
        }
        ratio.push_back((out + 1e-30) / (expected + 1e-30));
    }
    // Level: the median of the last windows, so one sung note on a near-limit peak (a stable but
    // strongly boosted ring) does not count as a howl, while a howl held in most windows does.
    const size_t levelWindows
        = std::min(ratio.size(), static_cast<size_t>(std::max(1, settings.levelWindows)));
    if (levelWindows > 0) {
        std::vector<double> last(ratio.end() - static_cast<long>(levelWindows), ratio.end());
        std::sort(last.begin(), last.end());
        r.excessDb = 10.0 * std::log10(last[last.size() / 2]);
    }
    // Growth: what the output carries beyond the expected level (floored at a tenth of it, so
    // that nothing does not grow) must rise from each window to the next over the last
    // growthWindows; the smallest of those rises is the growth.
    const size_t growthWindows
        = std::min(ratio.size(), static_cast<size_t>(std::max(2, settings.growthWindows)));
    r.growthDb = -200.0;
    if (growthWindows >= 2) {
        r.growthDb = 200.0;
        for (size_t i = ratio.size() - growthWindows + 1; i < ratio.size(); ++i) {
            const double now = std::max(ratio[i] - 1.0, 0.1), before = std::max(ratio[i - 1] - 1.0, 0.1);
            r.growthDb = std::min(r.growthDb, 10.0 * std::log10(now / before));
        }
    }

    // After the mute the output must ring down (or be silent already).
    bool ringsDown = true;
    const size_t n = source.size();
    if (n >= 2 * w) {
        const double e2 = energy(r.output, n - w, n);
        const double e1 = energy(r.output, n - 2 * w, n - w);
        r.decayDb = 10.0 * std::log10((e2 + 1e-300) / (e1 + 1e-300));
        const bool silent = e2 / static_cast<double>(w) < std::pow(10.0, settings.silenceDbfs / 10.0);
        ringsDown = silent || r.decayDb <= settings.decayLimitDb;
    }
    r.stable = ringsDown && r.excessDb <= settings.howlExcessDb && r.growthDb <= settings.growthLimitDb;
    return r;
}

double findMaxStableGainDb(const std::vector<double>& source, const std::vector<float>& room,
    LoopProcessor& processor, RunSettings settings, double startDb, double stepDb, double maxDb)
{
    settings.onsetSeconds = 0.0;
    settings.loopGainDb = startDb - settings.referenceBelowDb;
    const RunResult reference = runLoop(source, room, processor, settings);
    double best = startDb - stepDb;
    for (int i = 0;; ++i) {
        const double g = startDb + stepDb * i;
        if (g > maxDb + 1e-9)
            break;
        settings.loopGainDb = g;
        if (!runLoop(source, room, processor, settings, &reference).stable)
            break;
        best = g;
    }
    return best;
}

double spectralDistortionDb(const std::vector<double>& source, const std::vector<double>& output,
    double sampleRate, double loHz, double hiHz, int fromFrame)
{
    constexpr size_t kN = dsp::Fft2048::kSize;
    const dsp::Fft2048 fft;
    std::vector<float> window(kN);
    for (size_t i = 0; i < kN; ++i)
        window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / kN));
    std::vector<double> ps(kN / 2 + 1, 0.0), po(kN / 2 + 1, 0.0);
    std::vector<float> re(kN), im(kN);
    auto accumulate = [&](const std::vector<double>& x, size_t start, std::vector<double>& p) {
        for (size_t i = 0; i < kN; ++i) {
            re[i] = static_cast<float>(x[start + i]) * window[i];
            im[i] = 0.0f;
        }
        fft.transform(re.data(), im.data());
        for (size_t k = 0; k <= kN / 2; ++k)
            p[k] += static_cast<double>(re[k]) * re[k] + static_cast<double>(im[k]) * im[k];
    };
    const size_t n = std::min(source.size(), output.size());
    for (size_t start = static_cast<size_t>(std::max(0, fromFrame)); start + kN <= n; start += kN / 2) {
        accumulate(source, start, ps);
        accumulate(output, start, po);
    }
    std::vector<double> d;
    for (size_t k = 0; k <= kN / 2; ++k) {
        const double f = static_cast<double>(k) * sampleRate / kN;
        if (f < loHz || f > hiHz || ps[k] <= 0.0)
            continue;
        d.push_back(10.0 * std::log10((po[k] + 1e-30) / ps[k]));
    }
    if (d.empty())
        return 0.0;
    double mean = 0.0;
    for (double v : d)
        mean += v;
    mean /= static_cast<double>(d.size());
    double sq = 0.0;
    for (double v : d)
        sq += (v - mean) * (v - mean);
    return std::sqrt(sq / static_cast<double>(d.size()));
}

// ---- Test signals ---------------------------------------------------------------------------

std::vector<double> testSignal(const std::string& kind, double sampleRate, double seconds, uint32_t seed)
{
    const size_t frames = static_cast<size_t>(std::max(0.0, seconds) * sampleRate);
    std::vector<double> x(frames, 0.0);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);

    if (kind == "noise") {
        // Pink-ish noise: Paul Kellet's economy filter on white noise, about -40 dBFS RMS (an
        // ambient floor at the microphone rather than a programme signal).
        double b0 = 0.0, b1 = 0.0, b2 = 0.0;
        for (double& v : x) {
            const double white = gauss(rng);
            b0 = 0.99765 * b0 + white * 0.0990460;
            b1 = 0.96300 * b1 + white * 0.2965164;
            b2 = 0.57000 * b2 + white * 1.0526913;
            v = 0.004 * (b0 + b1 + b2 + white * 0.1848);
        }
        return x;
    }

    // "voice": phrases of sung notes on a scale from A3 to A5, 0.35 to 0.8 s each, with vibrato
    // after the onset, harmonics to 8 kHz falling 6 dB per octave with a formant, breath noise,
    // and a short breath gap after every few notes.
    static const double kScale[] = {220.0, 246.94, 261.63, 293.66, 329.63, 349.23, 392.0, 440.0, 493.88,
        523.25, 587.33, 659.26, 698.46, 783.99, 880.0};
    size_t n = 0;
    int noteInPhrase = 0;
    while (n < frames) {
        const double f0 = kScale[static_cast<size_t>(uni(rng) * 15.0) % 15];
        const size_t length = static_cast<size_t>((0.35 + 0.45 * uni(rng)) * sampleRate);
        const double formantHz = 500.0 + 2000.0 * uni(rng);
        const double level = 0.05 + 0.05 * uni(rng);
        const double vibratoHz = 5.0 + uni(rng);
        double phase = 0.0;
        const int harmonics = std::max(1, static_cast<int>(8000.0 / f0));
        for (size_t i = 0; i < length && n + i < frames; ++i) {
            const double t = static_cast<double>(i) / sampleRate;
            const double dur = static_cast<double>(length) / sampleRate;
            const double env = std::min({1.0, t / 0.04, (dur - t) / 0.06});
            const double vib = t > 0.2 ? 0.006 * std::sin(2.0 * M_PI * vibratoHz * t) : 0.0;
            phase += 2.0 * M_PI * f0 * (1.0 + vib) / sampleRate;
            double v = 0.0;
            for (int h = 1; h <= harmonics; ++h) {
                const double hz = h * f0;
                const double formant = 1.0 + 2.0 * std::exp(-std::pow((hz - formantHz) / 400.0, 2.0));
                v += formant / h * std::sin(h * phase);
            }
            x[n + i] = level * env * v + 0.002 * env * gauss(rng);
        }
        n += length;
        if (++noteInPhrase >= 3 + static_cast<int>(uni(rng) * 3.0)) {
            noteInPhrase = 0;
            n += static_cast<size_t>((0.1 + 0.2 * uni(rng)) * sampleRate); // breath gap (silence)
        }
    }
    return x;
}

} // namespace brindlecot::sim
