// The formats the library reads: one line per format code, in code order. To add a
// decoder, include its header and put Make<CYourDecoder> in its line; a nullptr maker makes
// the detection raise "Library not compiled for this file type.".
#include <iterator>

#include "imaging/decode/any_pic_decoder.h"
#include "imaging/decode/bmp_decoder.h"
#include "imaging/decode/gif_decoder.h"
#include "imaging/decode/jpeg_decoder.h"
#include "imaging/decode/metafile/wemf_decoder.h"
#include "imaging/decode/pcx_decoder.h"
#include "imaging/decode/pict_decoder.h"
#include "imaging/decode/png_decoder.h"
#include "imaging/decode/tga_decoder.h"
#include "imaging/decode/tiff_decoder.h"

namespace decoder_table {
namespace {

template <class Decoder>
std::unique_ptr<CPicDecoder> Make(CAnyPicDecoder&) {
  return std::make_unique<Decoder>();
}

using namespace picformat;
constexpr Entry kEntries[] = {
    {kBmp, kBmpSlot, "Windows bitmap recognized.\n", Make<CBmpDecoder>},
    {kPict, kPictSlot, "Mac PICT recognized.\n", Make<CPictDecoder>},
    {kTga, kTgaSlot, "TGA file recognized.\n", Make<CTGADecoder>},
    {kTiff, kTiffSlot, "TIFF file recognized.\n", Make<CTIFFDecoder>},
    {kJpeg, kJpegSlot, "JPEG file recognized.\n", Make<CJPEGDecoder>},
    {kPng, kPngSlot, "PNG file recognized.\n", Make<CPNGDecoder>},
    {kPcx, kPcxSlot, "PCX file recognized.\n", Make<CPCXDecoder>},
    {kGif, kGifSlot, "GIF file recognized.\n", Make<CGifDecoder>},
    {kEpsTiff, kTiffSlot, "TIFF preview in EPS file recognized.\n", Make<CTIFFDecoder>},
    {kWmf, kMetafileSlot, "WMF file recognized.\n", Make<CWEMFDecoder>},
    {kEmf, kMetafileSlot, "EMF file recognized.\n", Make<CWEMFDecoder>},
};

}  // namespace

std::span<const Entry> Entries() { return kEntries; }

}  // namespace decoder_table
