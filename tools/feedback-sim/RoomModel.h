// Seeded shoebox rooms for the feedback bench: the impulse response from a stage wedge to a vocal
// microphone by the image-source method, with two-band (low/high) Sabine absorption, simple
// loudspeaker and microphone directivity, and seeded band-pass plus colouration of both
// transducers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brindlecot::sim {

struct Point3
{
    double x = 0.0, y = 0.0, z = 0.0; // m; x across the room, y from the back wall, z up
};

/// One room, wedge and microphone. The wedge aims at the singer's mouth; the microphone sits in
/// front of the mouth and points at it, so the wedge reaches it from behind (cardioid rejection).
struct ShoeboxRoom
{
    std::string name;
    double widthM = 10.0, depthM = 8.0, heightM = 4.0;
    // Decay time of the low band's surfaces; the broadband response decays at about this rate, its
    // lows a little slower (a shoebox is not perfectly diffuse) and its highs faster.
    double rt60Seconds = 0.6;
    double highRt60Ratio = 0.6; // RT60 above the band split relative to rt60Seconds (highs decay faster)
    double bandSplitHz = 1500.0; // Linkwitz-Riley fourth-order crossover between the two decays
    Point3 mouth {5.0, 2.0, 1.6};
    Point3 wedge {5.0, 3.3, 0.3};
    Point3 mic {5.0, 2.05, 1.58};
    uint32_t seed = 1; // transducer colouration and the image displacements
};

/// The bench's default room set: small stages, clubs and halls, RT60 0.2 to 1.2 s.
std::vector<ShoeboxRoom> defaultRooms();

/// Impulse response at sampleRate, length sized to the low-band RT60, normalised so the mean power
/// response over 100 Hz to 8 kHz is 1 (0 dB): a room's loop gain limit then reads as minus its
/// peak-to-mean ratio.
std::vector<float> shoeboxRoomImpulse(const ShoeboxRoom& room, double sampleRate);

/// Absorption coefficient of the surfaces that gives rt60Seconds in an image-source room:
/// 1 - exp(-0.161 V / (S RT60)) (Sabine's constant, Eyring's form).
double sabineAbsorption(double widthM, double depthM, double heightM, double rt60Seconds);

/// Decay time to -60 dB of an impulse response by Schroeder backward integration (the fall from
/// -10 to -30 dB, times 3, past the direct sound), seconds; 0 when the response is too short to tell.
double measuredRt60Seconds(const std::vector<float>& ir, double sampleRate);

} // namespace brindlecot::sim
