#include "stubs/acquisition/TerminalConfig.h"

#include <array>
#include <string_view>
#include <utility>

namespace kra::device::stubs {

int32 parseTerminalConfig(const std::string& text) {
    static constexpr std::array<std::pair<std::string_view, int32>, 8> kNames{{
        {"RSE", DAQmx_Val_RSE},
        {"NRSE", DAQmx_Val_NRSE},
        {"DIFF", DAQmx_Val_Diff},
        {"Differential", DAQmx_Val_Diff},
        {"DIFFERENTIAL", DAQmx_Val_Diff},
        {"PseudoDifferential", DAQmx_Val_PseudoDiff},
        {"PSEUDO_DIFF", DAQmx_Val_PseudoDiff},
        {"PSEUDODIFFERENTIAL", DAQmx_Val_PseudoDiff},
    }};
    for (const auto& [name, value] : kNames) {
        if (text == name) {
            return value;
        }
    }
    return DAQmx_Val_RSE;
}

}  // namespace kra::device::stubs
