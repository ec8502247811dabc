#include "EscapedException.h"

#include <exception>
#include <new>
#include <string>

#include "ErrorText.h"
#include "ExtendedError.h"
#include "StatusCodes.h"

namespace daqmx_sim {

int32 escapedException(const char* function) noexcept {
    int32 status = status::kInternalFault;
    const char* reason = "an exception of unknown type";
    try {
        throw;
    } catch (const std::bad_alloc& error) {
        status = status::kOutOfMemory;
        reason = error.what();
    } catch (const std::exception& error) {
        reason = error.what();
    } catch (...) {
    }
    try {
        return fail(status, errorText(status, statusSummary(status),
                                      {{"Function", function}, {"Reason", reason}}));
    } catch (...) {
        return status;  // no memory even for the text: the status alone says it
    }
}

}  // namespace daqmx_sim
