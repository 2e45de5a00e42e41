#include "dsp/bleed/EmbeddedModels.h"

#include <cstring>

namespace brindlecot::dsp {

EmbeddedResource findEmbeddedModel(const char* resourceName)
{
    std::size_t count = 0;
    const EmbeddedResource* table = embeddedModelTable(count);
    for (std::size_t i = 0; i < count && resourceName != nullptr; ++i)
        if (std::strcmp(table[i].name, resourceName) == 0)
            return table[i];
    return {};
}

} // namespace brindlecot::dsp
