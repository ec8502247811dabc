#include "stubs/acquisition/Triggers.h"

#include <nlohmann/json.hpp>

#include "stubs/DriverStatus.h"
#include "stubs/DriverStrings.h"
#include "stubs/Logging.h"

namespace kra::device::stubs {

namespace {

using nlohmann::json;

constexpr uInt32 kTerminalBufferSize = 256;

/// The driver's edge for a trigger, and the slope of an analogue one, which
/// shares its values.
int32 edgeOf(const std::string& edge) {
    return edge == "FALLING" ? DAQmx_Val_Falling : DAQmx_Val_Rising;
}

std::string edgeName(int32 edge) {
    if (edge == DAQmx_Val_Rising) {
        return "RISING";
    }
    return edge == DAQmx_Val_Falling ? "FALLING" : std::to_string(edge);
}

/// What a trigger setting asks for, start and reference alike.
struct TriggerRequest {
    const std::string& type;
    const std::string& source;
    const std::string& edge;
    double level;
};

std::optional<std::string> verified(TaskHandle task, const std::string& failurePrefix) {
    if (DriverStatus status = checkDriver(DAQmxTaskControl(task, DAQmx_Val_Task_Verify));
        !status.ok()) {
        return failurePrefix + status.text;
    }
    return std::nullopt;
}

std::optional<std::string> configureStartTrigger(TaskHandle task, const TriggerRequest& trigger) {
    const std::string prefix = "Failed to configure start trigger: ";
    const int32 status =
        trigger.type == "DIGITAL_EDGE"
            ? DAQmxCfgDigEdgeStartTrig(task, trigger.source.c_str(), edgeOf(trigger.edge))
            : DAQmxCfgAnlgEdgeStartTrig(task, trigger.source.c_str(), edgeOf(trigger.edge),
                                        trigger.level);
    if (DriverStatus checked = checkDriver(status); !checked.ok()) {
        return prefix + checked.text;
    }
    return verified(task, prefix);
}

std::optional<std::string> configureReferenceTrigger(TaskHandle task, const TriggerRequest& trigger,
                                                     std::int32_t pretriggerSamples) {
    const std::string prefix = "Failed to configure reference trigger: ";
    // The table's minimum keeps the count from being negative.
    const auto pretrigger = static_cast<uInt32>(pretriggerSamples);
    const int32 status =
        trigger.type == "DIGITAL_EDGE"
            ? DAQmxCfgDigEdgeRefTrig(task, trigger.source.c_str(), edgeOf(trigger.edge), pretrigger)
            : DAQmxCfgAnlgEdgeRefTrig(task, trigger.source.c_str(), edgeOf(trigger.edge),
                                      trigger.level, pretrigger);
    if (DriverStatus checked = checkDriver(status); !checked.ok()) {
        return prefix + checked.text;
    }
    return verified(task, prefix);
}

std::optional<std::string> exportSignal(TaskHandle task, int32 signal,
                                        const std::string& terminal) {
    const std::string prefix = "Failed to export signal to " + terminal + ": ";
    if (DriverStatus status = checkDriver(DAQmxExportSignal(task, signal, terminal.c_str()));
        !status.ok()) {
        return prefix + status.text;
    }
    return verified(task, prefix);
}

/// The driver calls that describe one kind of trigger (start or reference).
struct TriggerQueries {
    int32(DAQMX_CALL* type)(TaskHandle, int32*);
    int32(DAQMX_CALL* digitalSource)(TaskHandle, char*, uInt32);
    int32(DAQMX_CALL* digitalEdge)(TaskHandle, int32*);
    int32(DAQMX_CALL* analogSource)(TaskHandle, char*, uInt32);
    int32(DAQMX_CALL* analogSlope)(TaskHandle, int32*);
    int32(DAQMX_CALL* analogLevel)(TaskHandle, float64*);
};

constexpr TriggerQueries kStartQueries{
    DAQmxGetStartTrigType,        DAQmxGetDigEdgeStartTrigSrc,    DAQmxGetDigEdgeStartTrigEdge,
    DAQmxGetAnlgEdgeStartTrigSrc, DAQmxGetAnlgEdgeStartTrigSlope, DAQmxGetAnlgEdgeStartTrigLvl};
constexpr TriggerQueries kReferenceQueries{
    DAQmxGetRefTrigType,        DAQmxGetDigEdgeRefTrigSrc,    DAQmxGetDigEdgeRefTrigEdge,
    DAQmxGetAnlgEdgeRefTrigSrc, DAQmxGetAnlgEdgeRefTrigSlope, DAQmxGetAnlgEdgeRefTrigLvl};

/// The trigger as the driver describes it; nothing when any of its
/// properties could not be read.
std::optional<json> describeTrigger(TaskHandle task, const TriggerQueries& queries) {
    int32 type = 0;
    if (queries.type(task, &type) != 0 ||
        (type != DAQmx_Val_DigEdge && type != DAQmx_Val_AnlgEdge)) {
        return std::nullopt;
    }
    const bool digital = type == DAQmx_Val_DigEdge;
    const auto sourceCall = digital ? queries.digitalSource : queries.analogSource;
    const auto source = readDriverString(
        [task, sourceCall](char* buffer, uInt32 size) { return sourceCall(task, buffer, size); },
        kTerminalBufferSize);
    int32 edge = 0;
    if (!source || (digital ? queries.digitalEdge : queries.analogSlope)(task, &edge) != 0) {
        return std::nullopt;
    }
    json trigger = {{"type", digital ? "DIGITAL_EDGE" : "ANALOG_EDGE"},
                    {"source", *source},
                    {"edge", edgeName(edge)}};
    if (!digital) {
        float64 level = 0.0;
        if (queries.analogLevel(task, &level) != 0) {
            return std::nullopt;
        }
        trigger["level_v"] = level;
    }
    return trigger;
}

std::optional<std::string> compact(const std::optional<json>& value) {
    return value ? std::optional<std::string>(value->dump()) : std::nullopt;
}

}  // namespace

std::optional<std::string> configureTriggers(TaskHandle task, const AcquisitionConfig& settings) {
    if (hasStartTrigger(settings)) {
        const TriggerRequest start{settings.start_trigger_type, settings.start_trigger_source,
                                   settings.start_trigger_edge, settings.analog_trigger_level_v};
        if (auto failure = configureStartTrigger(task, start)) {
            return failure;
        }
    }
    if (hasReferenceTrigger(settings)) {
        const TriggerRequest reference{
            settings.reference_trigger_type, settings.reference_trigger_source,
            settings.reference_trigger_edge, settings.analog_trigger_level_v};
        if (auto failure =
                configureReferenceTrigger(task, reference, settings.pretrigger_samples)) {
            return failure;
        }
    }
    if (!settings.export_sample_clock_to.empty()) {
        if (auto failure =
                exportSignal(task, DAQmx_Val_SampleClock, settings.export_sample_clock_to)) {
            return failure;
        }
    }
    if (!settings.export_start_trigger_to.empty()) {
        if (auto failure =
                exportSignal(task, DAQmx_Val_StartTrigger, settings.export_start_trigger_to)) {
            return failure;
        }
    }
    return std::nullopt;
}

TriggerReadback readBackTriggers(TaskHandle task, const AcquisitionConfig& settings) {
    TriggerReadback readback;
    if (hasStartTrigger(settings)) {
        readback.startJson = compact(describeTrigger(task, kStartQueries));
        if (!readback.startJson) {
            logWarn("AcquisitionEngine: the driver did not describe the start trigger");
        }
    }
    if (hasReferenceTrigger(settings)) {
        auto reference = describeTrigger(task, kReferenceQueries);
        uInt32 pretrigger = 0;
        if (reference && DAQmxGetRefTrigPretrigSamples(task, &pretrigger) == 0) {
            (*reference)["pretrigger_samples"] = pretrigger;
            readback.referenceJson = reference->dump();
        } else {
            logWarn("AcquisitionEngine: the driver did not describe the reference trigger");
        }
    }
    return readback;
}

}  // namespace kra::device::stubs
