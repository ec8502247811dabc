// Arbitrary feature, operation and parameter maps through execute on a stub
// made by the exported factory, over the simulated driver running unpaced.
// Keys are drawn mostly from the real ones; values are arbitrary bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "daqmx/sim/NIDAQmxSimControl.h"
#include "device/IDeviceStub.h"

namespace {

constexpr std::array kFeatures{"analog_input", "system", "analog_input", "digital", ""};
constexpr std::array kOperations{"configure",        "read_finite", "read_single", "query",
                                 "start_stream",     "stop_stream", "get_state",   "scan_devices",
                                 "get_capabilities", "bogus"};
constexpr std::array kKeys{"device_name",
                           "ai_channels",
                           "voltage_range_min",
                           "voltage_range_max",
                           "terminal_config",
                           "sample_clock_rate_hz",
                           "sample_mode",
                           "samples_per_channel",
                           "sample_clock_source",
                           "sample_clock_active_edge",
                           "read_timeout_s",
                           "digital_input_lines",
                           "channel",
                           "usb_only",
                           "units"};
constexpr std::array kValues{"nan",       "-0",         "1e308",
                             "-5",        "inf",        "FINITE",
                             "ON_DEMAND", "Dev1/ai0:3", "Dev1/port0/line0:3",
                             "0",         "2147483648", "1e-300",
                             "Dev2/ai0",  "\xff\xfe",   "DIFF",
                             "100"};

struct StubDeleter {
    void operator()(kra::device::IDeviceStub* stub) const { destroyDeviceStub(stub); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    DAQmxSim_SetTimeScale(0.0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::unique_ptr<kra::device::IDeviceStub, StubDeleter> stub(createDeviceStub());
    stub->subscribe("analog_input", "stream", [](const kra::device::DeviceState&) {});
    const int operations = input.ConsumeIntegralInRange(1, 6);
    for (int i = 0; i < operations && input.remaining_bytes() > 0; ++i) {
        const std::string feature = input.ConsumeBool() ? input.PickValueInArray(kFeatures)
                                                        : input.ConsumeRandomLengthString(16);
        const std::string operation = input.ConsumeIntegralInRange(0, 9) != 0
                                          ? input.PickValueInArray(kOperations)
                                          : input.ConsumeRandomLengthString(16);
        kra::device::OperationParams params;
        const int count = input.ConsumeIntegralInRange(0, 6);
        for (int p = 0; p < count; ++p) {
            const std::string key = input.ConsumeIntegralInRange(0, 7) != 0
                                        ? input.PickValueInArray(kKeys)
                                        : input.ConsumeRandomLengthString(12);
            params[key] = input.ConsumeBool() ? input.PickValueInArray(kValues)
                                              : input.ConsumeRandomLengthString(24);
        }
        (void)stub->execute(feature, operation, params, "fuzz");
    }
    return 0;
}
