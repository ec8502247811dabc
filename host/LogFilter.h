#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <string_view>

namespace ni_usb_daq::host {

/// A line left open at the end of standard error: a progress display that
/// is rewritten in place with '\r'. Whatever else is written to standard
/// error ends it first (see PluginLogFilter), so that no message lands on it.
/// Safe to use from any thread.
class OpenLine {
public:
    explicit OpenLine(std::streambuf& out) : out_(out) {}
    OpenLine(const OpenLine&) = delete;
    OpenLine& operator=(const OpenLine&) = delete;

    /// Shows `text` (one line, no line break) in place of what the line
    /// showed before.
    void show(std::string_view text);
    /// Ends the line, if one is shown, with a line break.
    void end();

    /// Ends the line, then runs `write`, with no show() in between.
    template <typename Write>
    auto endThen(Write write) {
        const std::lock_guard lock(mutex_);
        endLocked();
        return write();
    }

private:
    void endLocked();

    std::mutex mutex_;
    std::streambuf& out_;
    std::size_t width_ = 0;  ///< of the text shown, to wipe when a shorter one follows
    bool open_ = false;
};

/// While it lives, standard error (std::cerr, which the plug-in logs to as
/// well) goes through it. The plug-in writes each log line with one call, so
/// a line is recognised by the prefix of the text of one write. With
/// `hideInfo` its information lines are dropped. A line of several lines
/// (a driver's extended error text) is written as one, its parts joined by
/// " | "; a line that repeats the one before is counted instead of written,
/// and "last message repeated N times" follows when anything else is
/// written, or when the filter goes. Everything written ends the open line
/// first.
class PluginLogFilter : public std::streambuf {
public:
    explicit PluginLogFilter(bool hideInfo);
    ~PluginLogFilter() override;
    PluginLogFilter(const PluginLogFilter&) = delete;
    PluginLogFilter& operator=(const PluginLogFilter&) = delete;

    /// The open line of the filter standard error goes through; without one,
    /// an open line of standard error as it is.
    static std::shared_ptr<OpenLine> openLine();

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int_type overflow(int_type c) override;
    int sync() override;

private:
    /// Writes `text` after the open line and any count of repeats.
    void pass(std::string_view text);
    /// The repeats of the last plug-in line, as a line of their own.
    void writeRepeats();

    std::streambuf* const target_;
    const bool hideInfo_;
    const std::shared_ptr<OpenLine> line_;
    std::mutex mutex_;           ///< the plug-in's threads write too
    std::string lastLine_;       ///< the last plug-in line written, as the plug-in wrote it
    std::uint64_t repeats_ = 0;  ///< times it came again since
};

}  // namespace ni_usb_daq::host
