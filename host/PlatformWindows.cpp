#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <memory>
#include <string_view>

#include "HostError.h"
#include "Platform.h"

namespace ni_usb_daq::host::platform {

namespace {

// Set by the console control handler (which Windows runs on a thread of its
// own), read by the main thread.
std::atomic<unsigned> stopRequests{0};

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        stopRequests.fetch_add(1);
        return TRUE;
    }
    return FALSE;  // closing the console or logging off: the default applies
}

std::string utf8FromWide(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                          nullptr, nullptr);
    return text;
}

std::wstring wideFromUtf8(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          size);
    return wide;
}

/// The system's words for an error code, without the trailing line end.
std::string systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owner(buffer, ::LocalFree);
    std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    std::string words = text.empty() ? std::string("unknown error") : utf8FromWide(text);
    return words + " (error " + std::to_string(code) + ")";
}

std::string utf8Path(const std::filesystem::path& path) {
    return utf8FromWide(path.wstring());
}

/// True for the names of devices (NUL, CON, COM1, ... whatever follows the
/// dot) and for \\.\ paths: they name no file in a folder.
bool isDeviceName(const std::filesystem::path& path) {
    if (path.native().rfind(L"\\\\.\\", 0) == 0) {
        return true;
    }
    std::wstring stem = path.stem().native();
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    constexpr std::array<std::wstring_view, 4> kNames = {L"NUL", L"CON", L"PRN", L"AUX"};
    if (std::find(kNames.begin(), kNames.end(), stem) != kNames.end()) {
        return true;
    }
    return stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

}  // namespace

std::shared_ptr<void> loadLibrary(const std::filesystem::path& path) {
    // With a full path, LOAD_WITH_ALTERED_SEARCH_PATH makes the loader look
    // for the plug-in's own DLLs (the driver) in the plug-in's folder first.
    std::error_code ignored;
    const std::filesystem::path full = std::filesystem::absolute(path, ignored);
    HMODULE module = ::LoadLibraryExW(full.empty() ? path.c_str() : full.c_str(), nullptr,
                                      LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        throw HostError("cannot load plug-in '" + utf8Path(path) +
                        "': " + systemMessage(::GetLastError()));
    }
    return std::shared_ptr<void>(module,
                                 [](void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); });
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

std::filesystem::path executablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            throw HostError("cannot locate this program (" + systemMessage(::GetLastError()) +
                            "); name the plug-in with --library");
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            // Started through a link, the program still looks beside its real file.
            std::error_code error;
            auto real = std::filesystem::canonical(std::filesystem::path(buffer), error);
            return error ? std::filesystem::path(buffer) : real;
        }
        buffer.resize(buffer.size() * 2);
    }
}

void setEnvironment(const std::string& name, const std::string& value) {
    // The C runtime's copy is what getenv reads in the plug-in; it updates
    // the process environment as well.
    ::_wputenv_s(wideFromUtf8(name).c_str(), wideFromUtf8(value).c_str());
}

void ignoreBrokenPipe() {}  // no SIGPIPE: a closed pipe fails the write

void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    // A plain rename refuses an existing target on Windows.
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        throw HostError("cannot rename '" + utf8FromWide(from.wstring()) + "' to '" +
                        utf8FromWide(to.wstring()) + "': " + systemMessage(::GetLastError()));
    }
}

OutputPlace outputPlace(const std::filesystem::path& path) {
    OutputPlace place;
    if (isDeviceName(path)) {
        place.kind = FileKind::Device;
        place.inPlace = true;
        return place;
    }
    std::error_code error;
    switch (std::filesystem::status(path, error).type()) {
        case std::filesystem::file_type::none:
        case std::filesystem::file_type::not_found:
            place.kind = FileKind::Missing;
            break;
        case std::filesystem::file_type::regular:
            place.kind = FileKind::Regular;
            break;
        case std::filesystem::file_type::directory:
            place.kind = FileKind::Folder;
            break;
        default:
            place.kind = FileKind::Other;
            place.inPlace = true;
            break;
    }
    return place;
}

std::optional<std::ofstream> openInPlace(const std::filesystem::path& path, std::ios::openmode mode,
                                         const StopRequests&, const std::function<void()>&) {
    // A device opens at once; a pipe's server is there or the open fails.
    return std::optional<std::ofstream>(std::in_place, path, mode);
}

void copyAccess(const std::filesystem::path&, const std::filesystem::path&) {
    // A new file takes its access from the folder it is made in, as the
    // file it replaces did; there are no mode bits to carry over.
}

unsigned long processId() {
    return static_cast<unsigned long>(::GetCurrentProcessId());
}

bool listenerReusesAddress() {
    return false;
}

bool stderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool stdoutIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void useBinaryOutput() {
    for (std::FILE* stream : {stdout, stderr}) {
        std::fflush(stream);
        ::_setmode(::_fileno(stream), _O_BINARY);
    }
}

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
    // argv holds the words in the system's ANSI code page, which cannot spell
    // every file name; the wide command line can.
    int count = 0;
    const std::unique_ptr<wchar_t*, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), ::LocalFree);
    if (wide) {
        for (int i = 0; i < count; ++i) {
            words_.push_back(utf8FromWide(wide.get()[i]));
        }
    } else {
        words_.assign(argv, argv + argc);
    }
    for (auto& word : words_) {
        pointers_.push_back(word.data());
    }
}

struct StopRequests::Previous {};

StopRequests::StopRequests() {
    stopRequests = 0;
    // A program started in a new process group ignores Ctrl-C until it asks for it.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
}

unsigned StopRequests::count() const {
    return stopRequests.load();
}

}  // namespace ni_usb_daq::host::platform
