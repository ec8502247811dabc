// The stream subcommand for channels of several devices.
#include "RigCommand.h"

#include <algorithm>
#include <iostream>

#include "Acquisition.h"
#include "DeviceCommands.h"
#include "HostError.h"
#include "ProgressLine.h"
#include "RigRecording.h"
#include "RigStream.h"

namespace ni_usb_daq::host {

namespace {

/// The device the driver lists under `name`; HostError when it lists none.
DeviceIdentity listedDevice(const std::optional<std::vector<DeviceIdentity>>& listed,
                            const std::string& name) {
    if (!listed) {
        return {name, {}, {}};
    }
    const auto found = std::find_if(listed->begin(), listed->end(), [&](const auto& device) {
        return sameDriverName(device.name, name);
    });
    if (found == listed->end()) {
        throw HostError("unknown device '" + name + "': " + deviceListText(*listed));
    }
    return *found;
}

/// A stub per device, each configured with its part of the channels and its
/// wiring. --seconds counts at each device's own achieved rate.
std::vector<std::unique_ptr<RigMember>> configureMembers(DeviceSession& session,
                                                         const StreamOptions& options) {
    const RigPlan& plan = *options.rig;
    const auto listed = listDevices(session);
    std::vector<std::unique_ptr<RigMember>> members;
    for (std::size_t i = 0; i < plan.devices.size(); ++i) {
        auto member = std::make_unique<RigMember>(
            RigMember{session.openAnother(listedDevice(listed, plan.devices[i].name)),
                      plan.settingsFor(i, options.settings),
                      {},
                      options.limits});
        member->session.stub().initialize();
        const auto configuration = configureAcquisition(member->session, member->settings);
        member->facts = recordingFacts(member->session, member->settings, configuration, true);
        if (options.seconds && member->facts.sampleRateHz > 0) {
            member->limits.position = static_cast<std::uint64_t>(
                std::llround(*options.seconds * member->facts.sampleRateHz));
        }
        members.push_back(std::move(member));
    }
    return members;
}

std::string deviceNames(const RigPlan& plan) {
    std::string names;
    for (const RigDevice& device : plan.devices) {
        names += (names.empty() ? "" : ", ") + device.name;
    }
    return names;
}

/// What standard error says once the run is over; the exit status.
int reportEnd(const RigOutcome& outcome, const StreamOptions& options, OutputTarget& target) {
    const StreamStats& leader = outcome.devices.front().stats;
    const std::string devices = deviceNames(*options.rig);
    switch (outcome.end) {
        case StreamEnd::DeviceError:
            std::cerr << kProgramName << ": the stream of " << devices
                      << " ended on a driver error: " << outcome.errorMessage << '\n';
            if (leader.frames > 0) {
                if (const auto kept = target.keepAside()) {
                    std::cerr << kProgramName << ": the recording up to the error is kept in "
                              << *kept << "; " << target.name() << " is as it was\n";
                }
            }
            return kFailureExitCode;
        case StreamEnd::Interrupted:
            std::cerr << kProgramName << ": interrupted; the stream of " << devices
                      << " stopped after " << leader.samples
                      << " samples per channel of the leader, all written\n";
            return 0;
        default:
            if (!options.quiet) {
                std::cerr << kProgramName << ": " << target.name() << ": " << devices << ", "
                          << leader.samples << " samples per channel each, " << leader.gaps
                          << " gaps\n";
            }
            return 0;
    }
}

}  // namespace

int recordRigStream(DeviceSession& session, const StreamOptions& options, OutputTarget& target) {
    const StopSignals signals;
    auto members = configureMembers(session, options);
    std::vector<RecordingFacts> facts;
    for (const auto& member : members) {
        facts.push_back(member->facts);
    }
    auto recording = makeRigRecording(*options.rig, facts, target, options.output);

    SystemRecoveryClock clock;
    ProgressLine progress(options.quiet, options.progressInterval);
    RigRunHooks hooks;
    hooks.progress = [&progress](const StreamStats& stats, std::chrono::duration<double> elapsed) {
        progress.show(stats, elapsed);
    };
    if (options.recovery.enabled) {
        hooks.recovery = options.recovery;
        hooks.clock = &clock;
    }
    RigOutcome outcome;
    try {
        outcome = runRig(members, *options.rig, *recording, signals, hooks);
        progress.finish();
        for (std::size_t i = 0; i < members.size(); ++i) {
            recording->writer(i).end(
                recordingEnd(outcome.devices[i], members[i]->facts.sampleRateHz));
        }
        recording->ended();
        recording.reset();
        const StreamStats& leader = outcome.devices.front().stats;
        target.check({leader.frames, leader.samples, leader.gaps, leader.estimatedLostSamples});
    } catch (const OutputFailed& failure) {
        progress.finish();
        std::cerr << kProgramName << ": " << failure.what() << '\n';
        if (recording) {
            for (std::size_t i = 0; i < members.size(); ++i) {
                recording->writer(i).endAfterFailure({});
            }
        }
        if (const auto kept = target.keepAside()) {
            std::cerr << kProgramName << ": the recording up to the failed write is kept in "
                      << *kept << "; " << target.name() << " is as it was\n";
        }
        return kFailureExitCode;
    }
    return reportEnd(outcome, options, target);
}

}  // namespace ni_usb_daq::host
