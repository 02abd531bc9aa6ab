#pragma once
// A picture's header facts as the list, its exports and the keep rules use them, read
// through the picture loaders, which the search library cannot reach.

#include <string>

#include "picturefacts.h"

namespace fenwa::similar {

// PictureHeaderFacts with the time taken as a key that orders as time does (0 when the
// file writes no date). Safe to call from several threads at once.
PictureFacts ReadPictureFacts(const std::string& path);

} // namespace fenwa::similar
