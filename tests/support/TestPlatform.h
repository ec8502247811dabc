#pragma once

// What the test programs need from the operating system, in one place:
// TestPlatformPosix.cpp and TestPlatformWindows.cpp implement it, and CMake
// compiles the one for the system being built for.

#include <optional>
#include <set>
#include <string>

namespace test_support::platform {

/// A shared library loaded by full path, its dependencies looked for beside
/// it; null when it cannot be loaded, with the loader's words in `error`.
void* loadLibrary(const std::string& path, std::string& error);
void* findSymbol(void* library, const char* name);

/// The C runtime's environment, which getenv reads in every module.
void setEnvironment(const std::string& name, const std::string& value);
void unsetEnvironment(const std::string& name);

/// File descriptors of the C runtime, for redirecting standard error.
int duplicateDescriptor(int descriptor);
void redirectDescriptor(int from, int to);
void closeDescriptor(int descriptor);
/// A new empty file in the temporary directory, opened for writing; its path
/// goes to `path`. -1 when none can be made.
int createTemporaryFile(std::string& path);

/// A new empty directory in the temporary directory.
std::string createTemporaryDirectory();

/// Threads of this process right now.
int threadCount();
/// Memory of this process in physical memory, in KiB; -1 when unknown.
long residentKiB();

/// The names the library's dynamic symbol table (ELF) or export table (PE) offers.
std::set<std::string> exportedSymbols(const std::string& path);

/// Why permission bits cannot keep this process out of a directory, or
/// nullopt when they can.
std::optional<std::string> permissionsCannotDeny();

/// Why the plug-in's standard C++ streams are not the program's own (each
/// module linking its own C++ runtime), or nullopt when they are shared.
std::optional<std::string> separateCppRuntimes();

/// Why this process cannot create symbolic links, or nullopt when it can.
std::optional<std::string> symlinksUnsupported();

}  // namespace test_support::platform
