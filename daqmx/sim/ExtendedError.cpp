#include "ExtendedError.h"

#include <mutex>

namespace daqmx_sim {

namespace {

std::string& threadErrorText() {
    thread_local std::string text;
    return text;
}

// The override is set by the controlling test thread and read by every thread
// that fails a call, so it has its own small lock.
struct ErrorTextOverride {
    std::mutex mutex;
    std::string text;
};

ErrorTextOverride& errorTextOverride() {
    static ErrorTextOverride instance;
    return instance;
}

}  // namespace

int32 fail(int32 status, std::string text) {
    {
        ErrorTextOverride& override = errorTextOverride();
        const std::lock_guard lock(override.mutex);
        if (!override.text.empty()) {
            text = override.text;
        }
    }
    threadErrorText() = std::move(text);
    return status;
}

const std::string& lastErrorText() {
    return threadErrorText();
}

void setErrorTextOverride(std::string text) {
    ErrorTextOverride& override = errorTextOverride();
    const std::lock_guard lock(override.mutex);
    override.text = std::move(text);
}

}  // namespace daqmx_sim
