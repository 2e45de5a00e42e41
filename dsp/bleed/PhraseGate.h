// Phrase gate: lowers the level between sung phrases toward a floor set by the bleed amount.
// Fully open until it lands; the frame already drives the full interface.
#pragma once

namespace brindlecot::dsp {

class PhraseGate
{
public:
    void prepare(double sampleRate, float depthDb)
    {
        (void)sampleRate;
        (void)depthDb;
        resetOpen();
    }
    /// Fully open: power and peak 0, openness 1, hold counter 0.
    void resetOpen() { openness_ = 1.0f; }
    void setDepth(float depthDb, float floorFactor)
    {
        (void)depthDb;
        floor_ = floorFactor;
    }
    void setVoicePresent(bool present) { (void)present; }
    void update(float mono, float clean)
    {
        (void)mono;
        (void)clean;
    }
    float openness() const { return openness_; }
    float floorFactor() const { return floor_; }

private:
    float openness_ = 1.0f;
    float floor_ = 1.0f;
};

} // namespace brindlecot::dsp
