/*
 * Control interface of the simulated NI-DAQmx driver.
 *
 * These functions are not part of DAQmx. Tests and tools use them to describe
 * the simulated rig, pace its clock and script failures. Every function is
 * thread-safe. Function names in DAQmxSim_FailCall and friends are the DAQmx
 * entry point names, for example "DAQmxReadAnalogF64".
 */
#ifndef NI_USB_DAQ_NIDAQMX_SIM_CONTROL_H
#define NI_USB_DAQ_NIDAQMX_SIM_CONTROL_H

#include "../NIDAQmx.h"

/* Behaviours of real hardware the simulator models, each of which a test can
 * switch off (DAQmxSim_SetRealism). All are on after a reset. */
/* Each channel carries its signal (the rig's description, or a distinct sine
 * with a little noise); off: the identifying sawtooth of
 * DAQmxSim_ExpectedSample's description. */
#define DAQMXSIM_REALISTIC_SIGNALS 0x1u
/* Values are clipped to the channel's range, quantized at the device's
 * resolution and scaled back through the channel's calibration; off: the
 * signal's exact value. */
#define DAQMXSIM_CONVERTER 0x2u
/* A paced continuous task whose reader falls further behind than its input
 * buffer holds loses the acquisition: every read fails with -200279 until the
 * task is stopped. Off: the buffer never overflows. */
#define DAQMXSIM_BUFFER_OVERFLOW 0x4u
/* A read that times out delivers and consumes the samples it had, with
 * -200284. Off: it delivers nothing and consumes nothing. */
#define DAQMXSIM_PARTIAL_TIMEOUT_READS 0x8u
/* Unplugging a device aborts the transfers of its existing tasks for good
 * (-50405, also after a replug). Off: their reads fail with -201003 while the
 * device is away and work again once it is back. */
#define DAQMXSIM_REMOVAL_ABORTS 0x10u
#define DAQMXSIM_REALISM_ALL 0x1Fu

/* Statuses of the simulator's own faults, which no vendor driver has. They lie
 * in -8999 .. -8000, the range National Instruments keeps free for codes
 * defined outside its products, so none can be mistaken for a driver status
 * the plug-in or the host reacts to. */
#define DAQMXSIM_ERROR_FIRST (-8999)
#define DAQMXSIM_ERROR_LAST (-8000)
/* A rig description (NIDAQMX_SIM_DEVICES, DAQmxSim_LoadDevices) that cannot be used. */
#define DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION (-8001)
/* An event schedule (NIDAQMX_SIM_EVENTS, DAQmxSim_ScheduleEventsJson) that cannot be used. */
#define DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE (-8002)
/* A call that failed inside the simulator for a reason of its own; the
 * extended error text names the call. Short memory reports the vendor's
 * DAQmxErrorPALMemoryFull instead. */
#define DAQMXSIM_ERROR_INTERNAL (-8003)

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the state of a freshly loaded library: the built-in devices (or the
 * rig file named by NIDAQMX_SIM_DEVICES), every device present, all scripts,
 * counters and overrides cleared, every DAQMXSIM_ behaviour on, the time
 * scale from NIDAQMX_SIM_TIME_SCALE (1.0 when unset), simulated time back to 0
 * and the events of NIDAQMX_SIM_EVENTS scheduled afresh. Live tasks are
 * released and forgotten. */
void DAQmxSim_Reset(void);

/* Replace the device table with the rig described by a JSON file (the same
 * format NIDAQMX_SIM_DEVICES names). Returns 0, or
 * DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION with the reason available from
 * DAQmxGetExtendedErrorInfo; the table is unchanged then. */
int32 DAQmxSim_LoadDevices(const char* path);

/* Pacing of acquisitions: 1.0 is real time, N runs N times faster, 0 delivers
 * every block at once (unpaced). Negative values are treated as 0. */
void DAQmxSim_SetTimeScale(double scale);

/* Which DAQMXSIM_ behaviours are on (a set of the flags above), from now on,
 * for existing tasks too. DAQmxSim_Realism returns the current set. */
void DAQmxSim_SetRealism(uInt32 flags);
uInt32 DAQmxSim_Realism(void);

/* Samples per channel that the input buffer of every continuous task holds
 * from now on (0: back to the default). The default is the rig file's
 * "ai_buffer_samples_per_channel" for the device, else what the driver picks
 * for the rate: up to 100 S/s 1 000, up to 10 kS/s 10 000, up to 1 MS/s
 * 100 000, above 1 000 000; or the samples per channel given to
 * DAQmxCfgSampClkTiming when that is larger. A task that sets its own size
 * with DAQmxCfgInputBuffer keeps that. */
void DAQmxSim_SetInputBufferSize(uInt64 samplesPerChannel);

/* The input buffer of a task in samples per channel (0 for a task that is not
 * continuous and timed). Returns 0, or a negative status for an invalid task. */
int32 DAQmxSim_GetInputBufferSize(TaskHandle task, uInt64* samplesPerChannel);

/* Unplug (present = 0) or replug a device. An unplugged device answers every
 * property and control call with -201003 ("device not available"). Tasks of
 * the device that exist when it is unplugged lose their acquisition: their
 * reads, waiting ones included, and DAQmxGetReadAvailSampPerChan fail with
 * -50405 (transfer aborted), and so does starting them again, even after a
 * replug, until they are cleared (see DAQMXSIM_REMOVAL_ABORTS). Tasks created
 * after the replug work. Returns 0, or a negative status for an unknown
 * device. */
int32 DAQmxSim_SetDevicePresent(const char* device, bool32 present);

/* Simulated seconds since the driver started (its first call) or was last
 * reset, on the clock that paces acquisitions and times scheduled events.
 * Unpaced (time scale 0) it moves only by the acquisition time of what timed
 * reads deliver and by DAQmxSim_AdvanceTime. */
double DAQmxSim_SimulatedTime(void);

/* Moves simulated time forward by `seconds` at once (acquisitions, timeouts
 * and scheduled events all see the jump). */
void DAQmxSim_AdvanceTime(double seconds);

/* Adds events to the schedule, in the format of the file NIDAQMX_SIM_EVENTS
 * names: a JSON array of {"at_s": seconds, "device": name, "event": name}
 * objects, "event" one of "unplug", "replug", "transfer_abort", "overflow",
 * "reset"; a "replug" may carry "as" (the name it comes back under, same
 * serial number) and "ready_after_s" (seconds during which the device is
 * listed but its properties and tasks fail with -201003). Each event happens
 * once, when simulated time reaches at_s:
 *   unplug, replug   as DAQmxSim_SetDevicePresent;
 *   transfer_abort   the device's running tasks fail with -50405 until cleared;
 *   overflow         its running analogue tasks fail with -200279 until stopped;
 *   reset            as DAQmxResetDevice: running tasks fail with -88709 until cleared.
 * Returns 0, or DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE (nothing is scheduled
 * then) with the reason, naming the entry's index, from
 * DAQmxGetExtendedErrorInfo. A bad file named by NIDAQMX_SIM_EVENTS is reported
 * on standard error as "nidaqmx_sim: ignoring NIDAQMX_SIM_EVENTS: FILE: reason"
 * and the driver runs as without it. */
int32 DAQmxSim_ScheduleEventsJson(const char* json);

/* The simulated second at which the task's trigger fired in its latest run:
 * its reference trigger when it has one, else its start trigger. NaN while
 * that trigger has not fired yet, and for a task without triggers. Returns 0,
 * or a negative status for an invalid task. */
int32 DAQmxSim_GetTriggerTime(TaskHandle task, double* seconds);

/* Drops every event not yet happened. DAQmxSim_Reset also does, then
 * schedules the events of NIDAQMX_SIM_EVENTS afresh. */
void DAQmxSim_ClearEvents(void);

/* Events scheduled and not yet happened. */
uInt32 DAQmxSim_PendingEventCount(void);

/* Make the named function return `status` instead of doing its work, for the
 * next `times` calls (times < 0: from now on). Outputs are not written. A
 * scripted failure sets the thread's extended error text like a real one.
 * A later script for the same function replaces the earlier one. */
void DAQmxSim_FailCall(const char* function, int32 status, int32 times);

/* Queue statuses that the next DAQmxReadAnalogF64 calls (any task) return, one
 * per call, before reads resume normally. A queued 0 is a normal read. */
void DAQmxSim_QueueReadStatuses(const int32* statuses, uInt32 count);

/* Deliver at most `samples` samples per channel per analogue read (0: no cap).
 * The read reports the smaller count and fills only that many per channel,
 * laid out with the delivered count as stride. */
void DAQmxSim_SetReadSampleCap(int32 samples);

/* Add `extra` to the samples-per-channel count that analogue reads report,
 * without writing more data: a misbehaving driver for robustness tests. */
void DAQmxSim_SetReadCountSkew(int32 extra);

/* Status DAQmxSelfTestDevice returns for the device (0 by default). */
int32 DAQmxSim_SetSelfTestStatus(const char* device, int32 status);

/* Rate that DAQmxGetSampClkRate reports for tasks configured from now on,
 * whatever was requested (rate <= 0: back to the device's own coercion). */
void DAQmxSim_ForceSampleClockRate(double rate);

/* The active edge (DAQmx_Val_Rising or DAQmx_Val_Falling) of the sample clock
 * configured last by any task; 0 when none was since the last reset. */
int32 DAQmxSim_LastSampleClockEdge(void);

/* Text that replaces the driver's own extended error text for every later
 * failure (NULL or "": back to the driver's texts). */
void DAQmxSim_SetExtendedErrorText(const char* text);

/* Tasks created and not yet cleared, and those of them started and not stopped. */
uInt32 DAQmxSim_LiveTaskCount(void);
uInt32 DAQmxSim_RunningTaskCount(void);

/* Threads currently inside a DAQmx read call. */
uInt32 DAQmxSim_ReadsInProgress(void);

/* For the latest timed analogue read: the moment its block became available
 * (its last sample acquired) and the moment the read returned it, both in
 * nanoseconds of the steady clock (std::chrono::steady_clock). 0 before any
 * such read since the last reset. Either pointer may be NULL. */
void DAQmxSim_LastAnalogReadTimes(int64_t* blockReadyNs, int64_t* returnedNs);

/* How often the named function was called since the last reset (scripted
 * failures included). */
uInt64 DAQmxSim_CallCount(const char* function);

/* Every DAQmx call since the last reset, in order, is numbered from 0. The log
 * holds the function names; DAQmxSim_CallLogEntry returns NULL past the end.
 * The pointer stays valid until the next reset. */
uInt32 DAQmxSim_CallLogSize(void);
const char* DAQmxSim_CallLogEntry(uInt32 index);

/* Make the DAQmx call with the given position in the call log (0-based, counted
 * from the last reset) return `status`. One position can be armed at a time. */
void DAQmxSim_FailCallAtPosition(uInt32 position, int32 status);

/* The value an analogue read delivers for `physicalChannel` ("Dev1/ai3") at
 * sample `sampleIndex` (per channel, counted from 0 at the task's start),
 * equal, bit for bit, to what the read writes. The value depends on the rate
 * and range of the task: they are taken from the most recently created live
 * task that holds the channel; when none does, from the latest task that held
 * it since the reset (so a test may compare after clearing its task); when no
 * task ever did, the device's widest range at 1000 S/s. Tasks without a
 * sample clock count as 1000 S/s. NaN for a channel the rig does not have.
 *
 * With DAQMXSIM_REALISTIC_SIGNALS off the signal is the identifying sawtooth
 *     0.001 * (k + 1) + 0.000001 * (sampleIndex mod 1000)  volts,
 * k being the channel's position in its device's AI channel list (ai3: 3);
 * with DAQMXSIM_CONVERTER off too, that is exactly what reads deliver. */
double DAQmxSim_ExpectedSample(const char* physicalChannel, uInt64 sampleIndex);

/* The same for a task at `rate` samples per second whose channel was created
 * with the limits [minVal, maxVal] (the device's smallest range holding them
 * is used). NaN for an unknown channel or limits no range holds. */
double DAQmxSim_ExpectedSampleAt(const char* physicalChannel, uInt64 sampleIndex, double rate,
                                 double minVal, double maxVal);

/* The code width (volts per step of the converter) of a channel's device for
 * the range that [minVal, maxVal] selects; NaN as above. With the converter
 * on, every reading lies within a quarter of a code width (the channel's
 * calibration) of the range's low limit plus a whole number of code widths;
 * a signal below the range reads as the low limit, one above it as the top
 * code, one code width below the high limit, as a real converter does. */
double DAQmxSim_CodeWidth(const char* physicalChannel, double minVal, double maxVal);

/* The byte a digital read delivers for the line at position `lineIndex` of
 * its device's DI line list (port0/line2: 2) at sample `sampleIndex` (counted
 * from 0 at the task's start; each on-demand read of one sample advances it):
 * bit lineIndex of sampleIndex + 1, so 0 or 1. */
uInt8 DAQmxSim_ExpectedDigital(uInt32 lineIndex, uInt64 sampleIndex);

#ifdef __cplusplus
}
#endif

#endif /* NI_USB_DAQ_NIDAQMX_SIM_CONTROL_H */
