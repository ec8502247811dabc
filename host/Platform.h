#pragma once

// What the host program needs from the operating system, in one place:
// PlatformPosix.cpp and PlatformWindows.cpp implement it, and CMake compiles
// the one for the system being built for.

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ni_usb_daq::host::platform {

/// A shared library loaded with the system's loader (dlopen, LoadLibraryEx).
/// Its own dependencies are looked for beside it first, as the plug-in's
/// driver is installed there. Throws HostError with the loader's reason.
std::shared_ptr<void> loadLibrary(const std::filesystem::path& path);

/// The address of an exported symbol, or null when the library lacks it.
void* findSymbol(void* library, const char* name);

/// This program's own file, wherever it was started from.
std::filesystem::path executablePath();

/// Sets an environment variable of this process, for the plug-in to read.
void setEnvironment(const std::string& name, const std::string& value);

/// A reader that goes away shows as a failed write, which every command ends
/// on the same quiet way, instead of a signal that kills the program.
void ignoreBrokenPipe();

/// Puts `from` in the place of `to` in one step, replacing a file already
/// there: a reader sees the old file or the new one, never a part. Throws
/// HostError with the system's reason.
void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

/// What a name is, after following symbolic links.
enum class FileKind { Missing, Regular, Folder, Device, Pipe, Socket, Other };

/// How an output file is written, by what its name is.
struct OutputPlace {
    FileKind kind = FileKind::Missing;
    /// Opened and written where it is, with no temporary file renamed over
    /// it: everything but a regular file or a new name outside the system's
    /// own folders (/dev, /proc). Replacing a device node or a pipe would
    /// break it, and a name there may stand for a file this process has open.
    bool inPlace = false;
    /// Written at its end rather than emptied: it is one of this process's
    /// open files (/dev/stdout, /proc/self/fd/N), which whoever opened it
    /// (a shell's redirection) emptied or not as they chose.
    bool append = false;
};

/// What `path` is and how it is written.
OutputPlace outputPlace(const std::filesystem::path& path);

/// Gives `replacement` the permissions of `original`, and, when this process
/// may set them, its owner and group, so that a file replaced by a new one
/// keeps who may read and write it. Throws HostError with the system's reason.
void copyAccess(const std::filesystem::path& original, const std::filesystem::path& replacement);

/// A number that no other running process of this program uses, for the
/// names of its temporary files.
unsigned long processId();

/// True when standard error is a terminal (or a console window).
bool stderrIsTerminal();

/// Whether a listening socket may take its port over from connections of an
/// earlier run that linger closed: on POSIX systems that is all it does, so
/// the view can be restarted at once; on Windows it would also let a second
/// program take a port in use, so it is not asked for there.
bool listenerReusesAddress();

/// True when standard output is a terminal (or a console window): a person
/// reads it rather than a program.
bool stdoutIsTerminal();

/// Standard output and error carry bytes as they are written: no line-end
/// translation, so frames, CSV rows and messages end in "\n" everywhere.
void useBinaryOutput();

/// The command line as UTF-8 words, with argc/argv-style access for the parser.
class Utf8Arguments {
public:
    Utf8Arguments(int argc, char** argv);

    int count() const { return static_cast<int>(pointers_.size()); }
    char** values() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

/// While it lives, a request to stop from outside (Ctrl-C and SIGTERM on
/// POSIX, Ctrl-C and Ctrl-Break on Windows) asks the running stream to end:
/// the handler only sets a flag that the main thread polls, and the main
/// thread then stops the stream through the stub. On POSIX SIGPIPE is ignored
/// meanwhile, so a reader that goes away shows as a failed write, not a killed
/// process.
class StopRequests {
public:
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    bool requested() const { return count() > 0; }
    /// How many stop requests came while it lived.
    unsigned count() const;

private:
    struct Previous;
    std::unique_ptr<Previous> previous_;
};

/// Opens `path` where it is, for writing with `mode`. A named pipe is opened
/// as other tools open one, once a reader has it open; `waiting` is called
/// when the wait for one begins. The wait polls, so that a request to
/// `stops` ends it, and then nothing is opened (nullopt). A stream that
/// cannot be opened comes back closed, with errno saying why.
std::optional<std::ofstream> openInPlace(const std::filesystem::path& path, std::ios::openmode mode,
                                         const StopRequests& stops,
                                         const std::function<void()>& waiting);

}  // namespace ni_usb_daq::host::platform
