#include "Hdf5WriterFactory.h"

#include "HostError.h"

// The one place that knows whether the HDF5 library is part of this build
// (the Windows build has none).
#if NI_USB_DAQ_HAVE_HDF5
#include "Hdf5RecordingWriter.h"
#endif

namespace ni_usb_daq::host {

void requireHdf5Support() {
#if !NI_USB_DAQ_HAVE_HDF5
    throw UsageError("this build has no HDF5 support");
#endif
}

std::unique_ptr<RecordingWriter> makeHdf5Writer(const std::string& path,
                                                const Hdf5WriterOptions& options) {
#if NI_USB_DAQ_HAVE_HDF5
    return std::make_unique<Hdf5RecordingWriter>(path, options);
#else
    (void)path;
    (void)options;
    throw UsageError("this build has no HDF5 support");
#endif
}

std::unique_ptr<GroupedRecordingFile> makeHdf5GroupedFile(const std::string& path,
                                                          const Hdf5WriterOptions& options) {
#if NI_USB_DAQ_HAVE_HDF5
    return makeGroupedHdf5File(path, options);
#else
    (void)path;
    (void)options;
    throw UsageError("this build has no HDF5 support");
#endif
}

}  // namespace ni_usb_daq::host
