#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace kra::device {

struct FeatureCapability {
    std::vector<std::string> operations;
    std::unordered_map<std::string, std::string> limits;
    std::unordered_map<std::string, std::string> metadata;
};

/// What device-manifest.json says about the device family the plug-in serves.
struct DeviceManifest {
    std::string deviceType;
    std::string deviceCategory;
    std::string name;
    std::string description;
    std::string manufacturer;
    std::string model;
    std::string version;
    std::string firmwareVersion;
    std::string stubVersion;
    std::string stubClass;
    std::vector<std::string> supportedModels;
    std::string libraryPath;
    std::string factorySymbol;
    std::string destroySymbol;
    std::unordered_map<std::string, std::string> defaultConfig;
    std::vector<std::string> requiredFeatures;
    std::vector<std::string> supportedFeatures;
    std::unordered_map<std::string, FeatureCapability> capabilities;
    std::unordered_map<std::string, std::string> metadata;
};

/// Reads one manifest file. Throws std::runtime_error when the file cannot be
/// opened or parsed, and lets the JSON library's type errors through when a
/// field has the wrong type.
DeviceManifest loadDeviceManifest(const std::string& path);

}  // namespace kra::device
