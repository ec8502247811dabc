#pragma once

// A file of the fuzz target's own, made once per process, for the inputs that
// the code under test reads by name.

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace fuzz_support {

/// The same path for the whole run; `pattern` ends in "XXXXXX".
inline const std::string& scratchFile(const char* pattern) {
    static const std::string path = [pattern] {
        std::string name = pattern;
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            std::abort();
        }
        ::close(fd);
        return name;
    }();
    return path;
}

}  // namespace fuzz_support
