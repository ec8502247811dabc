#include "stubs/CapabilityDocument.h"

#include <fstream>
#include <ios>
#include <iterator>
#include <sstream>

#include "device/Utf8Path.h"

namespace kra::device::stubs {
namespace {

using nlohmann::json;

json stringObject(const std::unordered_map<std::string, std::string>& table) {
    json object = json::object();
    for (const auto& [key, value] : table) {
        object[key] = value;
    }
    return object;
}

json recordDocument(const DeviceManifest* manifest) {
    json document = {{"features", json::object()}};
    if (manifest == nullptr) {
        return document;
    }
    json& features = document["features"];
    for (const auto& [name, capability] : manifest->capabilities) {
        features[name] = {{"operations", capability.operations},
                          {"limits", stringObject(capability.limits)},
                          {"metadata", stringObject(capability.metadata)}};
    }
    return document;
}

/// The file's text as it reads now; a file that cannot be opened or read
/// (gone, a directory, an I/O error) is empty input, which the parse rejects.
std::string currentText(const std::string& path) {
    std::ifstream file(pathFromUtf8(path));
    try {
        return std::string{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    } catch (const std::ios_base::failure&) {
        return {};
    }
}

json fileDocument(const std::string& path) {
    std::istringstream stream(currentText(path));
    json root;
    stream >> root;
    return root.value("capabilities", json::object());
}

}  // namespace

json buildCapabilities(const std::string& manifestPath, const DeviceManifest* manifest) {
    return manifestPath.empty() ? recordDocument(manifest) : fileDocument(manifestPath);
}

}  // namespace kra::device::stubs
