#pragma once

#include <string_view>

namespace ni_usb_daq::host::view {

/// The view's page, HTML with its script and style inline, as compiled into
/// the program.
std::string_view viewPage();

}  // namespace ni_usb_daq::host::view
