// CPictDecoder: the first bitmap of a Macintosh PICT picture (versions 1 and 2).
//
// Walks the opcode stream past every drawing opcode by its data length until an opcode
// with pixel data: a one-bit bitmap or a pixel map (0x90, 0x91, 0x98, 0x99; the region
// variants skip their region) or direct pixels (0x9A). That one bitmap is decoded and the
// rest of the picture ignored; drawing is never rendered.
//
// Output: one-bit bitmaps give white for 0 and black for 1; pixel maps of up to 8 bits go
// through their colour table (handed back as the palette), 16-bit pixels widen 5 bits a
// channel, 32-bit pixels keep alpha when the map has four components. The bitmap is 8 bits
// (indices) or 32 bits, as CPicDecoder::ChooseTargetDepth picks from the pixel size.
//
// Errors (CTextException): 1 missing or unknown version; 2 malformed data (unknown pattern
// type, colour table of more than 256 entries or with an entry beyond its size, pixel size
// or component count it cannot expand, packed rows that expand past the row or runs past
// their stated length); 6 a picture with no bitmap, or with compressed QuickTime (JPEG)
// data; 11 data that ends early.
#pragma once

#include "imaging/decode/pic_decoder.h"

namespace pict {
class Stream;
}

class CPictDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CPictDecoder, CPicDecoder)

public:
  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;

private:
  // One opcode and its data; true when it was the bitmap, which ends the picture.
  bool ReadOpcode(pict::Stream& in, unsigned opcode, CBmp& bmp,
                  std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut);
  // 0x90, 0x91, 0x98, 0x99: a one-bit bitmap or a pixel map, by bit 15 of its row bytes.
  void ReadBitmap(pict::Stream& in, bool withRegion, CBmp& bmp,
                  std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut);
  // 0x9A.
  void ReadDirectPixels(pict::Stream& in, CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut,
                        int& bppInOut);
};
