// velarune-bleed-bound: the runtime's bleed stage (spectral processor and phrase gate) driven by a clean
// reference and a voice decision that the caller supplies. Fed with the true vocal and its true activity, it
// shows what the stage's own floors, mask and gate timing allow with a perfect canceller and a perfect voice
// detector: the bound that no bleed model can pass.
//
//   velarune-bleed-bound [--rate HZ] [--amount 0..1] < in.f32 > out.f32
//
// Input: interleaved little-endian float32 frames (vocal, bleed, clean reference, voice flag); the
// mix is vocal + bleed, and the flag (> 0.5 is a voice) is read once per 64-sample block, as the
// frame reads the ride's decision. Output: interleaved float32 frames (vocal, bleed) after the
// stage. The stage analyses the mean of its two lanes, so the lanes carry twice the vocal and
// twice the bleed (their mean is the mix); both lanes get the same filters and gate gain, so half
// of each output lane is exactly what the stage did to the vocal and to the bleed.
#include "dsp/bleed/BleedStage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace brindlecot::dsp;

namespace {

constexpr int kBlock = 64;

int usage(const char* why)
{
    std::fprintf(stderr,
        "velarune-bleed-bound: %s\nusage: velarune-bleed-bound [--rate HZ] [--amount 0..1] "
        "< vocal,bleed,clean,flag float32 frames > vocal,bleed float32 frames\n",
        why);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    double rate = 48000.0;
    float amount = 1.0f;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--rate" || a == "--amount") && i + 1 < argc) {
            char* end = nullptr;
            const double v = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !std::isfinite(v))
                return usage(("not a number: " + std::string(argv[i])).c_str());
            if (a == "--rate") {
                if (v < 8000.0 || v > 192000.0)
                    return usage("the rate must be 8000 to 192000 Hz");
                rate = v;
            } else {
                if (v < 0.0 || v > 1.0)
                    return usage("the amount must be 0 to 1");
                amount = static_cast<float>(v);
            }
        } else {
            return usage(("unknown argument: " + a).c_str());
        }
    }

    // No models are loaded, so the stage never runs a canceller; the clean reference comes in.
    auto stage = std::make_unique<BleedStage>();
    stage->prepare(rate, 0.0f);
    stage->setChannelLanes(2);
    stage->syncLanes(2);
    stage->setControls(amount, 0.0f);
    stage->beginSamples(false, false);

    std::vector<float> in(static_cast<size_t>(kBlock) * 4);
    std::vector<float> out(static_cast<size_t>(kBlock) * 2);
    for (;;) {
        const size_t frames = std::fread(in.data(), sizeof(float) * 4, kBlock, stdin);
        if (frames == 0)
            break;
        stage->setVoicePresent(in[3] > 0.5f);
        for (size_t n = 0; n < frames; ++n) {
            const float vocal = in[4 * n];
            const float bleed = in[4 * n + 1];
            float lanes[2] = {2.0f * vocal, 2.0f * bleed};
            float openness = 1.0f;
            const float g = 0.5f * stage->processWithClean(lanes, 2, vocal + bleed, in[4 * n + 2], openness);
            out[2 * n] = lanes[0] * g;
            out[2 * n + 1] = lanes[1] * g;
        }
        if (std::fwrite(out.data(), sizeof(float) * 2, frames, stdout) != frames) {
            std::fprintf(stderr, "velarune-bleed-bound: write failed\n");
            return 1;
        }
    }
    return std::ferror(stdin) ? 1 : 0;
}
