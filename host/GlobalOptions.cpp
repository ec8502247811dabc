#include "GlobalOptions.h"

#include "Acquisition.h"

namespace ni_usb_daq::host {

GlobalOptions::GlobalOptions(CLI::App& app) {
    app.require_subcommand(0, 1);
    app.fallthrough();  // global options may follow the subcommand too
    app.add_option("--library", library,
                   "plug-in to load (default: libni_usb_daq.so next to this program)");
    app.add_option("--device", device,
                   "NI-DAQmx device to drive (default: the only device, else Dev1); its "
                   "ai0 is the default channel");
    app.add_option("--id", id, "device id of the stub (sets KRA_DEVICE_ID)");
    auto* quietFlag =
        app.add_flag("-q,--quiet", quiet, "hide information lines (warnings and errors stay)");
    app.add_flag("-v,--verbose", verbose, "show information lines (the default)")
        ->excludes(quietFlag);
    app.add_flag("--version", version, "print the version and the plug-in file, then exit");
}

void GlobalOptions::requireDeviceChannels(const kra::device::OperationParams& settings) const {
    if (!device.empty()) {
        requireChannelsOf(settings, device);
    }
}

}  // namespace ni_usb_daq::host
