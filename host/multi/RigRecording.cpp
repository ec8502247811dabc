// A stream of several devices into one recording.
#include "RigRecording.h"

#include <algorithm>

#include "Hdf5WriterFactory.h"
#include "HostError.h"
#include "TickCsv.h"

namespace ni_usb_daq::host {

namespace {

/// Each device in its own group of one HDF5 file. A group is named by the
/// serial number, which a device keeps when a replug renames it.
class Hdf5RigRecording : public RigRecording {
public:
    Hdf5RigRecording(const RigPlan& plan, const std::vector<RecordingFacts>& facts,
                     const std::string& path, const Hdf5WriterOptions& options)
        : file_(makeHdf5GroupedFile(path, options)), plan_(plan) {
        for (const RecordingFacts& device : facts) {
            const std::string name = groupName(device, facts);
            groups_.push_back("/" + name);
            writers_.push_back(file_->group(name));
        }
    }

    RecordingWriter& writer(std::size_t index) override { return *writers_.at(index); }

    void begun() override {
        std::vector<std::string> names;
        for (const RigDevice& device : plan_.devices) {
            names.push_back(device.name);
        }
        const std::string synchronisation = plan_.synchronisationText();
        file_->texts("/", "devices", names);
        file_->texts("/", "groups", groups_);
        file_->text("/", "leader", plan_.leader().name);
        file_->texts("/", "wiring", plan_.wiring());
        file_->text("/", "synchronisation", synchronisation);
        for (const std::string& group : groups_) {
            file_->text(group, "synchronisation", synchronisation);
        }
        file_->share();
    }

    void ended() override { file_->close(); }

private:
    /// The serial number; the name when the driver tells none that sets
    /// the device apart (a simulated rig may leave them all 0).
    static std::string groupName(const RecordingFacts& device,
                                 const std::vector<RecordingFacts>& all) {
        const std::string& serial = device.serialNumber;
        const bool distinct = std::count_if(all.begin(), all.end(), [&](const auto& other) {
                                  return other.serialNumber == serial;
                              }) == 1;
        return serial.empty() || serial == "0" || !distinct ? device.device : serial;
    }

    std::unique_ptr<GroupedRecordingFile> file_;
    RigPlan plan_;
    std::vector<std::string> groups_;
    std::vector<std::unique_ptr<RecordingWriter>> writers_;
};

}  // namespace

void requireRigFormat(const RigPlan& plan, OutputFormat format) {
    std::string devices;
    for (const RigDevice& device : plan.devices) {
        devices += (devices.empty() ? "" : ", ") + device.name;
    }
    if (format == OutputFormat::Csv && !plan.synchronised()) {
        throw UsageError(
            "CSV rows of several devices need one clock, and " + devices +
            " are not synchronised (--share-clock and --share-start say how they are wired): "
            "record them to HDF5 (--out NAME.h5), one group per device");
    }
    if (format != OutputFormat::Csv && format != OutputFormat::Hdf5) {
        throw UsageError("JSON lines hold one device's frames: record " + devices +
                         " to HDF5 (--out NAME.h5), one group per device");
    }
}

std::unique_ptr<RigRecording> makeRigRecording(const RigPlan& plan,
                                               const std::vector<RecordingFacts>& facts,
                                               OutputTarget& target,
                                               const RecordingOutput& output) {
    requireRigFormat(plan, output.format);
    if (output.format == OutputFormat::Csv) {
        return std::make_unique<TickCsv>(plan, facts.size(), target, output.time);
    }
    Hdf5WriterOptions options;
    options.compress = output.compress;
    return std::make_unique<Hdf5RigRecording>(plan, facts, target.writePath(), options);
}

}  // namespace ni_usb_daq::host
