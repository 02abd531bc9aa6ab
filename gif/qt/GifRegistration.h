#pragma once
// Makes GIF files a picture kind of the image view control: after this, every
// TAdvImage (and the command line's decoder) shows a .gif file's first image.

namespace fenwa {

// Safe to call more than once; the first call registers.
void RegisterGifPictureKind();

} // namespace fenwa
