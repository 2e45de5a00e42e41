#include "feedback-sim/RoomModel.h"

#include "feedback-sim/BenchDsp.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace brindlecot::sim {

namespace {

constexpr double kSpeedOfSound = 343.0; // m/s at about 20 degrees C

ShoeboxRoom makeRoom(const char* name, double w, double d, double h, double rt60, double highRatio,
    double singerX, double singerY, double wedgeDx, double wedgeDistance, uint32_t seed)
{
    ShoeboxRoom r;
    r.name = name;
    r.widthM = w;
    r.depthM = d;
    r.heightM = h;
    r.rt60Seconds = rt60;
    r.highRt60Ratio = highRatio;
    r.mouth = {singerX, singerY, 1.6};
    r.wedge = {singerX + wedgeDx, singerY + wedgeDistance, 0.3};
    // Handheld vocal microphone 4 cm in front of the mouth (towards the audience), slightly low.
    r.mic = {singerX, singerY + 0.04, 1.58};
    r.seed = seed;
    return r;
}

double norm(const Point3& a)
{
    return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}

Point3 minus(const Point3& a, const Point3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double cosine(const Point3& a, const Point3& b)
{
    const double n = norm(a) * norm(b);
    return n > 0.0 ? (a.x * b.x + a.y * b.y + a.z * b.z) / n : 1.0;
}

// Frequency-independent polar patterns: a cardioid microphone whose rear rejection bottoms out at
// -20 dB (real capsules do not null perfectly), and a wedge that radiates 12 dB less backwards.
double micPattern(double cosTheta)
{
    return std::max(0.1, 0.5 + 0.5 * cosTheta);
}

double wedgePattern(double cosTheta)
{
    return std::max(0.25, 0.5 + 0.5 * cosTheta);
}

// Adds an impulse of `gain` at the fractional position `at` (samples) with a Hann-windowed sinc of
// 8 taps either side, so arrival times are not rounded to the sample grid.
void addFractional(std::vector<double>& x, double at, double gain)
{
    constexpr int kHalf = 8;
    const long centre = static_cast<long>(std::floor(at));
    for (long n = centre - kHalf + 1; n <= centre + kHalf; ++n) {
        if (n < 0 || n >= static_cast<long>(x.size()))
            continue;
        const double t = static_cast<double>(n) - at;
        const double sinc = std::abs(t) < 1e-12 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
        const double window = 0.5 + 0.5 * std::cos(M_PI * t / kHalf);
        x[static_cast<size_t>(n)] += gain * sinc * window;
    }
}

} // namespace

std::vector<ShoeboxRoom> defaultRooms()
{
    // name, width, depth, height (m), RT60 low (s), high/low RT60, singer x, y, wedge offset x, wedge
    // distance from the singer (m), seed.
    return {
        makeRoom("rehearsal-room", 5.0, 4.2, 2.7, 0.2, 0.7, 2.3, 1.2, 0.1, 1.1, 11),
        makeRoom("small-stage-dry", 7.0, 5.5, 3.2, 0.3, 0.65, 3.4, 1.5, -0.2, 1.3, 12),
        makeRoom("small-stage-live", 8.0, 6.5, 3.6, 0.5, 0.6, 3.8, 1.6, 0.3, 1.4, 13),
        makeRoom("club", 14.0, 10.0, 4.5, 0.6, 0.55, 6.5, 2.0, 0.0, 1.5, 14),
        makeRoom("club-low-ceiling", 12.0, 9.0, 3.2, 0.8, 0.5, 5.2, 1.8, -0.3, 1.2, 15),
        makeRoom("theatre", 20.0, 16.0, 9.0, 1.0, 0.55, 9.5, 2.5, 0.2, 1.6, 16),
        makeRoom("hall", 30.0, 20.0, 12.0, 1.2, 0.5, 14.0, 3.0, 0.0, 1.5, 17),
        makeRoom("church-hall", 16.0, 11.0, 7.0, 1.2, 0.45, 7.5, 1.8, 0.4, 1.3, 18),
    };
}

double sabineAbsorption(double widthM, double depthM, double heightM, double rt60Seconds)
{
    const double volume = widthM * depthM * heightM;
    const double surface = 2.0 * (widthM * depthM + widthM * heightM + depthM * heightM);
    // Sabine's constant in Eyring's form: an image of order k carries (1 - alpha)^(k/2), and
    // c S / (4 V) reflections per second then give exactly this decay time (Sabine's own formula
    // would make the image-source rooms decay faster than asked).
    return std::clamp(1.0 - std::exp(-0.161 * volume / (surface * rt60Seconds)), 0.0, 0.99);
}

std::vector<float> shoeboxRoomImpulse(const ShoeboxRoom& room, double sampleRate)
{
    std::mt19937 rng(room.seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    auto between = [&](double lo, double hi) { return lo + (hi - lo) * uni(rng); };
    auto logBetween = [&](double lo, double hi) { return lo * std::pow(hi / lo, uni(rng)); };

    const double directM = norm(minus(room.wedge, room.mic));
    const double lengthSeconds = directM / kSpeedOfSound + room.rt60Seconds;
    const size_t length = static_cast<size_t>(std::ceil(lengthSeconds * sampleRate));
    const double maxDistanceM = lengthSeconds * kSpeedOfSound;
    // Reflection factor per wall hit for each band: sqrt(1 - alpha), alpha from Sabine's formula.
    const double betaLow
        = std::sqrt(1.0 - sabineAbsorption(room.widthM, room.depthM, room.heightM, room.rt60Seconds));
    const double betaHigh = std::sqrt(1.0
        - sabineAbsorption(room.widthM, room.depthM, room.heightM, room.rt60Seconds * room.highRt60Ratio));

    const Point3 micAxis = minus(room.mouth, room.mic);
    const Point3 wedgeAxis = minus(room.mouth, room.wedge);
    const double dims[3] = {room.widthM, room.depthM, room.heightM};
    const double src[3] = {room.wedge.x, room.wedge.y, room.wedge.z};
    int reach[3];
    for (int a = 0; a < 3; ++a)
        reach[a] = static_cast<int>(std::ceil(maxDistanceM / (2.0 * dims[a]))) + 1;

    std::vector<double> low(length, 0.0), high(length, 0.0);
    // Image sources of a rectangular room (Allen and Berkley 1979): along each axis the image sits
    // at (1 - 2u) s + 2 n L and has met |n - u| + |n| walls. Every image except the direct sound is
    // displaced by up to 8 cm at random (the randomised image method of De Sena et al. 2015), which
    // removes the sweeping echoes of a perfectly regular lattice.
    for (int nx = -reach[0]; nx <= reach[0]; ++nx)
        for (int ny = -reach[1]; ny <= reach[1]; ++ny)
            for (int nz = -reach[2]; nz <= reach[2]; ++nz)
                for (int parity = 0; parity < 8; ++parity) {
                    const int u[3] = {parity & 1, (parity >> 1) & 1, (parity >> 2) & 1};
                    const int n[3] = {nx, ny, nz};
                    double image[3];
                    int order = 0;
                    for (int a = 0; a < 3; ++a) {
                        image[a] = (1 - 2 * u[a]) * src[a] + 2.0 * n[a] * dims[a];
                        order += std::abs(n[a] - u[a]) + std::abs(n[a]);
                    }
                    Point3 p {image[0], image[1], image[2]};
                    const double d0 = norm(minus(p, room.mic));
                    if (d0 > maxDistanceM)
                        continue;
                    if (order > 0) {
                        p.x += between(-0.08, 0.08);
                        p.y += between(-0.08, 0.08);
                        p.z += between(-0.08, 0.08);
                    }
                    const Point3 arrival = minus(p, room.mic); // from the microphone towards the image
                    const double d = norm(arrival);
                    // Direction the sound left the real wedge: the image's direction to the
                    // microphone, mirrored back along every axis with an odd number of reflections.
                    Point3 leave = minus(room.mic, p);
                    if (u[0] != 0)
                        leave.x = -leave.x;
                    if (u[1] != 0)
                        leave.y = -leave.y;
                    if (u[2] != 0)
                        leave.z = -leave.z;
                    const double g = micPattern(cosine(arrival, micAxis))
                        * wedgePattern(cosine(leave, wedgeAxis)) / std::max(d, 0.1);
                    const double at = d / kSpeedOfSound * sampleRate;
                    addFractional(low, at, g * std::pow(betaLow, order));
                    addFractional(high, at, g * std::pow(betaHigh, order));
                }

    // Two decays joined by a Linkwitz-Riley crossover (two Butterworth sections per side): the
    // outputs sum to an all-pass, so a room with equal decays keeps a flat magnitude.
    const double q = std::sqrt(0.5);
    const double extra = 0.05 * sampleRate; // room for the transducer filters to ring out
    low.resize(length + static_cast<size_t>(extra), 0.0);
    high.resize(low.size(), 0.0);
    const Sos lp = designLowPass(room.bandSplitHz, q, sampleRate);
    const Sos hp = designHighPass(room.bandSplitHz, q, sampleRate);
    filterInPlace(low, {lp, lp});
    filterInPlace(high, {hp, hp});
    std::vector<double> h(low.size());
    for (size_t i = 0; i < h.size(); ++i)
        h[i] = low[i] + high[i];

    // Wedge: second-order band edges and two resonances; vocal microphone: low cut, a presence
    // peak and one more resonance. All drawn from the room's seed.
    std::vector<Sos> chain;
    chain.push_back(designHighPass(logBetween(90.0, 140.0), q, sampleRate));
    chain.push_back(designLowPass(logBetween(9000.0, 13000.0), q, sampleRate));
    chain.push_back(
        designPeaking(logBetween(300.0, 6000.0), between(-4.0, 6.0), between(0.7, 3.0), sampleRate));
    chain.push_back(
        designPeaking(logBetween(300.0, 6000.0), between(-4.0, 6.0), between(0.7, 3.0), sampleRate));
    chain.push_back(designHighPass(logBetween(70.0, 110.0), q, sampleRate));
    chain.push_back(
        designPeaking(logBetween(3000.0, 6000.0), between(3.0, 6.0), between(1.0, 2.0), sampleRate));
    chain.push_back(
        designPeaking(logBetween(200.0, 8000.0), between(-3.0, 4.0), between(1.0, 4.0), sampleRate));
    chain.push_back(designLowPass(logBetween(12000.0, 16000.0), q, sampleRate));
    filterInPlace(h, chain);

    // Mean power response over 100 Hz to 8 kHz to 0 dB.
    std::vector<std::complex<double>> spectrum(nextPowerOfTwo(2 * h.size()), 0.0);
    std::copy(h.begin(), h.end(), spectrum.begin());
    fftInPlace(spectrum, false);
    const double binHz = sampleRate / static_cast<double>(spectrum.size());
    double power = 0.0;
    int bins = 0;
    for (size_t k = 0; k <= spectrum.size() / 2; ++k) {
        const double f = static_cast<double>(k) * binHz;
        if (f >= 100.0 && f <= std::min(8000.0, 0.45 * sampleRate)) {
            power += std::norm(spectrum[k]);
            ++bins;
        }
    }
    const double scale = bins > 0 && power > 0.0 ? 1.0 / std::sqrt(power / bins) : 1.0;
    std::vector<float> out(h.size());
    for (size_t i = 0; i < h.size(); ++i)
        out[i] = static_cast<float>(h[i] * scale);
    return out;
}

double measuredRt60Seconds(const std::vector<float>& ir, double sampleRate)
{
    std::vector<double> tail(ir.size() + 1, 0.0);
    for (size_t i = ir.size(); i-- > 0;)
        tail[i] = tail[i + 1] + static_cast<double>(ir[i]) * ir[i];
    if (!(tail[0] > 0.0))
        return 0.0;
    double t5 = -1.0, t25 = -1.0;
    for (size_t i = 0; i < ir.size(); ++i) {
        const double db = 10.0 * std::log10(tail[i] / tail[0] + 1e-300);
        if (t5 < 0.0 && db <= -10.0)
            t5 = static_cast<double>(i) / sampleRate;
        if (t25 < 0.0 && db <= -30.0) {
            t25 = static_cast<double>(i) / sampleRate;
            break;
        }
    }
    return t5 >= 0.0 && t25 > t5 ? 3.0 * (t25 - t5) : 0.0;
}

} // namespace brindlecot::sim
