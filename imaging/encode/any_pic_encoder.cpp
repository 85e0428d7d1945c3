#include "imaging/encode/any_pic_encoder.h"

#include <cctype>
#include <cstring>

#include "imaging/core/text_exception.h"
#include "imaging/core/trace.h"
#include "imaging/encode/bmp_encoder.h"
#include "imaging/encode/gif_encoder.h"
#include "imaging/encode/jpeg_encoder.h"
#include "imaging/encode/pcx_encoder.h"
#include "imaging/encode/png_encoder.h"
#include "imaging/encode/tga_encoder.h"
#include "imaging/encode/tiff_encoder.h"

namespace {

struct SaveFormat {
  const char* filter;
  const char* pattern;
  const char* extension;
  int type;
  const char* recognized;  // trace line on dispatch
};

constexpr SaveFormat kSaveFormats[CAnyPicEncoder::kSaveFormatCount] = {
    {"Bmp File(*.bmp)", "*.bmp", "BMP", filetype::kBmp, "Windows bitmap recognized.\n"},
    {"JPEG File(*.jpg)", "*.jpg", "JPG", filetype::kJpeg, "JPEG file recognized.\n"},
    {"PNG File(*.png)", "*.png", "PNG", filetype::kPng, "PNG file recognized.\n"},
    {"TIFF File(*.tif)", "*.tif", "TIF", filetype::kTiff, "TIFF file recognized.\n"},
    {"TARGA File(*.tga)", "*.tga", "TGA", filetype::kTga, "TGA file recognized.\n"},
    {"PCX File(*.pcx)", "*.pcx", "PCX", filetype::kPcx, "PCX file recognized.\n"},
    {"GIF File(*.gif)", "*.gif", "GIF", filetype::kGif, "GIF file recognized.\n"},
};

// Extensions are compared in this order (not the order offered).
constexpr struct {
  const char* extension;
  int type;
} kExtensionOrder[] = {{"BMP", filetype::kBmp}, {"TGA", filetype::kTga}, {"TIF", filetype::kTiff},
                       {"JPG", filetype::kJpeg}, {"PNG", filetype::kPng}, {"PCX", filetype::kPcx},
                       {"GIF", filetype::kGif}};

const SaveFormat* FormatOfType(int type) {
  for (const SaveFormat& format : kSaveFormats)
    if (format.type == type) return &format;
  return nullptr;
}

// The type for a name, or -1 when the name has no three-letter extension.
int TypeOrInvalid(const char* name) {
  const size_t length = name != nullptr ? std::strlen(name) : 0;
  if (length <= 4 || name[length - 4] != '.') return -1;
  char extension[4] = {};
  for (int i = 0; i < 3; ++i)
    extension[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[length - 3 + i])));
  for (const auto& entry : kExtensionOrder)
    if (std::strcmp(extension, entry.extension) == 0) return entry.type;
  return filetype::kUnknown;
}

}  // namespace

CAnyPicEncoder::CAnyPicEncoder() = default;
CAnyPicEncoder::~CAnyPicEncoder() = default;

int CAnyPicEncoder::TypeFromFileName(const char* name) {
  const int type = TypeOrInvalid(name);
  if (type < 0) RaiseEncoderError(textexception::kInvalidFileName, "This file's name is invalid.");
  return type;
}

int16_t CAnyPicEncoder::GetSaveFilters(std::string* names, std::string* patterns,
                                       int16_t maximum) const {
  if (maximum < 1) return 0;
  const int16_t count = maximum < kSaveFormatCount ? maximum : kSaveFormatCount;
  for (int16_t i = 0; i < count; ++i) {
    names[i] = kSaveFormats[i].filter;
    patterns[i] = kSaveFormats[i].pattern;
  }
  return count;
}

CPicEncoder* CAnyPicEncoder::EncoderFor(int type) {
  if (type < 0 || type >= static_cast<int>(std::size(encoders_))) return nullptr;
  std::unique_ptr<CPicEncoder>& slot = encoders_[type];
  if (!slot) {
    switch (type) {
      case filetype::kBmp: slot = std::make_unique<CWinBmpEncoder>(); break;
      case filetype::kTga: slot = std::make_unique<CTGAEncoder>(); break;
      case filetype::kTiff: slot = std::make_unique<CTIFFEncoder>(); break;
      case filetype::kJpeg: slot = std::make_unique<CJPEGEncoder>(); break;
      case filetype::kPng: slot = std::make_unique<CPNGEncoder>(); break;
      case filetype::kPcx: slot = std::make_unique<CPCXEncoder>(); break;
      case filetype::kGif: slot = std::make_unique<CGifEncoder>(); break;
      default: return nullptr;
    }
  }
  return slot.get();
}

size_t CAnyPicEncoder::MaxEncodedSize(const CBmp& bitmap, const char* path) {
  // A bad name fails later, in EncodeToSink, with its own error; size for the footprint.
  const int type = TypeOrInvalid(path);
  CPicEncoder* encoder = type > 0 ? EncoderFor(type) : nullptr;
  if (encoder == nullptr) return CPicEncoder::MaxEncodedSize(bitmap, path);
  return encoder->MaxEncodedSize(bitmap, path);
}

void CAnyPicEncoder::EncodeToSink(CBmp& bitmap, CDataSink& sink) {
  const int type = TypeFromFileName(sink.GetName());
  lastFileType_ = type;
  if (type == filetype::kUnknown) RaiseEncoderError(textexception::kUnknownFileType, "Unknown file type.");
  const SaveFormat* format = FormatOfType(type);
  if (format == nullptr)
    RaiseEncoderError(textexception::kUnsupported, "Library not compiled for this file type.");
  Trace(2, "%s", format->recognized);
  EncoderFor(type)->EncodeToSink(bitmap, sink);
}
