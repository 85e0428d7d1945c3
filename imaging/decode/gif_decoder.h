// CGifDecoder: the first image of a GIF87a / GIF89a file.
//
// Output: always an 8-bit bitmap (whatever depth was wanted) whose palette is the file's
// global colour table, with a local table, when present, overwriting its first entries;
// entries no table defines are opaque black. Interlaced images come out in display order.
// The screen descriptor's size and position, extensions and later images are ignored.
//
// Limits: LZW codes of at most 12 bits, minimum code sizes 1 to 8; a code that is not yet
// defined (beyond the next free entry) ends the data, as an end code does. Pixels the data
// does not reach are set to index 0.
//
// Failure: the reading stage records a message (GetMessage) and the decode raises it as a
// CTextException code 2 ("Decoder error: <message>\n"); a file whose signature is not
// "GIF87a" / "GIF89a" raises code 1; data running out raises code 11 from the source. A
// non-square pixel aspect is recorded as a note and does not fail the decode.
//
// The reading state (colour tables, LZW tables, code reader) belongs to the decoder object,
// so separate decoder objects may decode at the same time.
#pragma once

#include <memory>
#include <string>

#include "imaging/decode/pic_decoder.h"

namespace gifdecoder {
// Recorded messages.
inline constexpr const char* kNoError = "No Error";
inline constexpr const char* kNonSquare = "Non-square pixels in GIF image.\nIgnoring that fact...";
inline constexpr const char* kGlobalColormap = "Error reading GIF colormap";
inline constexpr const char* kLocalColormap = "Error reading GIF colormap\nGiving up";
inline constexpr const char* kImageLocal = "Error reading GIF file\nLocalColorMap\nGiving up";
inline constexpr const char* kImageGlobal =
    "Error reading GIF file\nGIFScreen Colormap\nGiving up";
inline constexpr const char* kOutOfMemory = "Out of Memory in GIFRead";
inline constexpr const char* kUnexpectedEof = "Unexpected EOF in GIF.\nGiving up";
inline constexpr const char* kExtensionRead = "Error on extension read.\nGiving up";
inline constexpr const char* kDimensionRead = "Error on dimension read\nGiving up";
inline constexpr const char* kScreenRead =
    "Error, failed to GIF read screen descriptor.\nGiving up";
// Raised (code 1) without recording, for a wrong signature or version.
inline constexpr const char* kNotGif = "Not a GIF file.";
}  // namespace gifdecoder

namespace gifdecoder::detail {
struct ReadState;
}

class CGifDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CGifDecoder, CPicDecoder)

public:
  CGifDecoder();
  ~CGifDecoder() override;

  void DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>& paletteOut, int& bppInOut,
                  CDataSource& source) override;

  // The last message: gifdecoder::kNoError when the object is made and at the start of every
  // decode; a note or the reason for the failure afterwards.
  const std::string& GetMessage() const { return message_; }

private:
  bool ReadStage(CBmp& bmp, CDataSource& source);
  bool ReadColorMap(CDataSource& source, int entries);
  bool ReadImage(CBmp& bmp, CDataSource& source, bool interlaced);
  bool Fail(const char* message);

  std::string message_ = gifdecoder::kNoError;
  std::unique_ptr<gifdecoder::detail::ReadState> state_;
};
