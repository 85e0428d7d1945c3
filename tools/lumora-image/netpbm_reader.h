// Reading a netpbm picture into a packed DIB block.
//
// Accepted: PPM "P6", PGM "P5" and PAM "P7" with TUPLTYPE GRAYSCALE, RGB or RGB_ALPHA,
// all with MAXVAL 255. Colour pictures become a 24-bit block (alpha is dropped), grey
// ones an 8-bit block with a grey palette. Sizes are limited to 65535 x 65535 (the
// bitmap's limit). Failures raise CTextException: 4 cannot open, 13 empty, 1 not a
// netpbm picture, 2 malformed header, 6 unsupported variant, 11 pixel data cut short.
#pragma once

#include <string>

#include "imaging/core/global_block.h"

CGlobalBlock ReadNetpbm(const std::string& path);
