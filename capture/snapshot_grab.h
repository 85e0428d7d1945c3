// Turning a grabbed frame into a DIB block for the snapshot image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/platform/media_types.h"
#include "imaging/core/global_block.h"

// A DIB block of the frame described by `header` with rows from `pixels` (`size` bytes):
// the header (as a 40-byte information header), its colour table and the rows. 8-bit frames
// get the uniform 256-colour palette. An empty block for compressed frames, negative
// heights, depths a DIB cannot have and buffers shorter than the frame.
CGlobalBlock FrameToDib(const media::BitmapInfoHeader& header, const uint8_t* pixels,
                        size_t size);
