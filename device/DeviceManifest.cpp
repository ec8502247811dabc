#include "device/DeviceManifest.h"

#include <fstream>
#include <ios>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "device/Utf8Path.h"

namespace kra::device {
namespace {

using nlohmann::json;

std::string compactText(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::strict);
}

/// The whole file, or nothing when it cannot be opened or read. A directory
/// opens as a stream on Linux and only fails on the first read, so the read is
/// part of the test.
std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream file(pathFromUtf8(path));
    if (!file.is_open()) {
        return std::nullopt;
    }
    try {
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        return text;
    } catch (const std::ios_base::failure&) {
        return std::nullopt;
    }
}

void appendStrings(const json& array, std::vector<std::string>& out) {
    for (const auto& element : array) {
        if (element.is_string()) {
            out.push_back(element.get<std::string>());
        }
    }
}

void appendStringsOf(const json& root, const char* key, std::vector<std::string>& out) {
    if (root.is_object()) {
        const auto it = root.find(key);
        if (it != root.end() && it->is_array()) {
            appendStrings(*it, out);
        }
    }
}

/// Feature limits and metadata keep strings as they are and everything else
/// as its compact text.
std::unordered_map<std::string, std::string> featureTable(const json& object) {
    std::unordered_map<std::string, std::string> table;
    for (const auto& [key, value] : object.items()) {
        table.emplace(key, value.is_string() ? value.get<std::string>() : compactText(value));
    }
    return table;
}

std::vector<std::string> featureOperations(const json& operations) {
    std::vector<std::string> names;
    if (operations.is_array()) {
        appendStrings(operations, names);
    } else if (operations.is_object()) {
        // The grouped form lists reads first, then writes, then subscriptions,
        // whatever order the file has.
        for (const char* group : {"read", "write", "subscribe"}) {
            appendStringsOf(operations, group, names);
        }
    }
    return names;
}

FeatureCapability parseFeature(const json& feature) {
    FeatureCapability capability;
    if (const auto it = feature.find("operations"); it != feature.end()) {
        capability.operations = featureOperations(*it);
    }
    if (const auto it = feature.find("limits"); it != feature.end() && it->is_object()) {
        capability.limits = featureTable(*it);
    }
    if (const auto it = feature.find("metadata"); it != feature.end() && it->is_object()) {
        capability.metadata = featureTable(*it);
    }
    return capability;
}

const json* objectMember(const json& root, const char* key) {
    if (!root.is_object()) {
        return nullptr;
    }
    const auto it = root.find(key);
    return it != root.end() && it->is_object() ? &*it : nullptr;
}

std::string stringField(const json& root, const char* key, const char* fallback = "") {
    return root.value(key, std::string(fallback));
}

}  // namespace

DeviceManifest loadDeviceManifest(const std::string& path) {
    const std::optional<std::string> text = readWholeFile(path);
    if (!text) {
        throw std::runtime_error("Cannot open manifest file: " + path);
    }

    json root;
    try {
        // Stream extraction reads one value and leaves whatever follows it alone.
        std::istringstream stream(*text);
        stream >> root;
    } catch (const json::exception& error) {
        throw std::runtime_error(std::string("Failed to parse manifest JSON: ") + error.what());
    }

    // The fields are read in a fixed order, so the first bad key decides which
    // type error escapes.
    DeviceManifest manifest;
    manifest.deviceType = stringField(root, "deviceType");
    manifest.deviceCategory = stringField(root, "deviceCategory");
    manifest.name = stringField(root, "name");
    manifest.description = stringField(root, "description");
    manifest.manufacturer = stringField(root, "manufacturer");
    manifest.model = stringField(root, "model");
    manifest.version = stringField(root, "version");
    manifest.firmwareVersion = stringField(root, "firmwareVersion");
    manifest.stubVersion = stringField(root, "stubVersion");
    manifest.stubClass = stringField(root, "stubClass");
    appendStringsOf(root, "supportedModels", manifest.supportedModels);
    manifest.libraryPath = stringField(root, "libraryPath");
    manifest.factorySymbol = stringField(root, "factorySymbol", "createDeviceStub");
    manifest.destroySymbol = stringField(root, "destroySymbol", "destroyDeviceStub");

    if (const json* config = objectMember(root, "defaultConfig")) {
        for (const auto& [key, value] : config->items()) {
            if (value.is_string()) {
                manifest.defaultConfig.emplace(key, value.get<std::string>());
            }
        }
    }
    appendStringsOf(root, "requiredFeatures", manifest.requiredFeatures);
    appendStringsOf(root, "supportedFeatures", manifest.supportedFeatures);

    if (const json* capabilities = objectMember(root, "capabilities")) {
        if (const json* features = objectMember(*capabilities, "features")) {
            for (const auto& [name, feature] : features->items()) {
                if (feature.is_object()) {
                    manifest.capabilities.emplace(name, parseFeature(feature));
                }
            }
        }
    }

    // Top-level metadata is kept as JSON text throughout, strings with their quotes.
    if (const json* metadata = objectMember(root, "metadata")) {
        for (const auto& [key, value] : metadata->items()) {
            manifest.metadata.emplace(key, compactText(value));
        }
    }
    return manifest;
}

}  // namespace kra::device
