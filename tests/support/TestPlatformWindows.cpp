#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <sys/stat.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "TestPlatform.h"
#include "WideText.h"

namespace test_support::platform {

namespace {

std::wstring wide(const std::string& text) {
    return test_support::wideFromUtf8(text);
}

/// A name no other test program running at the same time picks.
std::filesystem::path uniqueTemporaryPath(const char* prefix) {
    static std::atomic<unsigned> counter{0};
    return std::filesystem::temp_directory_path() /
           (prefix + std::to_string(::GetCurrentProcessId()) + "_" +
            std::to_string(::GetTickCount64()) + "_" + std::to_string(counter++));
}

/// The file offset of a relative virtual address, through the section table.
std::optional<std::size_t> fileOffset(const IMAGE_SECTION_HEADER* sections, unsigned count,
                                      DWORD rva) {
    for (unsigned i = 0; i < count; ++i) {
        const auto& section = sections[i];
        const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
        if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size) {
            return rva - section.VirtualAddress + section.PointerToRawData;
        }
    }
    return std::nullopt;
}

}  // namespace

void* loadLibrary(const std::string& path, std::string& error) {
    const std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(wide(path)));
    HMODULE module = ::LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error = "LoadLibraryEx failed with error " + std::to_string(::GetLastError());
    }
    return module;
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void setEnvironment(const std::string& name, const std::string& value) {
    ::_wputenv_s(wide(name).c_str(), wide(value).c_str());
}

void unsetEnvironment(const std::string& name) {
    ::_wputenv_s(wide(name).c_str(), L"");  // an empty value removes the variable
}

int duplicateDescriptor(int descriptor) {
    return ::_dup(descriptor);
}

void redirectDescriptor(int from, int to) {
    ::_dup2(from, to);
}

void closeDescriptor(int descriptor) {
    ::_close(descriptor);
}

int createTemporaryFile(std::string& path) {
    const auto file = uniqueTemporaryPath("ni_usb_daq_stderr_");
    path = file.string();
    return ::_wopen(file.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
}

std::string createTemporaryDirectory() {
    const auto directory = uniqueTemporaryPath("ni_usb_daq_test_");
    if (!std::filesystem::create_directory(directory)) {
        throw std::runtime_error("cannot create temporary directory");
    }
    return directory.string();
}

int threadCount() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const DWORD self = ::GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == self ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}

long residentKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
        return -1;
    }
    return static_cast<long>(counters.WorkingSetSize / 1024);
}

std::set<std::string> exportedSymbols(const std::string& path) {
    // Read from the file as the linker wrote it, not from a loaded image.
    std::ifstream in(std::filesystem::path(wide(path)), std::ios::binary);
    const std::vector<char> image{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    const auto at = [&image](std::size_t offset, std::size_t size) -> const char* {
        return offset + size <= image.size() ? image.data() + offset : nullptr;
    };
    std::set<std::string> names;
    IMAGE_DOS_HEADER dos{};
    if (const char* p = at(0, sizeof(dos))) {
        std::memcpy(&dos, p, sizeof(dos));
    }
    IMAGE_NT_HEADERS64 nt{};
    const char* ntBytes = at(static_cast<std::size_t>(dos.e_lfanew), sizeof(nt));
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || ntBytes == nullptr) {
        return names;
    }
    std::memcpy(&nt, ntBytes, sizeof(nt));
    const auto& directory = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const std::size_t sectionsAt = static_cast<std::size_t>(dos.e_lfanew) +
                                   offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                   nt.FileHeader.SizeOfOptionalHeader;
    const unsigned sectionCount = nt.FileHeader.NumberOfSections;
    const char* sectionBytes = at(sectionsAt, sectionCount * sizeof(IMAGE_SECTION_HEADER));
    if (nt.Signature != IMAGE_NT_SIGNATURE || directory.Size == 0 || sectionBytes == nullptr) {
        return names;
    }
    std::vector<IMAGE_SECTION_HEADER> sections(sectionCount);
    std::memcpy(sections.data(), sectionBytes, sectionCount * sizeof(IMAGE_SECTION_HEADER));
    const auto exportsAt = fileOffset(sections.data(), sectionCount, directory.VirtualAddress);
    IMAGE_EXPORT_DIRECTORY exports{};
    if (!exportsAt || at(*exportsAt, sizeof(exports)) == nullptr) {
        return names;
    }
    std::memcpy(&exports, at(*exportsAt, sizeof(exports)), sizeof(exports));
    const auto namesAt = fileOffset(sections.data(), sectionCount, exports.AddressOfNames);
    for (DWORD i = 0; namesAt && i < exports.NumberOfNames; ++i) {
        DWORD nameRva = 0;
        if (const char* p = at(*namesAt + i * sizeof(DWORD), sizeof(DWORD))) {
            std::memcpy(&nameRva, p, sizeof(nameRva));
        }
        const auto nameAt = fileOffset(sections.data(), sectionCount, nameRva);
        if (nameAt && *nameAt < image.size()) {
            names.emplace(image.data() + *nameAt,
                          ::strnlen(image.data() + *nameAt, image.size() - *nameAt));
        }
    }
    return names;
}

std::optional<std::string> permissionsCannotDeny() {
    return "Windows has no permission bits; a directory's read-only attribute does not keep "
           "its owner out";
}

std::optional<std::string> symlinksUnsupported() {
    // Creating one takes a privilege (or developer mode); Wine has none to give.
    const auto directory = uniqueTemporaryPath("ni_usb_daq_link_");
    std::error_code error;
    std::filesystem::create_directory(directory, error);
    std::filesystem::create_directory_symlink(directory, directory / "link", error);
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    if (error) {
        return "this process cannot create symbolic links: " + error.message();
    }
    return std::nullopt;
}

std::optional<std::string> separateCppRuntimes() {
    return "each DLL links its own C++ runtime, so the program cannot filter the plug-in's "
           "std::cerr";
}

}  // namespace test_support::platform
