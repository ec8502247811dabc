#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "StreamSession.h"

namespace ni_usb_daq::host {

class OpenLine;

/// "frames N | R samples/s | errors E" on standard error. A terminal gets
/// one line rewritten in place, which any message ends first; anything else
/// (a log file) a plain line every `interval`, unless quiet.
class ProgressLine {
public:
    ProgressLine(bool quiet, std::chrono::duration<double> interval);

    void show(const StreamStats& stats, std::chrono::duration<double> elapsed);
    /// Ends the line on a terminal, so that what follows starts a line of its own.
    void finish();

private:
    static std::string text(const StreamStats& stats, std::chrono::duration<double> elapsed);

    std::shared_ptr<OpenLine> line_;  ///< on a terminal only
    bool plain_;
    std::chrono::duration<double> interval_;
    std::chrono::duration<double> nextPlain_;
};

}  // namespace ni_usb_daq::host
