// Where the stub finds its manifest, what a manifest that cannot be loaded
// costs (one warning line), and the identity the stub takes from it.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "stubs/ManifestSearch.h"
#include "support/TestSupport.h"

using namespace kra::device;
using namespace kra::device::stubs;
namespace fs = std::filesystem;

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
    fs::create_symlink("devices", "devices");  // ELOOP, even for root
    place("../devices");
    const test_support::ScopedEnv variable("KRA_DEVICE_MANIFEST_DIR", std::string(300, 'n'));
    test_support::StderrCapture capture;
    EXPECT_EQ(findManifestPath(), "../devices" + kSuffix);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u) << capture.text();
    EXPECT_EQ(lines[0].rfind("[ni-usb-daq W] NIUSBDAQStub: cannot check manifest candidate " +
                                 std::string(300, 'n') + kSuffix + ": ",
                             0),
              0u);
    EXPECT_EQ(lines[1].rfind("[ni-usb-daq W] NIUSBDAQStub: cannot check manifest candidate "
                             "./devices" +
                                 kSuffix + ": ",
                             0),
              0u);
}

TEST_F(ManifestSearch, AccessDeniedDirectoryIsSkipped) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
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
