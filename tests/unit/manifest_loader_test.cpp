// Reading device-manifest.json: the types each key takes, the string-versus-
// JSON-text rule, and which errors escape in which form; the capability
// document built from it; the manifest that ships with the plug-in; where the
// stub finds its manifest, what one that cannot be loaded costs (one warning
// line), and the identity the stub takes from it.

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "device/DeviceManifest.h"
#include "stubs/CapabilityDocument.h"
#include "stubs/ManifestSearch.h"
#include "support/TestSupport.h"

using namespace kra::device;
using namespace kra::device::stubs;
namespace fs = std::filesystem;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

/// What `call` throws, by kind: the wrapped errors and the library's own
/// must not be mistaken for each other.
template <typename Call>
std::string failureOf(Call&& call) {
    try {
        call();
    } catch (const json::type_error& error) {
        return std::string("type_error ") + error.what();
    } catch (const json::parse_error& error) {
        return std::string("parse_error ") + error.what();
    } catch (const json::exception& error) {
        return std::string("json ") + error.what();
    } catch (const std::runtime_error& error) {
        return std::string("runtime_error ") + error.what();
    }
    return "no error";
}

class ManifestLoader : public ::testing::Test {
protected:
    std::string write(const std::string& content) {
        return dir.write("device-manifest.json", content);
    }
    DeviceManifest load(const std::string& content) { return loadDeviceManifest(write(content)); }
    test_support::TempDir dir;
};

using CapabilityFileForm = ManifestLoader;

}  // namespace

TEST_F(ManifestLoader, FolderWithANonAsciiNameIsReadThroughItsUtf8Path) {
    const std::string path =
        dir.write("Pr\u00fcfstand \u03a9/device-manifest.json", R"({"model": "USB-6211"})");
    EXPECT_EQ(loadDeviceManifest(path).model, "USB-6211");
}

TEST_F(ManifestLoader, EmptyObjectGivesEmptyRecordWithSymbolDefaults) {
    const DeviceManifest m = load("{}");
    EXPECT_EQ(m.factorySymbol, "createDeviceStub");
    EXPECT_EQ(m.destroySymbol, "destroyDeviceStub");
    EXPECT_EQ(m.deviceType + m.name + m.manufacturer + m.model + m.stubClass + m.libraryPath, "");
    EXPECT_TRUE(m.supportedModels.empty() && m.defaultConfig.empty() && m.capabilities.empty() &&
                m.metadata.empty());
    // A present string wins over the default, even when empty.
    EXPECT_EQ(load(R"({"factorySymbol": ""})").factorySymbol, "");
    // Text after the first value is not examined.
    EXPECT_EQ(load("{\"model\": \"A\"} {\"model\": \"B\"} \xff").model, "A");
}

TEST_F(ManifestLoader, ContainersTakeOnlyTheirTypesAndSkipTheRest) {
    const DeviceManifest m = load(R"({
        "supportedModels": ["A", 7, null, "B"], "requiredFeatures": "system",
        "defaultConfig": {"a": "1", "b": 2},
        "metadata": {"s": "abc", "n": 2, "o": {"k": [1, 2]}},
        "capabilities": {"other": 1, "features": {"bad": true, "ai": {
            "limits": {"a": 10000, "b": "Hz"}, "metadata": {"z": {"b": 1, "a": "\u00e9"}},
            "operations": {"subscribe": ["s"], "x": ["o"], "read": ["r1", "r2"], "write": "w"}},
            "sys": {"operations": ["get", 1, "scan"], "limits": [1]}}}})");
    EXPECT_EQ(m.supportedModels, (Strings{"A", "B"}));
    EXPECT_TRUE(m.requiredFeatures.empty());
    EXPECT_EQ(m.defaultConfig, (std::unordered_map<std::string, std::string>{{"a", "1"}}));
    // Top-level metadata is JSON text throughout: strings keep their quotes.
    EXPECT_EQ(m.metadata.at("s"), "\"abc\"");
    EXPECT_EQ(m.metadata.at("n"), "2");
    EXPECT_EQ(m.metadata.at("o"), R"({"k":[1,2]})");
    ASSERT_EQ(m.capabilities.size(), 2u);
    const auto& ai = m.capabilities.at("ai");
    EXPECT_EQ(ai.limits.at("a"), "10000");
    EXPECT_EQ(ai.limits.at("b"), "Hz");
    EXPECT_EQ(ai.metadata.at("z"), "{\"a\":\"\xc3\xa9\",\"b\":1}");
    EXPECT_EQ(ai.operations, (Strings{"r1", "r2", "s"}));  // read, write, subscribe
    EXPECT_EQ(m.capabilities.at("sys").operations, (Strings{"get", "scan"}));
    EXPECT_TRUE(m.capabilities.at("sys").limits.empty());
}

TEST_F(ManifestLoader, EachFaultEscapesAsItsOwnErrorWithItsText) {
    dir.write("as-dir/device-manifest.json/inner", "{}");
    const std::string unopenable[] = {dir.path() + "//none/./device-manifest.json",
                                      dir.path() + "/as-dir/device-manifest.json"};
    for (const std::string& path : unopenable) {  // named as given
        EXPECT_EQ(failureOf([&] { loadDeviceManifest(path); }),
                  "runtime_error Cannot open manifest file: " + path);
    }
    for (const std::string content : {"", "{\"a\": ", "{\"a\": 1,}", "// c\n{}"}) {
        EXPECT_EQ(failureOf([&] {
                      load(content);
                  }).rfind("runtime_error Failed to parse manifest JSON: [json.", 0),
                  0u)
            << content;
    }
    for (const std::string root : {"[]", "5", "\"s\"", "true", "null"}) {
        EXPECT_EQ(
            failureOf([&] { load(root); }).rfind("type_error [json.exception.type_error.306]", 0),
            0u)
            << root;
    }
    // The first bad key in reading order decides: stubClass comes before libraryPath.
    EXPECT_EQ(
        failureOf([&] { load(R"({"libraryPath": true, "stubClass": 1, "supportedModels": 3})"); }),
        "type_error [json.exception.type_error.302] type must be string, but is number");
}

TEST(CapabilityRecordForm, HoldsEveryFeatureWithSortedStringTables) {
    EXPECT_EQ(buildCapabilities("", nullptr).dump(), R"({"features":{}})");
    DeviceManifest manifest;
    EXPECT_EQ(buildCapabilities("", &manifest).dump(), R"({"features":{}})");
    manifest.capabilities["f"] = FeatureCapability{{"read", "subscribe"}, {{"max", "10"}}, {}};
    manifest.capabilities["a"] = FeatureCapability{{}, {}, {{"b", "[1]"}, {"a", "x"}}};
    EXPECT_EQ(buildCapabilities("", &manifest).dump(),
              R"({"features":{"a":{"limits":{},"metadata":{"a":"x","b":"[1]"},"operations":[]},)"
              R"("f":{"limits":{"max":"10"},"metadata":{},"operations":["read","subscribe"]}}})");
}

TEST_F(CapabilityFileForm, CapabilitiesMemberPassesThroughAsTheFileHasItNow) {
    DeviceManifest ignored;
    ignored.capabilities["from_record"] = {};
    const std::string path = write(R"({"capabilities": {"extra": [1], "features": {
        "ai": {"operations": {"write": ["configure"]}, "limits": {"max": 10000}}, "odd": true}}}
        trailing text)");
    EXPECT_EQ(buildCapabilities(path, &ignored).dump(),
              R"({"extra":[1],"features":{"ai":{"limits":{"max":10000},)"
              R"("operations":{"write":["configure"]}},"odd":true}})");
    EXPECT_EQ(buildCapabilities(write(R"({"model": "m"})"), nullptr), json::object());
    EXPECT_EQ(buildCapabilities(write(R"({"capabilities": 5})"), nullptr), json(5));
}

TEST_F(CapabilityFileForm, VanishedUnreadableOrMalformedFileIsParseErrorAndNonObjectType306) {
    const std::string path = write(R"({"capabilities": {}})");
    std::filesystem::remove(path);
    EXPECT_THROW(buildCapabilities(path, nullptr), json::parse_error);
    write(R"({"capabilities": {}})");
    EXPECT_EQ(buildCapabilities(path, nullptr), json::object());
    // A directory opens on Linux but cannot be read: empty input, not an I/O exception.
    EXPECT_THROW(buildCapabilities(dir.path(), nullptr), json::parse_error);
    for (const char* content : {"", "{\"capabilities\": ", "/* c */ {}"}) {
        EXPECT_THROW(buildCapabilities(write(content), nullptr), json::parse_error) << content;
    }
    EXPECT_EQ(failureOf([&] {
                  buildCapabilities(write("[1]"), nullptr);
              }).rfind("type_error [json.exception.type_error.306]", 0),
              0u);
}

namespace {

const std::string kShippedDir = std::string(NI_USB_DAQ_SOURCE_DIR) + "/devices/ni-usb-daq/";

json readShipped(const std::string& name) {
    std::ifstream file(kShippedDir + name);
    return json::parse(file);
}

/// The JSON Schema type names the manifest schema uses.
bool hasType(const json& value, const std::string& type) {
    return (type == "string" && value.is_string()) || (type == "object" && value.is_object()) ||
           (type == "array" && value.is_array());
}

}  // namespace

TEST(ShippedManifest, HasEveryRequiredKeyWithTheTypeTheSchemaDeclares) {
    const json schema = readShipped("device-manifest.schema.json");
    const json manifest = readShipped("device-manifest.json");
    ASSERT_EQ(schema.at("$schema"), "http://json-schema.org/draft-07/schema#");
    for (const std::string key : schema.at("required")) {
        EXPECT_TRUE(manifest.contains(key)) << key;
    }
    for (const auto& [key, value] : manifest.items()) {
        ASSERT_TRUE(schema.at("properties").contains(key)) << "undeclared key " << key;
        json property = schema.at("properties").at(key);
        if (property.contains("$ref")) {  // "#/definitions/..."
            property =
                schema.at(json::json_pointer(property.at("$ref").get<std::string>().substr(1)));
        }
        EXPECT_TRUE(hasType(value, property.at("type"))) << key;
        const json& items = property.value("items", json::object());
        for (const auto& element : value.is_array() ? value : json::array()) {
            EXPECT_TRUE(hasType(element, items.value("type", "string"))) << key;
        }
    }
    for (const auto& [key, value] : manifest.at("defaultConfig").items()) {
        EXPECT_TRUE(value.is_string()) << key;  // additionalProperties: string
    }
    // One feature in each operations form.
    const json& features = manifest.at("capabilities").at("features");
    EXPECT_TRUE(features.at("system").at("operations").is_array());
    EXPECT_TRUE(features.at("analog_input").at("operations").is_object());
}

TEST(ShippedManifest, LoadsWithTheIdentityAndOperationsTheStubServes) {
    const DeviceManifest m = loadDeviceManifest(kShippedDir + "device-manifest.json");
    EXPECT_EQ(m.deviceType + "|" + m.manufacturer + "|" + m.stubClass + "|" + m.libraryPath + "|" +
                  m.factorySymbol + "|" + m.destroySymbol,
              "ni-usb-daq|National Instruments|kra::device::stubs::NIUSBDAQStub|libni_usb_daq.so|"
              "createDeviceStub|destroyDeviceStub");
    EXPECT_EQ(m.supportedFeatures, (Strings{"system", "analog_input"}));
    ASSERT_EQ(m.capabilities.size(), 2u);
    EXPECT_EQ(m.capabilities.at("system").operations,
              (Strings{"get_capabilities", "scan_devices", "get_state"}));
    EXPECT_EQ(m.capabilities.at("analog_input").operations,
              (Strings{"query", "read_finite", "read_single", "configure", "start_stream",
                       "stop_stream", "stream"}));
}

namespace {

const std::string kSuffix = "/ni-usb-daq/device-manifest.json";

/// Runs from four levels inside a fresh tree, so that every relative
/// candidate ("../../../devices" too) lies inside it; restores the cwd after.
class ManifestSearch : public ::testing::Test {
protected:
    ManifestSearch() : saved_(fs::current_path()) {
        fs::create_directories(work);
        fs::current_path(work);
    }
    ~ManifestSearch() override { fs::current_path(saved_); }

    /// Writes a manifest under `directory`, relative to the working directory.
    static void place(const std::string& directory, const std::string& content = "{}") {
        fs::create_directories(directory + "/ni-usb-daq");
        std::ofstream(directory + kSuffix) << content;
    }

    test_support::TempDir tree;
    const std::string work = tree.path() + "/w/x/y/z";
    test_support::ScopedEnv noVariable{"KRA_DEVICE_MANIFEST_DIR", std::nullopt};

private:
    fs::path saved_;
};

}  // namespace

TEST_F(ManifestSearch, FixedDirectoriesAreTriedInOrderWithoutNormalising) {
    EXPECT_EQ(findManifestPath(), "");
    for (const std::string directory :
         {"./core/cpp/devices", "../../../devices", "../../devices", "../devices", "./devices"}) {
        place(directory);
        EXPECT_EQ(findManifestPath(), directory + kSuffix);
    }
}

TEST_F(ManifestSearch, VariableComesFirstAndFallsThroughWhenEmptyOrAbsent) {
    place("../../../devices");
    place("mine");
    {
        test_support::ScopedEnv variable("KRA_DEVICE_MANIFEST_DIR", work + "/mine/");
        EXPECT_EQ(findManifestPath(), work + "/mine/" + kSuffix);  // double slash kept
    }
    for (const std::string& value : {std::string(), work + "/nothing-here"}) {
        test_support::ScopedEnv variable("KRA_DEVICE_MANIFEST_DIR", value);
        EXPECT_EQ(findManifestPath(), "../../../devices" + kSuffix);
    }
}

TEST_F(ManifestSearch, CandidateThatCannotBeCheckedIsWarnedAboutAndSkipped) {
    if (const auto reason = test_support::symlinksUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    fs::create_symlink("devices", "devices");  // ELOOP, even for root
    place("../devices");
    const test_support::ScopedEnv variable("KRA_DEVICE_MANIFEST_DIR", std::string(300, 'n'));
    test_support::StderrCapture capture;
    EXPECT_EQ(findManifestPath(), "../devices" + kSuffix);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u) << capture.text();
    const std::string warning = "[ni-usb-daq W] NIUSBDAQStub: cannot check manifest candidate ";
    EXPECT_EQ(lines[0].rfind(warning + std::string(300, 'n') + kSuffix + ": ", 0), 0u);
    EXPECT_EQ(lines[1].rfind(warning + "./devices" + kSuffix + ": ", 0), 0u);
}

TEST_F(ManifestSearch, AccessDeniedDirectoryIsSkipped) {
    if (const auto reason = test_support::permissionsCannotDeny()) {
        GTEST_SKIP() << *reason;
    }
    place("devices");
    place("../devices");
    fs::permissions("devices", fs::perms::none);
    const std::string found = findManifestPath();
    fs::permissions("devices", fs::perms::owner_all);
    EXPECT_EQ(found, "../devices" + kSuffix);
}

TEST_F(ManifestSearch, DirectoryAtTheManifestPlaceIsFoundThenWarnedAbout) {
    fs::create_directories("devices" + kSuffix);
    const std::string path = findManifestPath();
    ASSERT_EQ(path, "./devices" + kSuffix);
    test_support::StderrCapture capture;
    EXPECT_EQ(loadManifestOrWarn(path), nullptr);
    EXPECT_EQ(capture.text(), "[ni-usb-daq W] NIUSBDAQStub: failed to load manifest at " + path +
                                  ": Cannot open manifest file: " + path + "\n");
}

TEST_F(ManifestSearch, BadManifestIsOneWarningAndAGoodOneIsSilent) {
    place("bad", R"({"model": 7})");
    place("good", R"({"model": "USB-6211"})");
    test_support::StderrCapture capture;
    EXPECT_EQ(loadManifestOrWarn("bad" + kSuffix), nullptr);
    EXPECT_EQ(loadManifestOrWarn("good" + kSuffix)->model, "USB-6211");
    EXPECT_EQ(capture.text(), "[ni-usb-daq W] NIUSBDAQStub: failed to load manifest at bad" +
                                  kSuffix +
                                  ": [json.exception.type_error.302] type must be string, but "
                                  "is number\n");
}

TEST(ManifestIdentity, EmptyOrMissingFieldsTakeDefaultsAndMetadataBecomesProperties) {
    DeviceInfo bare;
    applyManifestIdentity(nullptr, "daq-7", bare);
    EXPECT_EQ(bare.id + "|" + bare.type + "|" + bare.firmwareVersion + "|" + bare.manufacturer +
                  "|" + bare.model,
              "daq-7|ni-usb-daq|n/a|National Instruments|USB-DAQ");
    EXPECT_TRUE(bare.properties.empty());

    DeviceManifest manifest;
    manifest.deviceType = "custom";
    manifest.model = "USB-6002";
    manifest.metadata = {{"bus", "\"USB\""}, {"ports", "2"}};
    DeviceInfo info;
    info.properties["ports"] = "stale";
    applyManifestIdentity(&manifest, "id", info);
    EXPECT_EQ(info.type + "|" + info.firmwareVersion + "|" + info.manufacturer + "|" + info.model,
              "custom|n/a|National Instruments|USB-6002");
    EXPECT_EQ(info.properties, (StringMap{{"bus", "\"USB\""}, {"ports", "2"}}));
}
