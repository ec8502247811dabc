#include "SvgPlot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>

#include "NumberFormat.h"

namespace ni_usb_daq::host {

namespace {

constexpr double kWidth = 960;
constexpr double kHeight = 540;
constexpr double kLeft = 80;
constexpr double kTop = 50;
constexpr double kRight = kWidth - 200;  // the legend lives to the right
constexpr double kBelowPlot = 60;        // time ticks and their label
constexpr double kLaneHeight = 90;
constexpr double kLaneSpacing = 12;
constexpr int kTargetTicks = 6;
constexpr int kLaneTicks = 3;

constexpr std::array<const char*, 10> kPalette = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                                  "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
                                                  "#bcbd22", "#17becf"};

struct Range {
    double low = 0;
    double high = 1;
    double span() const { return high - low; }
};

struct Point {
    std::size_t index = 0;
    double value = 0;  ///< NaN: the trace breaks here
};

std::string coordinate(double value) {
    return formatFixed(value, 2);
}

/// Tick spacing of 1, 2 or 5 times a power of ten, about `target` ticks.
double tickStep(const Range& range, int target) {
    const double raw = range.span() / target;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double residual = raw / magnitude;
    const double factor = residual < 1.5 ? 1 : residual < 3 ? 2 : residual < 7 ? 5 : 10;
    return factor * magnitude;
}

int tickDecimals(double step) {
    return std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 9);
}

std::vector<double> ticks(const Range& range, double step) {
    std::vector<double> values;
    const double first = std::ceil(range.low / step - 1e-9) * step;
    for (double value = first; value <= range.high + step * 1e-9; value += step) {
        values.push_back(std::abs(value) < step * 1e-9 ? 0.0 : value);  // no "-0"
    }
    return values;
}

Range voltageRange(const std::vector<const PlotTrace*>& traces) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const auto* trace : traces) {
        for (const double value : trace->values) {
            if (std::isfinite(value)) {
                low = std::min(low, value);
                high = std::max(high, value);
            }
        }
    }
    if (low > high) {
        return {-1, 1};
    }
    if (low == high) {
        const double margin = low == 0 ? 1 : std::abs(low) * 0.1;
        return {low - margin, high + margin};
    }
    const double pad = (high - low) * 0.05;
    return {low - pad, high + pad};
}

/// The points to draw: every sample when there are few enough, else the
/// minimum and maximum of each of maxPoints/2 equal stretches.
std::vector<Point> thin(const std::vector<double>& values, std::size_t maxPoints) {
    std::vector<Point> points;
    if (values.size() <= maxPoints) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            points.push_back({i, values[i]});
        }
        return points;
    }
    const std::size_t buckets = std::max<std::size_t>(maxPoints / 2, 1);
    for (std::size_t b = 0; b < buckets; ++b) {
        const std::size_t begin = b * values.size() / buckets;
        const std::size_t end = (b + 1) * values.size() / buckets;
        std::optional<std::size_t> lowest;
        std::optional<std::size_t> highest;
        for (std::size_t i = begin; i < end; ++i) {
            if (!std::isfinite(values[i])) {
                continue;
            }
            if (!lowest || values[i] < values[*lowest]) {
                lowest = i;
            }
            if (!highest || values[i] > values[*highest]) {
                highest = i;
            }
        }
        if (!lowest) {
            points.push_back({begin, std::numeric_limits<double>::quiet_NaN()});
            continue;
        }
        const auto [first, second] = std::minmax(*lowest, *highest);
        points.push_back({first, values[first]});
        if (second != first) {
            points.push_back({second, values[second]});
        }
    }
    return points;
}

/// One set of voltage axes: the whole plot area when traces share it, or
/// one lane per trace.
class Canvas {
public:
    Canvas(Range time, Range volts, double top, double bottom)
        : time_(time), volts_(volts), top_(top), bottom_(bottom) {}

    double x(double seconds) const {
        return kLeft + (seconds - time_.low) / time_.span() * (kRight - kLeft);
    }
    double y(double volts) const {
        return bottom_ - (volts - volts_.low) / volts_.span() * (bottom_ - top_);
    }
    double top() const { return top_; }
    double bottom() const { return bottom_; }
    const Range& volts() const { return volts_; }

private:
    Range time_;
    Range volts_;
    double top_;
    double bottom_;
};

std::string tracePath(const std::vector<Point>& points, const Canvas& canvas, double rate) {
    std::string path;
    bool penDown = false;
    std::size_t pointsInSubpath = 0;
    const auto closeSubpath = [&] {
        if (pointsInSubpath == 1) {
            path += " h0.5";  // a lone sample still shows as a dot
        }
        pointsInSubpath = 0;
    };
    for (const auto& point : points) {
        if (!std::isfinite(point.value)) {
            closeSubpath();
            penDown = false;
            continue;
        }
        if (!path.empty()) {
            path += ' ';
        }
        path += penDown ? 'L' : 'M';
        path += coordinate(canvas.x(static_cast<double>(point.index) / rate)) + ' ' +
                coordinate(canvas.y(point.value));
        penDown = true;
        ++pointsInSubpath;
    }
    closeSubpath();
    return path;
}

std::string text(double x, double y, const std::string& anchor, const std::string& cls,
                 const std::string& content, const std::string& extra = {}) {
    return "<text class=\"" + cls + "\" x=\"" + coordinate(x) + "\" y=\"" + coordinate(y) +
           "\" text-anchor=\"" + anchor + "\"" + extra + ">" + escapeXml(content) + "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const std::string& cls) {
    return "<line class=\"" + cls + "\" x1=\"" + coordinate(x1) + "\" y1=\"" + coordinate(y1) +
           "\" x2=\"" + coordinate(x2) + "\" y2=\"" + coordinate(y2) + "\"/>\n";
}

}  // namespace

std::string escapeXml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string renderSvgPlot(const PlotInput& input, std::size_t maxPointsPerTrace) {
    const double rate = input.sampleRateHz > 0 ? input.sampleRateHz : 1.0;
    std::size_t longest = 0;
    for (const auto& trace : input.traces) {
        longest = std::max(longest, trace.values.size());
    }
    const double duration = longest > 1 ? static_cast<double>(longest - 1) / rate : 1.0 / rate;
    const Range time{0, duration};

    // The axes: one shared set, or one lane per trace, each with its own range.
    std::vector<Canvas> canvases;
    std::vector<std::size_t> canvasOfTrace;
    const bool lanes = input.lanes && input.traces.size() > 1;
    double bottom = kHeight - kBelowPlot;
    if (lanes) {
        bottom = kTop + static_cast<double>(input.traces.size()) * (kLaneHeight + kLaneSpacing) -
                 kLaneSpacing;
        for (std::size_t i = 0; i < input.traces.size(); ++i) {
            const double top = kTop + static_cast<double>(i) * (kLaneHeight + kLaneSpacing);
            canvases.emplace_back(time, voltageRange({&input.traces[i]}), top, top + kLaneHeight);
            canvasOfTrace.push_back(i);
        }
    } else {
        std::vector<const PlotTrace*> all;
        for (const auto& trace : input.traces) {
            all.push_back(&trace);
            canvasOfTrace.push_back(0);
        }
        canvases.emplace_back(time, voltageRange(all), kTop, bottom);
    }
    const double height = std::max(kHeight, bottom + kBelowPlot);

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + coordinate(kWidth) +
           "\" height=\"" + coordinate(height) + "\" viewBox=\"0 0 " + coordinate(kWidth) + ' ' +
           coordinate(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg +=
        "<style>.grid{stroke:#e0e0e0;stroke-width:1}.axis{stroke:#000;stroke-width:1}"
        ".tick{stroke:#000;stroke-width:1}.trace{fill:none;stroke-width:1.2;"
        "stroke-linejoin:round;stroke-linecap:round}.title{font-size:14px}</style>\n";
    svg += "<defs>";
    for (std::size_t c = 0; c < canvases.size(); ++c) {
        svg += "<clipPath id=\"plot-area-" + std::to_string(c) + "\"><rect x=\"" +
               coordinate(kLeft) + "\" y=\"" + coordinate(canvases[c].top()) + "\" width=\"" +
               coordinate(kRight - kLeft) + "\" height=\"" +
               coordinate(canvases[c].bottom() - canvases[c].top()) + "\"/></clipPath>";
    }
    svg += "</defs>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += text(kWidth / 2, 28, "middle", "title", input.title);

    const double timeStep = tickStep(time, kTargetTicks);
    for (const double seconds : ticks(time, timeStep)) {
        const double x = canvases.front().x(seconds);
        for (const auto& canvas : canvases) {
            svg += line(x, canvas.top(), x, canvas.bottom(), "grid");
        }
        svg += line(x, bottom, x, bottom + 5, "tick");
        svg += text(x, bottom + 18, "middle", "tick-label",
                    formatFixed(seconds, tickDecimals(timeStep)));
    }
    for (const auto& canvas : canvases) {
        const double voltStep = tickStep(canvas.volts(), lanes ? kLaneTicks : kTargetTicks);
        for (const double value : ticks(canvas.volts(), voltStep)) {
            const double y = canvas.y(value);
            svg += line(kLeft, y, kRight, y, "grid");
            svg += line(kLeft - 5, y, kLeft, y, "tick");
            svg += text(kLeft - 8, y + 4, "end", "tick-label",
                        formatFixed(value, tickDecimals(voltStep)));
        }
        svg += line(kLeft, canvas.bottom(), kRight, canvas.bottom(), "axis");
        svg += line(kLeft, canvas.top(), kLeft, canvas.bottom(), "axis");
    }
    svg += text((kLeft + kRight) / 2, height - 18, "middle", "axis-label", "Time (s)");
    const std::string yLabelAt = coordinate(kTop + (bottom - kTop) / 2);
    svg += text(20, kTop + (bottom - kTop) / 2, "middle", "axis-label", "Voltage (V)",
                " transform=\"rotate(-90 20 " + yLabelAt + ")\"");

    for (std::size_t i = 0; i < input.traces.size(); ++i) {
        const auto& trace = input.traces[i];
        const Canvas& canvas = canvases[canvasOfTrace[i]];
        const std::string colour = kPalette[i % kPalette.size()];
        svg += "<path class=\"trace\" data-channel=\"" + escapeXml(trace.name) + "\" stroke=\"" +
               colour + "\" clip-path=\"url(#plot-area-" + std::to_string(canvasOfTrace[i]) +
               ")\" d=\"" + tracePath(thin(trace.values, maxPointsPerTrace), canvas, rate) +
               "\"/>\n";
        // In lanes each name stands beside its lane; else the legend is a list.
        const double y =
            lanes ? (canvas.top() + canvas.bottom()) / 2 : kTop + 10 + 20 * static_cast<double>(i);
        svg += "<line class=\"legend-swatch\" x1=\"" + coordinate(kRight + 20) + "\" y1=\"" +
               coordinate(y) + "\" x2=\"" + coordinate(kRight + 44) + "\" y2=\"" + coordinate(y) +
               "\" stroke=\"" + colour + "\" stroke-width=\"3\"/>\n";
        svg += text(kRight + 50, y + 4, "start", "legend-label", trace.name);
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace ni_usb_daq::host
