// Reading and writing the audio files of velarune-process with libsndfile (WAV, FLAC, ...).
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace brindlecot::tools {

struct Audio
{
    int channels = 0;
    double sampleRate = 0.0;
    std::vector<std::vector<double>> samples; // planar
    SF_INFO info {};
    size_t frames() const { return samples.empty() ? 0 : samples[0].size(); }
};

/// Reads a mono or stereo file; on failure returns false and sets `error` to a one-line message.
bool readAudio(const std::string& path, Audio& audio, std::string& error);

/// Writes `audio` in the format of `audio.info`; a failed write leaves no file behind.
bool writeAudio(const std::string& path, const Audio& audio, std::string& error);

/// A mono 32-bit float WAV holding `samples`.
Audio monoFloatWav(std::vector<double> samples, double sampleRate);

} // namespace brindlecot::tools
