// The two bleed models (full and ECO): their cancellers and the model status text.
// No model is loaded until the weight reader lands.
#pragma once

#include "dsp/bleed/FilterHeadCanceller.h"

#include <string>

namespace brindlecot::dsp {

struct BleedModels
{
    FilterHeadCanceller full;
    FilterHeadCanceller eco;
    bool fullModelLoaded = false;
    bool ecoModelLoaded = false;
    std::string status = "no model loaded";
};

} // namespace brindlecot::dsp
