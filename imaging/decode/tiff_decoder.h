// CTIFFDecoder: TIFF (and the TIFF preview of an EPS file) through libtiff, reading the
// source's unread bytes through the memory stream "MemSource" (tiff_memsource.h).
//
// Two paths, by the first directory's layout:
// - Low colour: one sample of at most 8 bits, in strips, and 32 bits not wanted. 1-bit
//   pictures give a 1-bit bitmap, the rest 8 bits with one palette index per pixel (2, 4 and
//   other packed sample sizes are widened). The palette is a grey ramp for photometric 0
//   (white first) and 1 (black first), the colour map for 3 (16-bit maps cut to their high
//   bytes), alpha 0 in every entry; entries beyond 2^bits are 0. Other photometrics keep the
//   bitmap's own grey ramp.
// - High colour: everything else, through libtiff's RGBA reader: 32 bits, blue, green, red,
//   alpha, the alpha flag set when the file has an alpha sample.
//
// Failure: code 1 with libtiff's message when the data cannot be opened or the RGBA reader
// fails, code 7 when a scan line in the first third of the picture cannot be read (later
// rows that fail keep the previous row's pixels), code 10 when buffers cannot be allocated.
// Every libtiff resource is released on every way out.
#pragma once

#include "imaging/decode/pic_decoder.h"
#include "imaging/decode/tiff_memsource.h"

class CTIFFDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CTIFFDecoder, CPicDecoder)

public:
  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;
  // Decodes the current directory of an open handle.
  virtual void DecodeTiffImage(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut,
                               int& bppInOut, CDataSource& source, tiff* tif);

  // What libtiff said during the last decode.
  const tiffmemsource::TiffMessages& GetMessages() const { return messages_; }

private:
  void DoHiColor(CBmp& bmp, int& bppInOut, tiff* tif);
  void DoLoColor(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut, tiff* tif);

  tiffmemsource::TiffMessages messages_;
};
