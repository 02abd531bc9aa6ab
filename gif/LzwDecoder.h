#pragma once

#include "GifArrays.h"

#include <cstdint>
#include <span>

namespace fenwa::gif {

class TByteBuffer;

// Decodes the variable-width LZW data of one GIF image into its pixel matrix, whose
// Columns and Rows are the image's Width and Height, honouring interlacing.
//
// Raises EGifException "Bad code Size" (code size outside 2..9), "Bad code" and
// "Code size overflow"; EIndexOutOfBounds when the data holds more complete rows than the
// image or any pixel for an image of width 0; EListError when there is no data block at
// all. Data that runs out before the end code ends decoding quietly: the rows completed so
// far stay, a partly filled row is not stored.
void DecodeLzw(uint8_t codeSize, const TByteBuffer& data, bool interlaced, TByteArray2D& pixels);

} // namespace fenwa::gif
