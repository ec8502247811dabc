#include "LogFilter.h"

#include <algorithm>
#include <iostream>

namespace ni_usb_daq::host {

namespace {

constexpr std::string_view kPluginPrefix = "[ni-usb-daq";
constexpr std::string_view kInfoPrefix = "[ni-usb-daq I] ";

/// The prefix of a plug-in line ("[ni-usb-daq W] "); empty for other text.
std::string_view pluginPrefix(std::string_view text) {
    if (!text.starts_with(kPluginPrefix)) {
        return {};
    }
    const auto close = text.find("] ");
    return close == std::string_view::npos ? std::string_view() : text.substr(0, close + 2);
}

/// `text` on one line: the lines in it joined by " | ", empty ones left out;
/// a line break at its end stays.
std::string oneLine(std::string_view text) {
    const bool ended = text.ends_with('\n');
    if (ended) {
        text.remove_suffix(1);
    }
    std::string line;
    while (!text.empty()) {
        const auto end = std::min(text.find('\n'), text.size());
        std::string_view part = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (part.ends_with('\r')) {
            part.remove_suffix(1);
        }
        if (!part.empty()) {
            line += (line.empty() ? "" : " | ") + std::string(part);
        }
    }
    return ended ? line + '\n' : line;
}

}  // namespace

void OpenLine::show(std::string_view text) {
    const std::lock_guard lock(mutex_);
    std::string line = '\r' + std::string(text);
    if (text.size() < width_) {
        line.append(width_ - text.size(), ' ');  // wipe the end of a longer text
    }
    width_ = text.size();
    open_ = true;
    out_.sputn(line.data(), static_cast<std::streamsize>(line.size()));
    out_.pubsync();
}

void OpenLine::end() {
    const std::lock_guard lock(mutex_);
    endLocked();
}

void OpenLine::endLocked() {
    if (open_) {
        out_.sputc('\n');
        out_.pubsync();
        open_ = false;
        width_ = 0;
    }
}

PluginLogFilter::PluginLogFilter(bool hideInfo)
    : target_(std::cerr.rdbuf()), hideInfo_(hideInfo), line_(std::make_shared<OpenLine>(*target_)) {
    std::cerr.rdbuf(this);
}

PluginLogFilter::~PluginLogFilter() {
    {
        const std::lock_guard lock(mutex_);
        writeRepeats();
    }
    std::cerr.rdbuf(target_);
}

std::shared_ptr<OpenLine> PluginLogFilter::openLine() {
    if (auto* filter = dynamic_cast<PluginLogFilter*>(std::cerr.rdbuf())) {
        return filter->line_;
    }
    return std::make_shared<OpenLine>(*std::cerr.rdbuf());
}

// Nothing here is buffered: every call goes straight to the stream it
// replaced, which is safe to write from the plug-in's threads.
std::streamsize PluginLogFilter::xsputn(const char* text, std::streamsize count) {
    const std::string_view written(text, static_cast<std::size_t>(count));
    if (hideInfo_ && written.starts_with(kInfoPrefix)) {
        return count;
    }
    const std::lock_guard lock(mutex_);
    if (pluginPrefix(written).empty()) {
        pass(written);
        lastLine_.clear();
        return count;
    }
    // A driver that keeps failing the same way says so once, then counts.
    if (written == lastLine_) {
        ++repeats_;
        return count;
    }
    pass(oneLine(written));
    lastLine_ = written;
    return count;
}

PluginLogFilter::int_type PluginLogFilter::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const char character = traits_type::to_char_type(c);
    const std::lock_guard lock(mutex_);
    pass(std::string_view(&character, 1));
    lastLine_.clear();
    return c;
}

int PluginLogFilter::sync() {
    return target_->pubsync();
}

void PluginLogFilter::pass(std::string_view text) {
    writeRepeats();
    line_->endThen(
        [&] { return target_->sputn(text.data(), static_cast<std::streamsize>(text.size())); });
}

void PluginLogFilter::writeRepeats() {
    if (repeats_ == 0) {
        return;
    }
    const std::string note = std::string(pluginPrefix(lastLine_)) + "last message repeated " +
                             std::to_string(repeats_) + (repeats_ == 1 ? " time\n" : " times\n");
    repeats_ = 0;
    line_->endThen(
        [&] { return target_->sputn(note.data(), static_cast<std::streamsize>(note.size())); });
}

}  // namespace ni_usb_daq::host
