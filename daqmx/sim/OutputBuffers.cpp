#include "OutputBuffers.h"

#include <cstring>
#include <string>

#include "ErrorText.h"
#include "ExtendedError.h"
#include "StatusCodes.h"

namespace daqmx_sim {

int32 writeStringProperty(std::string_view text, char* data, uInt32 bufferSize) {
    const std::size_t needed = text.size() + 1;
    if (bufferSize == 0) {
        return static_cast<int32>(needed);
    }
    if (data == nullptr) {
        return nullOutput("data");
    }
    if (bufferSize < needed) {
        return fail(status::kBufferTooSmallForString,
                    errorText(status::kBufferTooSmallForString,
                              statusSummary(status::kBufferTooSmallForString),
                              {{"Required Size (in bytes)", std::to_string(needed)},
                               {"Buffer Size (in bytes)", std::to_string(bufferSize)}}));
    }
    std::memcpy(data, text.data(), text.size());
    data[text.size()] = '\0';
    return 0;
}

int32 nullOutput(std::string_view argument) {
    return fail(status::kNullPointer,
                errorText(status::kNullPointer, statusSummary(status::kNullPointer),
                          {{"Argument", std::string(argument)}}));
}

}  // namespace daqmx_sim
