// Arbitrary command-line words, one per line, as the KEY=VALUE settings of
// an acquisition. Either the words are refused with the program's usage
// error, or the checked settings come back; checked settings are in the
// plug-in's own form, so checking them again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/HostError.h"
#include "host/KeyValueArgs.h"
#include "host/Settings.h"

namespace host = ni_usb_daq::host;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    kra::device::OperationParams checked;
    try {
        checked = host::checkSettings(host::parseKeyValueArgs(words));
    } catch (const host::UsageError&) {
        return 0;
    }
    try {
        if (host::checkSettings(checked) != checked) {
            std::abort();
        }
    } catch (const host::UsageError&) {
        std::abort();
    }
    return 0;
}
