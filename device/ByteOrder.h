#pragma once

#include <cstdint>

namespace kra::device {

/// `bits` with its eight bytes in the opposite order: a binary block's
/// doubles are little-endian, which a big-endian machine has to swap both
/// when it writes a block and when it reads one.
constexpr std::uint64_t swapBytes(std::uint64_t bits) {
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) {
        swapped = (swapped << 8) | (bits & 0xffU);
        bits >>= 8;
    }
    return swapped;
}

}  // namespace kra::device
