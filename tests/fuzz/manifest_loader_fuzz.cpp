// Arbitrary bytes as the content of a manifest file. A result, or one of the
// exceptions the loader documents (its own runtime_error, the JSON library's
// type errors), are the only acceptable outcomes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "device/DeviceManifest.h"

namespace {

const std::string& scratchFile() {
    static const std::string path = [] {
        char pattern[] = "/tmp/ni_usb_daq_manifest_fuzz_XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd < 0) {
            std::abort();
        }
        ::close(fd);
        return std::string(pattern);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        const auto manifest = kra::device::loadDeviceManifest(scratchFile());
        (void)manifest;
    } catch (const nlohmann::json::type_error&) {
    } catch (const std::runtime_error&) {
    }
    return 0;
}
