#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ni_usb_daq::test {

/// A binary update as the page reads it.
struct ViewUpdate {
    std::uint16_t version = 0;
    std::uint16_t flags = 0;
    std::uint32_t channels = 0;
    std::uint32_t columns = 0;
    std::uint32_t number = 0;
    double firstColumn = 0.0;
    double columnS = 0.0;
    std::vector<float> last;   ///< per channel
    std::vector<float> pairs;  ///< per column, per channel: min, max
    bool valid = false;        ///< the magic, and as many bytes as the counts say

    float min(std::size_t column, std::size_t channel) const {
        return pairs[(column * channels + channel) * 2];
    }
    float max(std::size_t column, std::size_t channel) const {
        return pairs[(column * channels + channel) * 2 + 1];
    }
};

inline ViewUpdate decodeViewUpdate(const std::string& bytes) {
    const auto number = [&bytes](std::size_t at, int size) {
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) {
            value =
                (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        }
        return value;
    };
    const auto real = [&number](std::size_t at) { return std::bit_cast<double>(number(at, 8)); };
    const auto single = [&number](std::size_t at) {
        return std::bit_cast<float>(static_cast<std::uint32_t>(number(at, 4)));
    };
    ViewUpdate update;
    if (bytes.size() < 40 || bytes.compare(0, 4, "NIVW") != 0) {
        return update;
    }
    update.version = static_cast<std::uint16_t>(number(4, 2));
    update.flags = static_cast<std::uint16_t>(number(6, 2));
    update.channels = static_cast<std::uint32_t>(number(8, 4));
    update.columns = static_cast<std::uint32_t>(number(12, 4));
    update.number = static_cast<std::uint32_t>(number(16, 4));
    update.firstColumn = real(24);
    update.columnS = real(32);
    const std::size_t values = update.channels + std::size_t{update.columns} * update.channels * 2;
    if (bytes.size() != 40 + 4 * values) {
        return update;
    }
    for (std::size_t c = 0; c < update.channels; ++c) {
        update.last.push_back(single(40 + 4 * c));
    }
    for (std::size_t i = update.channels; i < values; ++i) {
        update.pairs.push_back(single(40 + 4 * i));
    }
    update.valid = true;
    return update;
}

}  // namespace ni_usb_daq::test
