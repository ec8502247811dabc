#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "daqmx/NIDAQmx.h"

namespace daqmx_sim {

/// One "Name: value" line of an extended error text.
using ErrorDetail = std::pair<std::string_view, std::string>;

/// Builds an extended error text the way the vendor's driver lays it out: a
/// summary sentence, one "Name: value" line per detail, then "Status Code: N".
std::string errorText(int32 status, std::string_view summary,
                      std::initializer_list<ErrorDetail> details = {});

/// The summary sentence the driver uses for a status (a generic one for
/// statuses it has no text for).
std::string_view statusSummary(int32 status);

/// Text of a failure that a test scripted for `function`.
std::string scriptedFailureText(std::string_view function, int32 status);

/// Locale-independent shortest round-trip text of a number.
std::string formatNumber(double value);

}  // namespace daqmx_sim
