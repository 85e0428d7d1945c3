// The formats the library reads: one line per format code, in code order. To add a
// decoder, include its header and put Make<CYourDecoder> in its line; a nullptr maker makes
// the detection raise "Library not compiled for this file type.".
#include <iterator>

#include "imaging/decode/any_pic_decoder.h"
#include "imaging/decode/bmp_decoder.h"
#include "imaging/decode/pcx_decoder.h"
#include "imaging/decode/tga_decoder.h"

namespace decoder_table {
namespace {

template <class Decoder>
std::unique_ptr<CPicDecoder> Make(CAnyPicDecoder&) {
  return std::make_unique<Decoder>();
}

using namespace picformat;
constexpr Entry kEntries[] = {
    {kBmp, kBmpSlot, "Windows bitmap recognized.\n", Make<CBmpDecoder>},
    {kPict, kPictSlot, "Mac PICT recognized.\n", nullptr},
    {kTga, kTgaSlot, "TGA file recognized.\n", Make<CTGADecoder>},
    {kTiff, kTiffSlot, "TIFF file recognized.\n", nullptr},
    {kJpeg, kJpegSlot, "JPEG file recognized.\n", nullptr},
    {kPng, kPngSlot, "PNG file recognized.\n", nullptr},
    {kPcx, kPcxSlot, "PCX file recognized.\n", Make<CPCXDecoder>},
    {kGif, kGifSlot, "GIF file recognized.\n", nullptr},
    {kEpsTiff, kTiffSlot, "TIFF preview in EPS file recognized.\n", nullptr},
    {kWmf, kMetafileSlot, "WMF file recognized.\n", nullptr},
    {kEmf, kMetafileSlot, "EMF file recognized.\n", nullptr},
};

}  // namespace

std::span<const Entry> Entries() { return kEntries; }

}  // namespace decoder_table
