#pragma once
// Handing the current file to other programs: its associated program, the image
// browser and the text editor. Each request is a target and a parameter text for the
// shell's open verb; the platform layer finds the programs by their bare names.

#include <optional>
#include <string>
#include <string_view>

namespace fenwa::actions {

inline constexpr const char* AcdseeProgram = "ACDSee32.exe";
inline constexpr const char* UltraEditProgram = "Uedit32.exe";

// The image, sound and video types the image browser is offered for; an extension that
// occurs anywhere in this text counts.
inline constexpr std::string_view AcdseeExtensionList =
    ".BMP.CMS.GIF.JPG.JPEG.JPE.PCX.PNG.SCM.TIF.PCD.WMF.TGA.WAV.MID.RMI.AVI";

// True when the name's upper-cased extension (from the last dot) is not empty and occurs
// in AcdseeExtensionList.
bool offeredToAcdsee(std::string_view name);

struct OpenRequest {
    std::string target;
    std::string parameters; // one argument for the program, passed whole
    bool operator==(const OpenRequest&) const = default;
};

// The file itself, for its associated program.
OpenRequest openRequest(const std::string& path);
// The image browser with the file, when the name's type is one it is offered for.
std::optional<OpenRequest> acdseeRequest(std::string_view name, const std::string& path);
// The text editor with the file, whatever its type.
OpenRequest ultraEditRequest(const std::string& path);

} // namespace fenwa::actions
