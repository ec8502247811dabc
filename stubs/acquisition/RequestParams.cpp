#include "stubs/acquisition/RequestParams.h"

#include <algorithm>
#include <iterator>

#include "stubs/TextFormat.h"

namespace kra::device::stubs {

namespace {

/// The value under `key` as `parse` reads it; `fallback` when it is absent or
/// does not convert.
template <typename T>
T lookup(const OperationParams& params, const std::string& key, T fallback,
         std::optional<T> (*parse)(const std::string&)) {
    const auto found = params.find(key);
    return found == params.end() ? fallback : parse(found->second).value_or(fallback);
}

/// Lead bytes with the length of their sequence and the range its second
/// byte must lie in, which is where overlong forms, surrogates and values past
/// U+10FFFF are told apart.
struct LeadBytes {
    unsigned char first, last;
    std::size_t length;
    unsigned char low, high;
};
constexpr LeadBytes kLeads[] = {
    {0x00, 0x7F, 1, 0x80, 0xBF}, {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

}  // namespace

std::string getStringParam(const OperationParams& params, const std::string& key,
                           const std::string& fallback) {
    const auto found = params.find(key);
    return found == params.end() ? fallback : found->second;
}

double getDoubleParam(const OperationParams& params, const std::string& key, double fallback) {
    return lookup(params, key, fallback, parseDouble);
}

std::int32_t getIntParam(const OperationParams& params, const std::string& key,
                         std::int32_t fallback) {
    return lookup(params, key, fallback, parseInt32);
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
        const auto* lead = std::find_if(std::begin(kLeads), std::end(kLeads), [&](const auto& l) {
            return byte(0) >= l.first && byte(0) <= l.last;
        });
        if (lead == std::end(kLeads) || text.size() - i < lead->length) {
            return false;
        }
        for (std::size_t k = 1; k < lead->length; ++k) {
            if (byte(k) < (k == 1 ? lead->low : 0x80) || byte(k) > (k == 1 ? lead->high : 0xBF)) {
                return false;
            }
        }
        i += lead->length;
    }
    return true;
}

}  // namespace kra::device::stubs
