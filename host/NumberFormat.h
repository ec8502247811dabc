#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ni_usb_daq::host {

// Numbers in and out of the program never go through the process locale: a
// decimal comma in a CSV column or an SVG coordinate would corrupt the file.

/// The shortest text that reads back to the same value; "nan", "inf", "-inf"
/// for values that are not finite.
std::string formatNumber(double value);

/// Fixed notation with `decimals` digits after the point.
std::string formatFixed(double value, int decimals);

/// A whole decimal text as a number; nullopt when any character is left over.
std::optional<double> parseNumber(std::string_view text);

}  // namespace ni_usb_daq::host
