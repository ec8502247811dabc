#include "HostProcess.h"

#include <fstream>
#include <sstream>

namespace host_tests {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string piece; std::getline(stream, piece, separator);) {
        result.push_back(piece);
    }
    return result;
}

HostRun runHost(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    return HostProcess(args, environment).finish();
}

void expectRefusal(const std::vector<std::string>& args, int exitCode, const std::string& message) {
    SCOPED_TRACE(testing::PrintToString(args));
    const HostRun run = runHost(args);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(run.err.rfind("ni-usb-daq-host: ", 0), 0u) << run.err;
    EXPECT_TRUE(contains(run.err, message));
    EXPECT_EQ(split(run.err).size(), 1u) << run.err;
}

std::string fileText(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::vector<std::string> dataLines(const std::string& text) {
    std::vector<std::string> lines;
    for (auto& line : split(text)) {
        if (line.rfind('#', 0) != 0) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

}  // namespace host_tests
