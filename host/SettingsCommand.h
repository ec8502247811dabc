#pragma once

#include <iostream>

#include "Settings.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// `settings`: the table of acquisition settings; needs no device.
class SettingsCommand : public Subcommand {
public:
    explicit SettingsCommand(CLI::App& app)
        : Subcommand(app, "settings", "list the acquisition settings (KEY=VALUE)") {
        command_.add_flag("--json", json_, "as a JSON array");
        command_.add_flag("--markdown", markdown_, "as a Markdown table");
    }

    bool usesDevice() const override { return false; }

    SessionAction prepare(const GlobalOptions&) override {
        std::cout << (json_ ? settingsJson() : markdown_ ? settingsMarkdown() : settingsText());
        return {};
    }

private:
    bool json_ = false;
    bool markdown_ = false;
};

}  // namespace ni_usb_daq::host
