#pragma once
// The window descriptions name Windows fonts; on other systems each gets a substitute
// of the same kind, so Chinese texts show real Traditional Chinese glyphs.

namespace fenwa::platform {

void registerFontSubstitutes();

} // namespace fenwa::platform
