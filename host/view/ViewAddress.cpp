#include "ViewAddress.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "HostError.h"

namespace ni_usb_daq::host::view {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isPort(std::string_view text, std::uint16_t& port) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

/// An address as it goes into a URL: IPv6 in brackets.
std::string urlHost(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

bool isLoopback(const std::string& address) {
    return address.starts_with("127.") || address == "::1";
}

bool isUnspecified(const std::string& address) {
    return address == "0.0.0.0" || address == "::";
}

/// Digits, dots, hex digits and colons in brackets: an address, not a name.
bool isAddressLiteral(std::string_view host) {
    if (host.starts_with('[')) {
        return host.ends_with(']') &&
               std::all_of(host.begin() + 1, host.end() - 1, [](unsigned char c) {
                   return std::isxdigit(c) || c == ':' || c == '.';
               });
    }
    return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isdigit(c) || c == '.';
    });
}

}  // namespace

ViewAddress parseViewAddress(std::string_view text, std::string_view option) {
    ViewAddress where;
    std::string_view port = text;
    if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.starts_with('[') && host.ends_with(']')) {
            host = host.substr(1, host.size() - 2);
        } else if (host.find(':') != std::string_view::npos) {
            host = {};  // an IPv6 address has to be in brackets
        }
        where.address = lower(host) == "localhost" ? "127.0.0.1" : std::string(host);
        if (where.address.empty()) {
            throw HostError(
                std::string(option) + ": \"" + std::string(text) + "\" is not [ADDRESS:]PORT",
                kUsageExitCode);
        }
    }
    where.port = parsePort(port, option);
    return where;
}

std::uint16_t parsePort(std::string_view text, std::string_view option) {
    std::uint16_t port = 0;
    if (!isPort(text, port)) {
        throw HostError(
            std::string(option) + ": \"" + std::string(text) + "\" is not a port (0 to 65535)",
            kUsageExitCode);
    }
    return port;
}

HostCheck::HostCheck(const std::string& address, std::uint16_t port)
    : anyAddress_(isUnspecified(address)), port_(port) {
    std::string suffix = ":";
    suffix.append(std::to_string(port));
    hosts_.push_back(lower(urlHost(address)) + suffix);
    if (isLoopback(address) || anyAddress_) {
        hosts_.push_back("localhost" + suffix);
        hosts_.push_back("127.0.0.1" + suffix);
        hosts_.push_back("[::1]" + suffix);
    }
    if (port == 80) {
        // A browser leaves the default port out of the Host header.
        const std::size_t named = hosts_.size();
        for (std::size_t i = 0; i < named; ++i) {
            hosts_.push_back(hosts_[i].substr(0, hosts_[i].size() - suffix.size()));
        }
    }
    url_ = "http://";
    url_.append(urlHost(address)).append(suffix).append("/");
}

bool HostCheck::host(std::string_view value) const {
    const std::string wanted = lower(value);
    if (std::find(hosts_.begin(), hosts_.end(), wanted) != hosts_.end()) {
        return true;
    }
    if (!anyAddress_) {
        return false;
    }
    // Every interface: reached by any of the machine's addresses, which a
    // rebinding name cannot pose as.
    const auto colon = wanted.rfind(':');
    std::uint16_t port = 0;
    const bool bracketed = !wanted.empty() && wanted.back() == ']';
    const std::string_view host = colon == std::string::npos || bracketed
                                      ? std::string_view(wanted)
                                      : std::string_view(wanted).substr(0, colon);
    const bool portMatches =
        colon == std::string::npos || bracketed
            ? port_ == 80
            : isPort(std::string_view(wanted).substr(colon + 1), port) && port == port_;
    return portMatches && isAddressLiteral(host);
}

bool HostCheck::origin(std::string_view value) const {
    constexpr std::string_view kScheme = "http://";
    const std::string wanted = lower(value);
    return wanted.starts_with(kScheme) && host(std::string_view(wanted).substr(kScheme.size()));
}

}  // namespace ni_usb_daq::host::view
