// The capability document: built from a record, or taken unchanged from the
// manifest file as it reads at the time of the request.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stubs/CapabilityDocument.h"
#include "support/TestSupport.h"

using kra::device::DeviceManifest;
using kra::device::FeatureCapability;
using kra::device::stubs::buildCapabilities;
using nlohmann::json;

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

class CapabilityFileForm : public ::testing::Test {
protected:
    std::string write(const std::string& content) { return dir.write("manifest.json", content); }
    test_support::TempDir dir;
};

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

TEST_F(CapabilityFileForm, VanishedUnreadableOrMalformedFileIsParseError) {
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
}

TEST_F(CapabilityFileForm, NonObjectRootIsTypeError306) {
    try {
        buildCapabilities(write("[1]"), nullptr);
        FAIL() << "no error";
    } catch (const json::type_error& error) {
        EXPECT_EQ(error.id, 306);
    }
}
