#include "dsp/bleed/WeightsIO.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the weight blob is little-endian and is read in place: a big-endian target needs byte swapping"
#endif

namespace brindlecot::dsp::weightsio {

std::string statusMessage(Status status)
{
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::StreamUnreadable:
        return "stream could not be read";
    case Status::NotABlob:
        return "not a filter-head weight blob";
    case Status::UnsupportedVersion:
        return "unsupported blob version";
    case Status::DimensionMismatch:
        return "blob dimensions do not match the model";
    case Status::Truncated:
        return "blob ended before all coefficients were read";
    case Status::NonFinite:
        return "blob contains a non-finite coefficient";
    }
    return "unknown";
}

Buffer::Buffer(const uint8_t* data, uint64_t size)
{
    // The get area is never written through: std::streambuf simply has no const flavour.
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
    setg(begin, begin, begin + size);
}

std::streamsize Buffer::xsgetn(char* s, std::streamsize n)
{
    const std::streamsize available = egptr() - gptr();
    const std::streamsize count = std::max<std::streamsize>(0, std::min(n, available));
    if (count > 0) {
        std::memcpy(s, gptr(), static_cast<std::size_t>(count));
        gbump(static_cast<int>(count)); // count <= one array (< 2^31 bytes)
    }
    return count;
}

std::streamsize Buffer::showmanyc()
{
    const std::streamsize available = egptr() - gptr();
    return available > 0 ? available : -1;
}

namespace {

    uint32_t u32At(const unsigned char* p)
    {
        return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8)
            | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }

    bool readExactly(std::istream& in, void* destination, std::size_t bytes)
    {
        in.read(static_cast<char*>(destination), static_cast<std::streamsize>(bytes));
        return static_cast<std::size_t>(in.gcount()) == bytes;
    }

    template <std::size_t I, std::size_t S, std::size_t W1, std::size_t W2, std::size_t K>
    Status readSequence(std::istream& in, FilterHeadWeights<I, W1, W2, K>& weights)
    {
        unsigned char header[kHeaderBytes];
        bool headerRead = false;
        try {
            headerRead = readExactly(in, header, sizeof header);
        } catch (const std::exception&) {
            headerRead = false; // a stream with exceptions enabled: same as a short read
        }
        if (!headerRead)
            return Status::StreamUnreadable;
        if (u32At(header) != kMagic)
            return Status::NotABlob;
        if (u32At(header + 4) != kVersion)
            return Status::UnsupportedVersion;
        if (u32At(header + 8) != I || u32At(header + 12) != S || u32At(header + 16) != W1
            || u32At(header + 20) != W2 || u32At(header + 24) != K)
            return Status::DimensionMismatch;
        float scale;
        std::memcpy(&scale, header + 28, sizeof scale);
        if (!std::isfinite(scale) || !(scale > 0.0f))
            return Status::NonFinite;

        // One bulk read per array straight into its field; the first short read stops.
        bool complete = true;
        try {
            weights.forEachArray([&](float* p, std::size_t n) {
                if (complete)
                    complete = readExactly(in, p, n * sizeof(float));
            });
        } catch (const std::exception&) {
            complete = false;
        }
        if (!complete)
            return Status::Truncated;

        bool finite = true;
        weights.forEachArray([&](const float* p, std::size_t n) {
            for (std::size_t i = 0; i < n && finite; ++i)
                finite = std::isfinite(p[i]);
        });
        if (!finite)
            return Status::NonFinite;

        weights.outputScale = scale;
        return Status::Ok;
    }

} // namespace

template <std::size_t I, std::size_t S, std::size_t W1, std::size_t W2, std::size_t K>
Status readMemory(const uint8_t* data, uint64_t size, FilterHeadWeights<I, W1, W2, K>& weights)
{
    if (data == nullptr || size == 0)
        return Status::StreamUnreadable;
    Buffer buffer(data, size);
    std::istream in(&buffer);
    return readSequence<I, S, W1, W2, K>(in, weights);
}

template <std::size_t I, std::size_t S, std::size_t W1, std::size_t W2, std::size_t K>
Status readStream(std::istream& in, FilterHeadWeights<I, W1, W2, K>& weights)
{
    return readSequence<I, S, W1, W2, K>(in, weights);
}

template Status readMemory<512, 32, 96, 96, 256>(const uint8_t*, uint64_t, FullModelWeights&);
template Status readMemory<512, 32, 64, 64, 192>(const uint8_t*, uint64_t, EcoModelWeights&);
template Status readStream<512, 32, 96, 96, 256>(std::istream&, FullModelWeights&);
template Status readStream<512, 32, 64, 64, 192>(std::istream&, EcoModelWeights&);

} // namespace brindlecot::dsp::weightsio
