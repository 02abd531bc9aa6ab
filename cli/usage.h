#pragma once
// What fenwa-cli says about itself, the same from the front end and the full program.

namespace fenwa::cli {

extern const char* const Usage;
// The project's version, as the about box says.
inline constexpr const char* VersionLine = "fenwa-cli 0.5\n";

} // namespace fenwa::cli
