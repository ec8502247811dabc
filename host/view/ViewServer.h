#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ViewAddress.h"

namespace ni_usb_daq::host::view {

class ViewState;

/// The live view's HTTP and WebSocket server: the page at "/", the data of
/// `state` at "/data", about thirty updates a second to each page, on a
/// thread of its own from construction to destruction. A page that cannot
/// take its updates as fast has them merged; nothing waits for it.
class ViewServer {
public:
    /// Listens at `where`; HostError with the usage exit status when it
    /// cannot (the port is in use, the address is not this machine's).
    ViewServer(const ViewState& state, const ViewAddress& where, std::string_view page);
    ~ViewServer();
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    /// "http://127.0.0.1:8080/", with the port taken when 0 was asked.
    const std::string& url() const;
    std::uint16_t port() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ni_usb_daq::host::view
