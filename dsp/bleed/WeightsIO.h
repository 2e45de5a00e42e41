// Reader of filter-head weight blobs: a 32-byte little-endian header ("HFWI", version 1, the five
// model dimensions, the output scale) followed by the twelve float arrays of FilterHeadWeights.
// Both readers run one validation sequence and report the first failing check as a Status.
#pragma once

#include "dsp/bleed/FilterHeadWeights.h"

#include <cstddef>
#include <cstdint>
#include <istream>
#include <streambuf>
#include <string>

namespace brindlecot::dsp::weightsio {

enum class Status : int {
    Ok = 0,
    StreamUnreadable = 1,
    NotABlob = 2,
    UnsupportedVersion = 3,
    DimensionMismatch = 4,
    Truncated = 5,
    NonFinite = 6,
};

/// English text of a result, shown unchanged in the model status.
std::string statusMessage(Status status);

/// Magic "HFWI" read as a little-endian u32.
inline constexpr uint32_t kMagic = 0x49574648u;
inline constexpr uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderBytes = 32;

/// Read-only stream buffer whose get area is exactly a block of memory (no copy).
class Buffer : public std::streambuf
{
public:
    Buffer(const uint8_t* data, uint64_t size);

protected:
    std::streamsize xsgetn(char* s, std::streamsize n) override;
    std::streamsize showmanyc() override;
};

/// Reads a blob held in memory in place. Null data or size 0: StreamUnreadable.
template <std::size_t I, std::size_t S, std::size_t W1, std::size_t W2, std::size_t K>
Status readMemory(const uint8_t* data, uint64_t size, FilterHeadWeights<I, W1, W2, K>& weights);

/// Reads a blob from a stream the caller opened in binary mode.
template <std::size_t I, std::size_t S, std::size_t W1, std::size_t W2, std::size_t K>
Status readStream(std::istream& in, FilterHeadWeights<I, W1, W2, K>& weights);

/// Total bytes of a complete blob of this shape (header and body).
template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K> constexpr uint64_t blobBytes()
{
    return kHeaderBytes + 4 * FilterHeadWeights<I, W1, W2, K>::bodyFloats();
}

} // namespace brindlecot::dsp::weightsio
