#include "LiveView.h"

#include <iostream>

#include "ViewPage.h"

namespace ni_usb_daq::host::view {

LiveView::LiveView(const ViewAddress& where, std::string recordingFile)
    : state_(std::move(recordingFile)), server_(state_, where, viewPage()) {}

std::shared_ptr<LiveView> startLiveView(const ViewAddress& where, std::string recordingFile) {
    auto live = std::make_shared<LiveView>(where, std::move(recordingFile));
    std::cerr << "view: " << live->url() << std::endl;
    return live;
}

}  // namespace ni_usb_daq::host::view
