#include "velarune-process/AudioFile.h"

#include <cstdio>
#include <utility>

namespace brindlecot::tools {

bool readAudio(const std::string& path, Audio& audio, std::string& error)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "cannot read \"" + path + "\": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        sf_close(file);
        error = "\"" + path + "\" has " + std::to_string(info.channels)
            + " channels; only mono and stereo are supported";
        return false;
    }
    if (info.samplerate < 1) {
        sf_close(file);
        error = "\"" + path + "\" has no valid sample rate";
        return false;
    }
    std::vector<double> interleaved(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_double(file, interleaved.data(), info.frames);
    sf_close(file);
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.info = info;
    audio.samples.assign(static_cast<size_t>(info.channels), std::vector<double>(static_cast<size_t>(got)));
    for (sf_count_t n = 0; n < got; ++n)
        for (int c = 0; c < info.channels; ++c)
            audio.samples[static_cast<size_t>(c)][static_cast<size_t>(n)]
                = interleaved[static_cast<size_t>(n) * static_cast<size_t>(info.channels)
                    + static_cast<size_t>(c)];
    return true;
}

// Writes next to the destination first and renames, so a failed run never leaves half a file.
bool writeAudio(const std::string& path, const Audio& audio, std::string& error)
{
    SF_INFO info = audio.info;
    info.frames = 0;
    const std::string partial = path + ".partial";
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "cannot write \"" + path + "\": " + sf_strerror(nullptr);
        return false;
    }
    // Float output keeps the limiter's headroom exact; integer formats are clipped by libsndfile.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const size_t frames = audio.frames();
    std::vector<double> interleaved(frames * static_cast<size_t>(audio.channels));
    for (size_t n = 0; n < frames; ++n)
        for (int c = 0; c < audio.channels; ++c)
            interleaved[n * static_cast<size_t>(audio.channels) + static_cast<size_t>(c)]
                = audio.samples[static_cast<size_t>(c)][n];
    const sf_count_t written = sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(frames));
    const int closeError = sf_close(file);
    if (written != static_cast<sf_count_t>(frames) || closeError != 0
        || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        error = "writing \"" + path + "\" failed";
        return false;
    }
    return true;
}

Audio monoFloatWav(std::vector<double> samples, double sampleRate)
{
    Audio a;
    a.channels = 1;
    a.sampleRate = sampleRate;
    a.samples = {std::move(samples)};
    a.info.samplerate = static_cast<int>(sampleRate);
    a.info.channels = 1;
    a.info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    return a;
}

} // namespace brindlecot::tools
