// Reading a netpbm picture straight into the bitmap the encoders take.
//
// Accepted: PPM "P6", PGM "P5" and PAM "P7" with TUPLTYPE GRAYSCALE, RGB or RGB_ALPHA,
// all with MAXVAL 255. The file is mapped and read once: colour pictures become a 32-bit
// bitmap without alpha (a PAM's alpha is dropped, the alpha bytes are 0), grey ones an
// 8-bit bitmap with a grey palette -- the bitmap a snapshot's DIB block gives. Sizes are
// limited to 65535 x 65535 (the bitmap's limit). Failures raise CTextException: 4 cannot
// open, 13 empty, 1 not a netpbm picture, 2 malformed header, 6 unsupported variant, 11
// pixel data cut short.
#pragma once

#include <string>

#include "imaging/core/win_bmp.h"

void ReadNetpbm(const std::string& path, CWinBmp& bmp);
