#include "dsp/bleed/BleedModels.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace brindlecot::dsp {

namespace {

    std::string upperCase(const std::string& s)
    {
        std::string u = s;
        for (char& ch : u)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return u;
    }

    bool fileExists(const std::string& path)
    {
        std::error_code ec;
        return std::filesystem::is_regular_file(path, ec);
    }

    template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
    weightsio::Status readFile(const std::string& path, FilterHeadWeights<I, W1, W2, K>& weights)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open())
            return weightsio::Status::StreamUnreadable;
        return weightsio::readStream<I, 32, W1, W2, K>(in, weights);
    }

    // Embedded resource first, then the bare file name, then the fallback path.
    template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
    ModelLoadResult locateAndRead(
        const std::string& name, const ModelSearch& search, std::unique_ptr<FilterHeadWeights<I, W1, W2, K>>& out)
    {
        auto weights = std::make_unique<FilterHeadWeights<I, W1, W2, K>>();
        weights->clear();
        ModelLoadResult result;
        const EmbeddedResource resource
            = search.embedded != nullptr ? search.embedded(upperCase(name).c_str()) : EmbeddedResource {};
        if (resource.name != nullptr) {
            // A resource of 7 bytes or less counts as absent: a null block.
            const uint8_t* block = resource.size > 7 ? resource.data : nullptr;
            const uint64_t size = block != nullptr ? resource.size : 0;
            result.status = weightsio::readMemory<I, 32, W1, W2, K>(block, size, *weights);
            result.path = name;
            result.sourceLabel = " (binary)";
        } else {
            const std::string bare = search.bareNameDirectory.empty() ? name : search.bareNameDirectory + "/" + name;
            if (fileExists(bare)) {
                result.path = bare;
                result.sourceLabel = " (bundle)";
            } else {
                result.path = search.fallbackDirectory + name;
                result.sourceLabel = " (source tree)";
            }
            result.status = readFile(result.path, *weights);
        }
        if (result.status == weightsio::Status::Ok)
            out = std::move(weights);
        else
            out.reset();
        return result;
    }

} // namespace

void BleedModels::loadModels(const ModelSearch& search)
{
    fullResult_ = locateAndRead(kFullModelName, search, fullWeights_);
    ecoResult_ = locateAndRead(kEcoModelName, search, ecoWeights_);
    fullModelLoaded = fullWeights_ != nullptr;
    ecoModelLoaded = ecoWeights_ != nullptr;
    full.setWeights(fullWeights_.get());
    eco.setWeights(ecoWeights_.get());
    full.reset();
    eco.reset();

    status = std::string("Velarune ") + kProductVersion + " \xC2\xB7 bleed: spectral + phrase gate \xC2\xB7 0 samples latency";
    if (fullModelLoaded)
        status += " \xC2\xB7 key: " + std::filesystem::path(fullResult_.path).stem().string() + fullResult_.sourceLabel;
    else
        status += std::string(" \xC2\xB7 KEY MISSING (") + kFullModelName + ", "
            + weightsio::statusMessage(fullResult_.status) + "): passing through";
    if (!ecoModelLoaded)
        status += " \xC2\xB7 no eco key";
}

} // namespace brindlecot::dsp
