#include "engine/StateChunk.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/EditorSizing.h"

namespace brindlecot {

namespace {

void putU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putF64(std::vector<uint8_t>& out, double v)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

// Bounds-checked little-endian readers over [0, size).
struct Reader
{
    const uint8_t* data;
    int64_t size;

    bool has(int64_t pos, int64_t bytes) const { return pos >= 0 && bytes >= 0 && pos <= size - bytes; }

    bool u32(int64_t pos, uint32_t& v) const
    {
        if (!has(pos, 4))
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(data[pos + i]) << (8 * i);
        return true;
    }
    bool i32(int64_t pos, int32_t& v) const
    {
        uint32_t u = 0;
        if (!u32(pos, u))
            return false;
        std::memcpy(&v, &u, sizeof v);
        return true;
    }
    bool f64(int64_t pos, double& v) const
    {
        if (!has(pos, 8))
            return false;
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= static_cast<uint64_t>(data[pos + i]) << (8 * i);
        std::memcpy(&v, &bits, sizeof v);
        return true;
    }
};

void setAccent(StateFields& f, int32_t value)
{
    const int32_t accent = (value >= 0 && value <= 5) ? value : 0;
    if (accent != f.accentIndex)
        f.accentChanged = true;
    f.accentIndex = accent;
}

// Reads up to 22 doubles from `pos` that end at or before `end`; returns the position after them.
// A stored value outside its range is clamped; a non-finite one leaves the parameter as it was.
int64_t readParams(
    const Reader& r, int64_t pos, int64_t end, std::array<double, kNumParams>& params, int* paramsRead)
{
    int64_t available = end - pos;
    int64_t n = available > 0 ? std::min<int64_t>(available / 8, kNumParams) : 0;
    for (int64_t i = 0; i < n; ++i) {
        double v = 0.0;
        if (!r.f64(pos + 8 * i, v)) {
            n = i;
            break;
        }
        if (std::isfinite(v))
            params[static_cast<size_t>(i)] = constrainPlain(paramSpec(static_cast<int>(i)), v);
    }
    if (paramsRead != nullptr)
        *paramsRead = static_cast<int>(n);
    return pos + 8 * n;
}

int64_t readTrailerLayout(
    const Reader& r, int64_t p, StateFields& f, std::array<double, kNumParams>& params, int* paramsRead)
{
    int64_t match = -1;
    for (int64_t j = p; j + 12 <= r.size; j += 4) {
        uint32_t tag = 0;
        int32_t one = 0;
        if (r.u32(j, tag) && tag == kTrailerTag && r.i32(j + 4, one) && one == 1)
            match = j;
    }
    f.inputMode = 0;
    if (match < 0) {
        setAccent(f, 0);
        return readParams(r, p, r.size - 4, params, paramsRead);
    }
    int32_t accent = 0;
    r.i32(match + 8, accent);
    setAccent(f, accent);
    readParams(r, p, match, params, paramsRead);
    return match + 12;
}

} // namespace

void writeStateChunk(std::vector<uint8_t>& out, int32_t accentIndex, int32_t editorWidth,
    int32_t editorHeight, int32_t inputMode, const std::array<double, kNumParams>& params)
{
    out.reserve(out.size() + kStateChunkBytes);
    putU32(out, kStateTag);
    putU32(out, static_cast<uint32_t>(kStateVersion));
    putU32(out, static_cast<uint32_t>(accentIndex));
    putU32(out, static_cast<uint32_t>(editorWidth));
    putU32(out, static_cast<uint32_t>(editorHeight));
    putU32(out, static_cast<uint32_t>(inputMode));
    for (double v : params)
        putF64(out, v);
}

void unscaledEditorSize(const StateFields& f, int32_t& width, int32_t& height)
{
    const double s = f.screenScale > 0.0f && std::isfinite(f.screenScale) ? f.screenScale : 1.0;
    width = static_cast<int32_t>(std::lround(f.editorWidth / s));
    height = static_cast<int32_t>(std::lround(f.editorHeight / s));
}

int64_t readStateChunk(const uint8_t* data, size_t size, int64_t p, StateFields& f,
    std::array<double, kNumParams>& params, int* paramsRead)
{
    if (paramsRead != nullptr)
        *paramsRead = 0;
    const Reader r {data, data != nullptr ? static_cast<int64_t>(size) : 0};

    // A negative start would point before the chunk: nothing can be read from there.
    if (p < 0)
        return p;
    uint32_t tag = 0;
    if (!r.u32(p, tag) || tag != kStateTag)
        return readTrailerLayout(r, p, f, params, paramsRead);

    int32_t version = 0;
    int32_t accent = 0;
    if (!r.i32(p + 4, version) || version < 1 || version > kStateVersion || !r.i32(p + 8, accent)) {
        setAccent(f, 0);
        return std::max<int64_t>(r.size - 4, p);
    }
    setAccent(f, accent);
    int64_t q = p + 12;

    int32_t width = 0;
    if (version >= 2 && r.i32(q, width)) {
        int32_t height = 0;
        if (r.i32(q + 4, height)) {
            f.savedEditorWidth = width;
            q = p + 20;
        }
        if (width > 0 && height > 0 && !f.editorOpen) {
            if (std::fabs(static_cast<double>(width) / height - kEditorAspect) > 0.01) {
                width = kEditorWidth;
                height = kEditorHeight;
            }
            const double s = f.screenScale > 0.0f && std::isfinite(f.screenScale) ? f.screenScale : 1.0;
            int w = static_cast<int>(std::lround(width * s));
            int h = static_cast<int>(std::lround(height * s));
            constrainEditorSize(w, h, s);
            f.editorWidth = w;
            f.editorHeight = h;
        }
    }

    int32_t mode = 0;
    const bool haveMode = version >= 5 && r.i32(q, mode);
    f.inputMode = haveMode && mode == 1 ? 1 : 0;
    if (haveMode)
        q += 4;

    return readParams(r, q, r.size, params, paramsRead);
}

} // namespace brindlecot
