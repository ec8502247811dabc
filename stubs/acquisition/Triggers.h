#pragma once

#include <optional>
#include <string>

#include "daqmx/NIDAQmx.h"
#include "stubs/acquisition/AcquisitionConfig.h"

namespace kra::device::stubs {

/// Gives a task whose sample clock is set up the triggers and exported
/// signals of `settings`. Nothing is called for settings left at NONE or
/// empty. The driver checks some of these only when the task is verified, so
/// the task is verified after each step that changed it: a device that cannot
/// do what was asked is refused here, not at the start. Returns the error
/// text of the first step that failed.
std::optional<std::string> configureTriggers(TaskHandle task, const AcquisitionConfig& settings);

/// The triggers the driver reports for a configured task, as compact JSON
/// texts ({"edge":"RISING","source":"/Dev1/PFI0","type":"DIGITAL_EDGE"}; an
/// analogue trigger states "level_v", a reference trigger
/// "pretrigger_samples"). Empty for a trigger that is not set, or that the
/// driver could not describe (with one warning logged).
struct TriggerReadback {
    std::optional<std::string> startJson;
    std::optional<std::string> referenceJson;
};

TriggerReadback readBackTriggers(TaskHandle task, const AcquisitionConfig& settings);

}  // namespace kra::device::stubs
