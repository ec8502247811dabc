#pragma once
// Reading recordings back through the HDF5 library's C interface, for the
// tests of the writer and of the program that uses it.
#include <hdf5.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace host_tests {

/// Read access to a recording through the library's C interface.
class Reader {
public:
    explicit Reader(const std::string& path, bool followingWriter = false)
        : file_(H5Fopen(path.c_str(), H5F_ACC_RDONLY | (followingWriter ? H5F_ACC_SWMR_READ : 0),
                        H5P_DEFAULT)) {}
    ~Reader() {
        if (file_ >= 0) {
            H5Fclose(file_);
        }
    }
    bool open() const { return file_ >= 0; }
    bool hasAttribute(const char* object, const char* name) const {
        return H5Aexists_by_name(file_, object, name, H5P_DEFAULT) > 0;
    }

    std::vector<hsize_t> shape(const char* dataset) const {
        const hid_t set = H5Dopen2(file_, dataset, H5P_DEFAULT);
        const hid_t space = H5Dget_space(set);
        std::vector<hsize_t> dims(static_cast<std::size_t>(H5Sget_simple_extent_ndims(space)));
        H5Sget_simple_extent_dims(space, dims.data(), nullptr);
        H5Sclose(space);
        H5Dclose(set);
        return dims;
    }

    /// The whole dataset in `type`; for compound tables a struct layout.
    template <typename T>
    std::vector<T> read(const char* dataset, hid_t type) const {
        std::size_t count = 1;
        for (const hsize_t dim : shape(dataset)) {
            count *= dim;
        }
        std::vector<T> values(count);
        const hid_t set = H5Dopen2(file_, dataset, H5P_DEFAULT);
        if (count != 0) {
            EXPECT_GE(H5Dread(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
        }
        H5Dclose(set);
        return values;
    }

    template <typename T>
    std::vector<T> numbers(const char* object, const char* name, hid_t type) const {
        const hid_t attribute = H5Aopen_by_name(file_, object, name, H5P_DEFAULT, H5P_DEFAULT);
        EXPECT_GE(attribute, 0) << object << " " << name;
        const hid_t space = H5Aget_space(attribute);
        std::vector<T> values(static_cast<std::size_t>(H5Sget_simple_extent_npoints(space)));
        H5Aread(attribute, type, values.data());
        H5Sclose(space);
        H5Aclose(attribute);
        return values;
    }

    /// Text attributes, variable or fixed length, one or an array.
    std::vector<std::string> texts(const char* object, const char* name) const {
        const hid_t attribute = H5Aopen_by_name(file_, object, name, H5P_DEFAULT, H5P_DEFAULT);
        EXPECT_GE(attribute, 0) << object << " " << name;
        const hid_t type = H5Aget_type(attribute);
        const hid_t space = H5Aget_space(attribute);
        const auto count = static_cast<std::size_t>(H5Sget_simple_extent_npoints(space));
        std::vector<std::string> values;
        if (H5Tis_variable_str(type) > 0) {
            std::vector<char*> pointers(count);
            H5Aread(attribute, type, pointers.data());
            values.assign(pointers.begin(), pointers.end());
            H5Dvlen_reclaim(type, space, H5P_DEFAULT, pointers.data());
        } else {
            const std::size_t size = H5Tget_size(type);
            std::vector<char> bytes(size * count);
            H5Aread(attribute, type, bytes.data());
            for (std::size_t i = 0; i < count; ++i) {
                values.emplace_back(bytes.data() + i * size,
                                    strnlen(bytes.data() + i * size, size));
            }
        }
        H5Sclose(space);
        H5Tclose(type);
        H5Aclose(attribute);
        return values;
    }

    std::string text(const char* name) const { return texts("/", name).at(0); }
    template <typename T>
    T number(const char* name, hid_t type) const {
        return numbers<T>("/", name, type).at(0);
    }

private:
    hid_t file_;
};

/// A row of "/frames".
struct FrameRow {
    std::uint64_t sequenceNo;
    std::int64_t timestampNs;
    std::uint64_t firstSample;
    std::uint64_t sampleCount;
    std::uint64_t row;
};

inline hid_t frameRowType() {
    const hid_t type = H5Tcreate(H5T_COMPOUND, sizeof(FrameRow));
    H5Tinsert(type, "sequence_no", HOFFSET(FrameRow, sequenceNo), H5T_NATIVE_UINT64);
    H5Tinsert(type, "timestamp_ns", HOFFSET(FrameRow, timestampNs), H5T_NATIVE_INT64);
    H5Tinsert(type, "first_sample", HOFFSET(FrameRow, firstSample), H5T_NATIVE_UINT64);
    H5Tinsert(type, "sample_count", HOFFSET(FrameRow, sampleCount), H5T_NATIVE_UINT64);
    H5Tinsert(type, "row", HOFFSET(FrameRow, row), H5T_NATIVE_UINT64);
    return type;
}

}  // namespace host_tests
