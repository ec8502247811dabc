#include "CommandRunner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "DeviceCommands.h"
#include "HostError.h"
#include "Installation.h"
#include "LogFilter.h"
#include "Platform.h"
#include "Utf8Path.h"

namespace ni_usb_daq::host {

using kra::device::pathFromUtf8;
using kra::device::pathToUtf8;

namespace {

int finishOutput(int status) {
    errno = 0;
    std::cout.flush();
    if (!std::cout) {
        if (errno == EPIPE) {
            throw OutputClosed();
        }
        throw HostError("cannot write to standard output");
    }
    return status;
}

/// A stub for the device the command line names, checked against the
/// driver's list: an unknown device ends here, before any command runs.
DeviceSession openSession(const PluginLibrary& plugin, const std::string& device) {
    const auto factory = [&plugin] { return plugin.createStub(); };
    DeviceSession session(plugin.createStub(), {}, factory);
    const auto listed = listDevices(session);
    if (!listed) {
        // Nothing to check against: the names are the plug-in's to judge.
        session.setDevice({device.empty() ? std::string("Dev1") : device, {}, {}});
        return session;
    }
    const auto& devices = *listed;
    const auto named = [&](const std::string& name) {
        return std::find_if(devices.begin(), devices.end(), [&](const auto& listedDevice) {
            return sameDriverName(listedDevice.name, name);
        });
    };
    if (!device.empty()) {
        const auto found = named(device);
        if (found == devices.end()) {
            throw HostError("unknown device '" + device + "': " + deviceListText(devices));
        }
        session.setDevice({device, found->productType, found->serialNumber});
        return session;
    }
    if (devices.size() == 1 && !sameDriverName(devices.front().name, "Dev1")) {
        // The only device there is, whatever its name.
        platform::setEnvironment("NI_DEVICE_NAME", devices.front().name);
        return DeviceSession(plugin.createStub(), devices.front(), factory);
    }
    const auto dev1 = named("Dev1");
    session.setDevice(dev1 != devices.end() ? *dev1 : DeviceIdentity{});
    return session;
}

}  // namespace

int runCommandLine(const GlobalOptions& global,
                   const std::vector<std::unique_ptr<Subcommand>>& subcommands) {
    const auto chosen = std::find_if(subcommands.begin(), subcommands.end(),
                                     [](const auto& command) { return command->chosen(); });
    if (chosen != subcommands.end() && !(*chosen)->usesDevice()) {
        (*chosen)->prepare(global);
        return finishOutput(0);
    }
    if (!global.version && chosen == subcommands.end()) {
        throw UsageError("a subcommand is required (see --help)");
    }
    const SessionAction action = global.version ? SessionAction() : (*chosen)->prepare(global);

    const PluginLogFilter logFilter(global.quiet);
    platform::ignoreBrokenPipe();
    if (const char* dir = std::getenv("KRA_DEVICE_MANIFEST_DIR"); dir == nullptr || *dir == 0) {
        if (const auto packaged = packagedManifestDir()) {
            platform::setEnvironment("KRA_DEVICE_MANIFEST_DIR", pathToUtf8(*packaged));
        }
    }
    if (!global.device.empty()) {
        platform::setEnvironment("NI_DEVICE_NAME", global.device);
    }
    if (!global.id.empty()) {
        platform::setEnvironment("KRA_DEVICE_ID", global.id);
    }
    const PluginLibrary plugin(global.library.empty() ? defaultPluginPath()
                                                      : pathFromUtf8(global.library));
    if (global.version) {
        std::cout << programVersion() << "\nplug-in: " << pathToUtf8(plugin.path()) << '\n';
        return finishOutput(0);
    }
    try {
        DeviceSession session = openSession(plugin, global.device);
        session.stub().initialize();
        return finishOutput(action(session));
    } catch (const HostError&) {
        throw;
    } catch (const std::exception& error) {
        // An exception the plug-in threw has its destructor and what() in the
        // plug-in's library, which goes away with `plugin`: carry on with a
        // copy the program owns.
        throw HostError(error.what());
    }
}

}  // namespace ni_usb_daq::host
