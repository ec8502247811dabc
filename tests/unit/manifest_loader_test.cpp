// Reading device-manifest.json: the types each key takes, the string-versus-
// JSON-text rule, and which errors escape in which form.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "device/DeviceManifest.h"
#include "support/TestSupport.h"

using kra::device::DeviceManifest;
using kra::device::loadDeviceManifest;
using Strings = std::vector<std::string>;

namespace {

class ManifestLoader : public ::testing::Test {
protected:
    DeviceManifest load(const std::string& content) {
        return loadDeviceManifest(dir.write("device-manifest.json", content));
    }
    test_support::TempDir dir;
};

}  // namespace

TEST_F(ManifestLoader, EmptyObjectGivesEmptyRecordWithSymbolDefaults) {
    const DeviceManifest m = load("{}");
    EXPECT_EQ(m.factorySymbol, "createDeviceStub");
    EXPECT_EQ(m.destroySymbol, "destroyDeviceStub");
    EXPECT_EQ(m.deviceType + m.name + m.manufacturer + m.model + m.stubClass + m.libraryPath, "");
    EXPECT_TRUE(m.supportedModels.empty() && m.defaultConfig.empty() && m.capabilities.empty() &&
                m.metadata.empty());
    // A present string wins over the default, even when empty.
    EXPECT_EQ(load(R"({"factorySymbol": ""})").factorySymbol, "");
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

TEST_F(ManifestLoader, TextAfterTheFirstValueIsNotExamined) {
    EXPECT_EQ(load("{\"model\": \"A\"} {\"model\": \"B\"} \xff").model, "A");
}

TEST_F(ManifestLoader, UnopenableFileOrDirectoryNamesThePathAsGiven) {
    dir.write("as-dir/device-manifest.json/inner", "{}");
    for (const std::string& path : {dir.path() + "//none/./device-manifest.json",
                                    dir.path() + "/as-dir/device-manifest.json"}) {
        try {
            loadDeviceManifest(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot open manifest file: " + path);
        }
    }
}

TEST_F(ManifestLoader, MalformedEmptyOrCommentedJsonIsAWrappedParseError) {
    for (const std::string content : {"", "{\"a\": ", "{\"a\": 1,}", "// c\n{}"}) {
        try {
            load(content);
            ADD_FAILURE() << "no error for " << content;
        } catch (const nlohmann::json::exception&) {
            ADD_FAILURE() << "unwrapped parse error for " << content;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()).rfind("Failed to parse manifest JSON: [json.", 0),
                      0u);
        }
    }
}

TEST_F(ManifestLoader, TypeErrorsEscapeUnwrapped) {
    const auto typeErrorOf = [this](const std::string& content) -> std::string {
        try {
            load(content);
        } catch (const nlohmann::json::type_error& error) {
            return error.what();
        }
        return "no type error";
    };
    for (const std::string root : {"[]", "5", "\"s\"", "true", "null"}) {
        EXPECT_EQ(typeErrorOf(root).rfind("[json.exception.type_error.306]", 0), 0u) << root;
    }
    // The first bad key in reading order decides: stubClass comes before libraryPath.
    EXPECT_EQ(typeErrorOf(R"({"libraryPath": true, "stubClass": 1, "supportedModels": 3})"),
              "[json.exception.type_error.302] type must be string, but is number");
}
