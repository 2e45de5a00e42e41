// Feeds arbitrary bytes (and start positions) to the state chunk reader: it must never read out of
// bounds, and must leave every parameter finite and inside its range.
#include "engine/StateChunk.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace brindlecot;
    for (int64_t start : {int64_t {0}, int64_t {4}, int64_t {-1}}) {
        StateFields fields;
        auto params = defaultParameterValues();
        const int64_t next = readStateChunk(data, size, start, fields, params);
        if (next < start)
            std::abort();
        for (int i = 0; i < kNumParams; ++i) {
            const ParamSpec& s = paramSpec(i);
            const double v = params[static_cast<size_t>(i)];
            if (!std::isfinite(v) || v < s.minValue || v > s.maxValue)
                std::abort();
        }
        if (fields.accentIndex < 0 || fields.accentIndex > 5
            || (fields.inputMode != 0 && fields.inputMode != 1))
            std::abort();
    }
    return 0;
}
