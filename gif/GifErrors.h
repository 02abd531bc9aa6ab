#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace fenwa::gif {

// Failures inside the GIF codec are exceptions that carry only their message text. The
// image view control catches them all and shows an empty control instead.

// A format error of the file or of its compressed data.
class EGifException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An index outside a byte array, or more decoded rows than the image has.
class EIndexOutOfBounds : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An allocation that failed or that exceeds one of the bounds in GifLimits.h.
class ENotEnoughMemory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An index outside a list: asking for an image the file does not have, or for data after
// the last sub-block of an image.
class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that cannot be opened or read.
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kIndexOutOfBoundsMessage = "Dynamic array index out of bounds";
inline constexpr const char* kRowSizeMessage =
    "Row doesn't have equal number of elements as Matrix row";

inline std::string ListIndexMessage(int64_t index) {
    return "List index out of bounds (" + std::to_string(index) + ")";
}

inline std::string NotEnoughMemoryMessage(int64_t bytes) {
    return "error in TBigByteArray.create: Not enough contiguous memory available\r\n "
           "requested memory block: " +
           std::to_string(bytes) + " bytes";
}

} // namespace fenwa::gif
