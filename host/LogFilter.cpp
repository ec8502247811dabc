#include "LogFilter.h"

#include <iostream>

namespace ni_usb_daq::host {

namespace {

constexpr std::string_view kInfoPrefix = "[ni-usb-daq I] ";

}  // namespace

PluginLogFilter::PluginLogFilter(bool hideInfo) : target_(std::cerr.rdbuf()), hideInfo_(hideInfo) {
    std::cerr.rdbuf(this);
}

PluginLogFilter::~PluginLogFilter() {
    std::cerr.rdbuf(target_);
}

// Nothing here is buffered: every call goes straight to the stream it
// replaced, which is safe to write from the plug-in's threads.
std::streamsize PluginLogFilter::xsputn(const char* text, std::streamsize count) {
    if (hideInfo_ &&
        std::string_view(text, static_cast<std::size_t>(count)).starts_with(kInfoPrefix)) {
        return count;
    }
    return target_->sputn(text, count);
}

PluginLogFilter::int_type PluginLogFilter::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    return target_->sputc(traits_type::to_char_type(c));
}

int PluginLogFilter::sync() {
    return target_->pubsync();
}

}  // namespace ni_usb_daq::host
