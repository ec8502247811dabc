// The one table of acquisition settings against what is shipped beside it:
// the manifest's default configuration says the same, and every default is a
// value its own setting accepts.
#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "device/AcquisitionSettings.h"
#include "device/DeviceManifest.h"

using kra::device::acceptedValues;
using kra::device::kAcquisitionSettings;
using kra::device::SettingType;

TEST(AcquisitionSettings, TheShippedManifestDefaultsAreTheTables) {
    const auto manifest = kra::device::loadDeviceManifest(
        (std::filesystem::path(NI_USB_DAQ_SOURCE_DIR) / "devices/ni-usb-daq/device-manifest.json")
            .string());
    EXPECT_EQ(manifest.defaultConfig.size(), kAcquisitionSettings.size());
    for (const auto& setting : kAcquisitionSettings) {
        SCOPED_TRACE(std::string(setting.key));
        const auto found = manifest.defaultConfig.find(std::string(setting.key));
        ASSERT_NE(found, manifest.defaultConfig.end());
        const std::string expected(setting.defaultValue);
        if (setting.type == SettingType::Number || setting.type == SettingType::Integer) {
            EXPECT_EQ(std::stod(found->second), std::stod(expected)) << found->second;
        } else {
            EXPECT_EQ(found->second, expected);
        }
    }
}

TEST(AcquisitionSettings, EveryDefaultIsAValueItsSettingAccepts) {
    for (const auto& setting : kAcquisitionSettings) {
        SCOPED_TRACE(std::string(setting.key));
        const auto values = acceptedValues(setting);
        EXPECT_EQ(setting.type == SettingType::Choice || setting.storedOnly, !values.empty());
        if (!values.empty()) {
            EXPECT_NE(std::find(values.begin(), values.end(), setting.defaultValue), values.end());
        }
        if (setting.minimum) {
            const double value = std::stod(std::string(setting.defaultValue));
            EXPECT_TRUE(value > *setting.minimum ||
                        (value == *setting.minimum && !setting.minimumExclusive));
        }
    }
}
