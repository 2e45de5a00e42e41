// Weight blobs compiled into the core library (generated at build time from resources/models/).
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindlecot::dsp {

struct EmbeddedResource
{
    const char* name = nullptr; // resource name: the file name in upper case, "BIG_BASE_S1.BIN"
    const uint8_t* data = nullptr;
    uint64_t size = 0;
};

/// The compiled-in table (empty when the build had no model files).
const EmbeddedResource* embeddedModelTable(std::size_t& count);

/// The embedded resource with this name, or one with name == nullptr when there is none.
EmbeddedResource findEmbeddedModel(const char* resourceName);

} // namespace brindlecot::dsp
