#include "imaging/decode/any_pic_decoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace picformat {
const char* Name(int code) {
  static constexpr const char* kNames[kCount] = {"",    "BMP", "PICT", "TGA", "TIFF", "JPEG",
                                                 "PNG", "PCX", "GIF",  "EPS", "WMF",  "EMF"};
  return code >= 0 && code < kCount ? kNames[code] : "";
}
}  // namespace picformat

namespace {

struct Filter {
  const char* description;
  const char* pattern;
};
constexpr Filter kFilters[] = {
    {"Bmp File(*.bmp;*.dib;*.rle)", "*.bmp;*.dib;*.rle"},
    {"JPEG File(*.jpg;*.jpeg;*.jif)", "*.jpg;*.jpeg;*.jif"},
    {"PNG File(*.png)", "*.png"},
    {"PICT File(*.pct)", "*.pct"},
    {"TIFF File(*.tif;*.eps)", "*.tif;*.eps"},
    {"TARGA File(*.tga)", "*.tga"},
    {"Windows Metafile(*.wmf)", "*.wmf"},
    {"Windows Enhanced Metafile(*.emf)", "*.emf"},
    {"PCX File(*.pcx)", "*.pcx"},
    {"GIF File(*.gif)", "*.gif"},
};

// Bytes the content tests look at: the PICT test reads up to offset 525, after the 512-byte
// leading block and the picture's size and frame.
constexpr size_t kHeadBytes = 540;
// PICT files this size or smaller cannot hold a leading block plus a picture header.
constexpr int64_t kPictMinSize = 540;

uint32_t Le32At(const std::array<uint8_t, kHeadBytes>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

bool IsTga(const std::array<uint8_t, kHeadBytes>& b) {
  auto oneOf = [](uint8_t v, std::initializer_list<uint8_t> set) {
    return std::find(set.begin(), set.end(), v) != set.end();
  };
  return b[1] <= 1 && (b[2] <= 3 || (b[2] >= 9 && b[2] <= 11)) &&
         oneOf(b[7], {0, 8, 15, 16, 24, 32}) && oneOf(b[16], {8, 15, 16, 24, 32});
}

bool IsPict(const std::array<uint8_t, kHeadBytes>& b) {
  return (b[522] == 0 && b[523] == 0x11 && b[524] == 2 && b[525] == 0xFF) ||
         (b[522] == 0 && b[523] == 0x11 && b[524] == 1) ||
         (b[522] == 0x11 && b[523] == 1 && b[524] == 1 && b[525] == 0);
}

}  // namespace

int CAnyPicDecoder::DetectFormat(const char* name, std::span<const uint8_t> head,
                                 int64_t size) {
  using namespace picformat;
  std::string upper(name != nullptr ? name : "");
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find(".WMF") != std::string::npos) return kWmf;
  if (upper.find(".EMF") != std::string::npos) return kEmf;

  std::array<uint8_t, kHeadBytes> b{};  // missing bytes read as 0
  std::copy_n(head.begin(), std::min(head.size(), b.size()), b.begin());

  if (b[0] == 'B' && b[1] == 'M') return kBmp;
  if (IsTga(b)) return kTga;
  if ((b[0] == 0x49 && b[1] == 0x49 && b[2] == 0x2A && b[3] == 0) ||
      (b[0] == 0x4D && b[1] == 0x4D && b[2] == 0 && b[3] == 0x2A)) {
    return kTiff;
  }
  if (size > kPictMinSize && IsPict(b)) return kPict;
  if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return kJpeg;
  if (b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return kPng;
  if (((b[0] == 0xC5 && b[1] == 0xD0 && b[2] == 0xD3 && b[3] == 0xC6) ||
       (b[0] == 0xC6 && b[1] == 0xD3 && b[2] == 0xD0 && b[3] == 0xC5)) &&
      Le32At(b, 20) != 0 && Le32At(b, 24) != 0) {
    return kEpsTiff;
  }
  if (b[0] == 0x0A) return kPcx;
  if (b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8') return kGif;
  return kUnknown;
}

CAnyPicDecoder::CAnyPicDecoder() = default;
CAnyPicDecoder::~CAnyPicDecoder() = default;

CPicDecoder* CAnyPicDecoder::GetDecoder(decoder_table::Slot slot) {
  auto& decoder = decoders_[slot];
  if (decoder == nullptr) {
    for (const auto& entry : decoder_table::Entries()) {
      if (entry.slot == slot && entry.make != nullptr) {
        decoder = entry.make(*this);
        break;
      }
    }
  }
  return decoder.get();
}

void CAnyPicDecoder::DecodeSource(CDataSource& source, CBmp& bmp, int bppWanted) {
  fileType_ = picformat::kUnknown;
  fileType_ = DetectFormat(source.GetName(), source.Peek(kHeadBytes), source.GetFileSize());
  if (fileType_ == picformat::kUnknown) RaiseError(textexception::kUnknownFileType,
                                                   "Unknown file type.");
  const decoder_table::Entry* entry = nullptr;
  for (const auto& e : decoder_table::Entries()) {
    if (e.formatCode == fileType_) entry = &e;
  }
  if (entry == nullptr) {
    RaiseError(textexception::kUnsupported, "Library not compiled for this file type.");
  }
  Trace(2, "%s", entry->traceLine);
  CPicDecoder* decoder = GetDecoder(entry->slot);
  if (decoder == nullptr) {
    RaiseError(textexception::kUnsupported, "Library not compiled for this file type.");
  }
  decoder->SetLimits(GetLimits());

  if (fileType_ == picformat::kEpsTiff) {
    // The TIFF preview starts at the offset stored at byte 20 of the EPS header.
    ByteCursor header(source.Peek(30));
    header.Skip(20);
    uint32_t offset = header.Le32();
    if (offset > source.BytesLeft()) {
      throw CTextException(textexception::kEndOfData, "End of file reached while decoding.\n");
    }
    source.Take(offset);
  }
  decoder->DecodeSource(source, bmp, bppWanted);
}

int CAnyPicDecoder::GetFilterList(const char** descriptions, const char** patterns,
                                  int maxCount) const {
  int count = 0;
  for (const Filter& f : kFilters) {
    if (count >= maxCount) break;
    descriptions[count] = f.description;
    patterns[count] = f.pattern;
    ++count;
  }
  return count;
}
