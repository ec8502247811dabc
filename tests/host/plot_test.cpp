// plot: the SVG file must be well-formed and hold one trace per channel.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HostProcess.h"

using host_tests::HostRun;
using host_tests::runHost;

namespace {

struct Element {
    std::string name;
    std::string tag;  ///< the whole start tag
};

/// A small XML reader: enough to tell that tags balance and to list the
/// elements. Fails the test on any imbalance.
std::vector<Element> parseElements(const std::string& xml) {
    std::vector<Element> elements;
    std::vector<std::string> open;
    std::size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        const auto end = xml.find('>', at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated tag at " << at;
            return {};
        }
        const std::string tag = xml.substr(at, end - at + 1);
        at = end + 1;
        if (tag.rfind("<?", 0) == 0 || tag.rfind("<!--", 0) == 0) {
            continue;
        }
        const bool closing = tag[1] == '/';
        const bool selfClosing = tag[tag.size() - 2] == '/';
        const auto nameStart = closing ? 2u : 1u;
        const std::string name =
            tag.substr(nameStart, tag.find_first_of(" />", nameStart) - nameStart);
        if (closing) {
            if (open.empty() || open.back() != name) {
                ADD_FAILURE() << "unbalanced </" << name << ">";
                return {};
            }
            open.pop_back();
            continue;
        }
        if (open.empty() && !elements.empty()) {
            ADD_FAILURE() << "a second root element <" << name << ">";
        }
        elements.push_back({name, tag});
        if (!selfClosing) {
            open.push_back(name);
        }
    }
    EXPECT_TRUE(open.empty()) << "unclosed <" << (open.empty() ? "" : open.back()) << ">";
    return elements;
}

std::vector<Element> traces(const std::vector<Element>& elements) {
    std::vector<Element> found;
    for (const auto& element : elements) {
        if (element.tag.find("class=\"trace\"") != std::string::npos) {
            found.push_back(element);
        }
    }
    return found;
}

/// Points of a trace: the M and L commands of its path.
std::size_t pointCount(const Element& trace) {
    const auto d = trace.tag.find(" d=\"");
    std::size_t points = 0;
    for (std::size_t i = d + 4; i < trace.tag.size() && trace.tag[i] != '"'; ++i) {
        points += trace.tag[i] == 'M' || trace.tag[i] == 'L';
    }
    return points;
}

class PlotCommand : public testing::Test {
protected:
    std::string svgPath() const { return (directory_ / "plot.svg").string(); }

    std::string readSvg() const {
        std::ifstream file(svgPath());
        std::stringstream content;
        content << file.rdbuf();
        return content.str();
    }

    void TearDown() override { std::filesystem::remove_all(directory_); }

private:
    std::filesystem::path directory_ = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("host-plot-" + std::to_string(::getpid()) + "-" +
                     testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(path);
        return path;
    }();
};

}  // namespace

TEST_F(PlotCommand, FiniteReadGivesAWellFormedSvgWithOneTracePerChannel) {
    const HostRun run =
        runHost({"plot", "--out", svgPath(), "ai_channels=Dev1/ai0:2", "samples_per_channel=50"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out).at("svg"), svgPath());
    const std::string svg = readSvg();
    const auto elements = parseElements(svg);
    ASSERT_FALSE(elements.empty());
    EXPECT_EQ(elements.front().name, "svg");
    const auto found = traces(elements);
    ASSERT_EQ(found.size(), 3u);
    for (const auto& trace : found) {
        EXPECT_EQ(pointCount(trace), 50u) << trace.tag.substr(0, 200);
    }
    for (const auto* label : {">Dev1/ai0<", ">Dev1/ai2<", ">Time (s)<", ">Voltage (V)<"}) {
        EXPECT_NE(svg.find(label), std::string::npos) << label;
    }
}

TEST_F(PlotCommand, LongTracesAreThinnedToAtMostTwoThousandPoints) {
    const HostRun run =
        runHost({"plot", "--out", svgPath(), "ai_channels=Dev1/ai0", "samples_per_channel=20000"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto found = traces(parseElements(readSvg()));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_LE(pointCount(found[0]), 2000u);
    EXPECT_GT(pointCount(found[0]), 1000u);
}

TEST_F(PlotCommand, StreamedPlotHasOneTracePerChannel) {
    const HostRun run = runHost({"plot", "--out", svgPath(), "--stream-seconds", "0.2",
                                 "ai_channels=Dev1/ai0:1", "samples_per_channel=20"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(traces(parseElements(readSvg())).size(), 2u);
}

TEST_F(PlotCommand, UnwritableFileIsAFailure) {
    const HostRun run = runHost({"plot", "--out", "/nonexistent-dir/plot.svg"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(host_tests::contains(run.err, "cannot write '/nonexistent-dir/plot.svg'"));
}
