#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host::view {

/// Where the view listens: an IP address (loopback unless asked otherwise)
/// and a port, 0 for any free one.
struct ViewAddress {
    std::string address = "127.0.0.1";
    std::uint16_t port = 8080;
};

/// A port number, 0 to 65535; HostError (usage) naming `option` otherwise.
std::uint16_t parsePort(std::string_view text, std::string_view option);

/// "PORT", "ADDR:PORT" or "[IPv6]:PORT"; "localhost" stands for 127.0.0.1.
/// HostError (usage) naming `option` when it is none of them.
ViewAddress parseViewAddress(std::string_view text, std::string_view option);

/// The Host header values under which the view may be reached once it
/// listens on `address` at `port`: its own address and port, and
/// "localhost" and "127.0.0.1" when that is loopback. Requests under any
/// other name (a DNS-rebinding name pointing at this machine) are refused.
class HostCheck {
public:
    HostCheck(const std::string& address, std::uint16_t port);

    /// True for a Host header the view answers to (case does not matter).
    bool host(std::string_view value) const;
    /// True for an Origin header of a page the view served.
    bool origin(std::string_view value) const;

    /// "http://127.0.0.1:8080/"
    const std::string& url() const { return url_; }

private:
    std::vector<std::string> hosts_;
    /// Bound to every interface: any address literal (no name) at the port.
    bool anyAddress_ = false;
    std::uint16_t port_;
    std::string url_;
};

}  // namespace ni_usb_daq::host::view
