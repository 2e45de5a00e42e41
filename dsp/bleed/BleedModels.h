// The two bleed models (full and ECO): their weight sets, cancellers, loaded flags and the model
// status text. Loaded once while the plug-in is constructed, never on the audio thread.
#pragma once

#include "dsp/bleed/EmbeddedModels.h"
#include "dsp/bleed/FilterHeadCanceller.h"
#include "dsp/bleed/FilterHeadWeights.h"
#include "dsp/bleed/WeightsIO.h"

#include <memory>
#include <string>

namespace brindlecot::dsp {

inline constexpr const char* kFullModelName = "big_base_s1.bin";
inline constexpr const char* kEcoModelName = "gig_eco_v2.bin";
inline constexpr const char* kModelFallbackDirectory = "C:/pellwick-release/v0.12.6/models/";
inline constexpr const char* kProductVersion = "0.12.6";

/// Where the loader looks for a model, in order: embedded resources, the bare file name (relative
/// to `bareNameDirectory`, the working directory when empty), the fallback directory.
struct ModelSearch
{
    EmbeddedResource (*embedded)(const char* resourceName) = &findEmbeddedModel;
    std::string bareNameDirectory;
    std::string fallbackDirectory = kModelFallbackDirectory;
};

/// Result of locating and reading one model.
struct ModelLoadResult
{
    weightsio::Status status = weightsio::Status::StreamUnreadable;
    std::string path; // the path that was read (the bare name for an embedded resource)
    std::string sourceLabel; // " (binary)", " (bundle)" or " (source tree)"
};

struct BleedModels
{
    FullModelCanceller full;
    EcoModelCanceller eco;
    bool fullModelLoaded = false;
    bool ecoModelLoaded = false;
    std::string status = "no model loaded";

    /// Finds and reads both models, points the cancellers at the loaded sets and writes the status.
    /// Allocates and may touch the file system: construction time only.
    void loadModels(const ModelSearch& search = ModelSearch {});

    const FullModelWeights* fullWeights() const { return fullWeights_.get(); }
    const EcoModelWeights* ecoWeights() const { return ecoWeights_.get(); }
    const ModelLoadResult& fullResult() const { return fullResult_; }
    const ModelLoadResult& ecoResult() const { return ecoResult_; }

private:
    std::unique_ptr<FullModelWeights> fullWeights_;
    std::unique_ptr<EcoModelWeights> ecoWeights_;
    ModelLoadResult fullResult_;
    ModelLoadResult ecoResult_;
};

} // namespace brindlecot::dsp
