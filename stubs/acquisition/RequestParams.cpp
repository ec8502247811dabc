#include "stubs/acquisition/RequestParams.h"

#include "stubs/TextFormat.h"

namespace kra::device::stubs {

std::string getStringParam(const OperationParams& params, const std::string& key,
                           const std::string& fallback) {
    const auto found = params.find(key);
    return found == params.end() ? fallback : found->second;
}

double getDoubleParam(const OperationParams& params, const std::string& key, double fallback) {
    const auto found = params.find(key);
    if (found == params.end()) {
        return fallback;
    }
    return parseDouble(found->second).value_or(fallback);
}

std::int32_t getIntParam(const OperationParams& params, const std::string& key,
                         std::int32_t fallback) {
    const auto found = params.find(key);
    if (found == params.end()) {
        return fallback;
    }
    return parseInt32(found->second).value_or(fallback);
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Length of the sequence and the allowed range of its second byte,
        // which is where overlong forms, surrogates and values past U+10FFFF
        // are told apart.
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0;
            } else if (lead == 0xED) {
                high = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;
            }
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            const unsigned char min = k == 1 ? low : 0x80;
            const unsigned char max = k == 1 ? high : 0xBF;
            if (next < min || next > max) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace kra::device::stubs
