#pragma once
// The picture facts a saved list carries (exportlist's PictureFacts), read from a
// picture's header through the picture loaders, which the search library cannot reach.

#include <string>

#include "exportlist.h"

namespace fenwa::similar {

// PictureHeaderFacts as a list writes it: the time taken as "YYYY-MM-DD HH:MM:SS" when
// the file writes an EXIF date ("YYYY:MM:DD HH:MM:SS"), else as the file writes it. Safe
// to call from several threads at once.
PictureFacts ReadPictureFacts(const std::string& path);

} // namespace fenwa::similar
