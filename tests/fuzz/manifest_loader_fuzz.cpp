// Arbitrary bytes as the content of a manifest file. A result, or one of the
// exceptions the loader documents (its own runtime_error, the JSON library's
// type errors), are the only acceptable outcomes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "device/DeviceManifest.h"

#include "ScratchFile.h"

namespace {

const std::string& scratchFile() {
    return fuzz_support::scratchFile("/tmp/ni_usb_daq_manifest_fuzz_XXXXXX");
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
