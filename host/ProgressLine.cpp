#include "ProgressLine.h"

#include <iostream>

#include "HostError.h"
#include "LogFilter.h"
#include "NumberFormat.h"
#include "Platform.h"

namespace ni_usb_daq::host {

ProgressLine::ProgressLine(bool quiet, std::chrono::duration<double> interval)
    : line_(platform::stderrIsTerminal() ? PluginLogFilter::openLine() : nullptr),
      plain_(line_ == nullptr && !quiet),
      interval_(interval),
      nextPlain_(interval) {}

void ProgressLine::show(const StreamStats& stats, std::chrono::duration<double> elapsed) {
    if (line_) {
        line_->show(text(stats, elapsed));
    } else if (plain_ && elapsed >= nextPlain_) {
        std::cerr << kProgramName << ": " << formatFixed(elapsed.count(), 0)
                  << " s: " << text(stats, elapsed) << '\n';
        nextPlain_ = elapsed + interval_;
    }
}

void ProgressLine::finish() {
    if (line_) {
        line_->end();
    }
}

std::string ProgressLine::text(const StreamStats& stats, std::chrono::duration<double> elapsed) {
    const double seconds = elapsed.count();
    const double rate = seconds > 0 ? static_cast<double>(stats.samples) / seconds : 0.0;
    std::string text = "frames " + std::to_string(stats.frames) + " | " + formatFixed(rate, 1) +
                       " samples/s | errors " + std::to_string(stats.errors());
    if (!stats.state.empty()) {
        text += " | " + stats.state;
    } else if (stats.recoveries > 0) {
        text += " | recording, recovered " + std::to_string(stats.recoveries) +
                (stats.recoveries == 1 ? " time" : " times");
    }
    return text;
}

}  // namespace ni_usb_daq::host
