#pragma once

#include <memory>
#include <string>

#include "ViewAddress.h"
#include "ViewServer.h"
#include "ViewState.h"

namespace ni_usb_daq::host::view {

/// A run's live view: its state, shown every frame the recording gets, and
/// the server that shows it to browsers, listening from construction on.
class LiveView {
public:
    /// HostError (usage) when `where` cannot be listened on. `recordingFile`
    /// is the name the page shows; empty when nothing is recorded.
    LiveView(const ViewAddress& where, std::string recordingFile);

    StreamObserver& observer() { return state_; }
    /// The run is over: stopped as asked, or ended by `error` (non-empty).
    void ended(const std::string& error) { state_.ended(error); }
    const std::string& url() const { return server_.url(); }

private:
    ViewState state_;
    ViewServer server_;
};

/// A live view listening at `where`, its address said on standard error
/// ("view: http://127.0.0.1:8080/") at once, even when told to be quiet:
/// it is how the page is found.
std::shared_ptr<LiveView> startLiveView(const ViewAddress& where, std::string recordingFile);

}  // namespace ni_usb_daq::host::view
