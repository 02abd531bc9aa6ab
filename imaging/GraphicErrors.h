#pragma once
// Errors raised inside the image machinery. The image view control catches them
// and shows an empty control instead.

#include <stdexcept>
#include <string>

// A file that is not a picture of the kind its extension claims, or an extension
// that no picture kind is registered for.
class EInvalidGraphic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An operation that a picture kind does not support (for example resizing a JPEG).
class EInvalidGraphicOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure reported by the JPEG library ("JPEG error #<code>"), or a JPEG picture
// refused because its decoded bitmap would exceed the size bound.
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(int code) : EInvalidGraphic(messageFor(code)), libraryCode(code) {}
    EJPEG(int code, const std::string& message) : EInvalidGraphic(message), libraryCode(code) {}

    // The library's message code; -1 for a refusal of our own.
    int libraryCode;

    static std::string messageFor(int code) { return "JPEG error #" + std::to_string(code); }
};
