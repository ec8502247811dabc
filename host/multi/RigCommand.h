#pragma once

#include "DeviceSession.h"
#include "OutputTarget.h"
#include "StreamCommand.h"

namespace ni_usb_daq::host {

/// `stream` of channels of several devices (options.rig): a stub and a task
/// per device, opened through `session`'s plug-in, recorded together into
/// `target`. The exit status, as recordStream's.
int recordRigStream(DeviceSession& session, const StreamOptions& options, OutputTarget& target);

}  // namespace ni_usb_daq::host
