#pragma once

#include <iosfwd>
#include <streambuf>
#include <string_view>

namespace ni_usb_daq::host {

/// While it lives, standard error (std::cerr, which the plug-in logs to as
/// well) goes through it: with `hideInfo`, the plug-in's information lines
/// are dropped and everything else is passed on unchanged. The plug-in
/// writes each log line with one call, so a line is recognised by the prefix
/// of the text of one write.
class PluginLogFilter : public std::streambuf {
public:
    explicit PluginLogFilter(bool hideInfo);
    ~PluginLogFilter() override;
    PluginLogFilter(const PluginLogFilter&) = delete;
    PluginLogFilter& operator=(const PluginLogFilter&) = delete;

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int_type overflow(int_type c) override;
    int sync() override;

private:
    std::streambuf* const target_;
    const bool hideInfo_;
};

}  // namespace ni_usb_daq::host
