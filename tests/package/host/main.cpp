// Loads the installed plug-in by its two symbols and prints the device model.
#include <cstdio>
#include <string>

#include <IDeviceStub.h>

#ifdef _WIN32
#include <windows.h>

#include <filesystem>

namespace {
// With a full path (drive and all), the loader finds the plug-in's driver DLL beside it.
void* openLibrary(const char* path) {
    const std::filesystem::path full = std::filesystem::absolute(path);
    return ::LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
void* symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}
std::string loaderError() {
    return "error " + std::to_string(::GetLastError());
}
void closeLibrary(void* library) {
    ::FreeLibrary(static_cast<HMODULE>(library));
}
}  // namespace
#else
#include <dlfcn.h>

namespace {
void* openLibrary(const char* path) {
    return ::dlopen(path, RTLD_NOW);
}
void* symbol(void* library, const char* name) {
    return ::dlsym(library, name);
}
std::string loaderError() {
    return ::dlerror();
}
void closeLibrary(void* library) {
    ::dlclose(library);
}
}  // namespace
#endif

int main() {
    void* library = openLibrary(PLUGIN_PATH);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", PLUGIN_PATH, loaderError().c_str());
        return 1;
    }
    auto create =
        reinterpret_cast<kra::device::IDeviceStub* (*)()>(symbol(library, "createDeviceStub"));
    auto destroy =
        reinterpret_cast<void (*)(kra::device::IDeviceStub*)>(symbol(library, "destroyDeviceStub"));
    if (create == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "missing entry points\n");
        return 1;
    }
    kra::device::IDeviceStub* stub = create();
    int status = 0;
    try {
        stub->connect();
        std::printf("model=%s\n", stub->getDeviceInfo().model.c_str());
        stub->disconnect();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "connect: %s\n", error.what());
        status = 1;
    }
    destroy(stub);
    closeLibrary(library);
    return status;
}
