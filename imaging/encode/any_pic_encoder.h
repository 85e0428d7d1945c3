// CAnyPicEncoder: picks the format encoder from the three-letter extension of the file
// name and hands the work to it.
//
// Formats offered, in this order: BMP, JPG, PNG, TIF, TGA, PCX, GIF. Each format encoder is
// made on first use and kept for later files. A name without a three-letter extension
// raises code 14, an unknown extension code 8 "Unknown file type.".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/encode/pic_encoder.h"

namespace filetype {
inline constexpr int kUnknown = 0;
inline constexpr int kBmp = 1;
inline constexpr int kPict = 2;
inline constexpr int kTga = 3;
inline constexpr int kTiff = 4;
inline constexpr int kJpeg = 5;
inline constexpr int kPng = 6;
inline constexpr int kPcx = 7;
inline constexpr int kGif = 8;
}  // namespace filetype

class CAnyPicEncoder : public CPicEncoder {
  LUMORA_RUNTIME_CLASS(CAnyPicEncoder, CPicEncoder)

public:
  static constexpr int kSaveFormatCount = 7;

  CAnyPicEncoder();
  ~CAnyPicEncoder() override;

  void EncodeToSink(CBmp& bitmap, CDataSink& sink) override;
  size_t MaxEncodedSize(const CBmp& bitmap, const char* path) override;

  // Fills names[i] / patterns[i] with the first min(maximum, 7) save formats and returns
  // that count; 0 for a maximum below 1.
  int16_t GetSaveFilters(std::string* names, std::string* patterns, int16_t maximum) const;

  // File type code (filetype::k...) of `name`, 0 when the extension is not ours; raises
  // code 14 "This file's name is invalid." when there is no three-letter extension.
  static int TypeFromFileName(const char* name);

  int GetLastFileType() const { return lastFileType_; }
  // The encoder for a type code, made on first use; nullptr for codes without one.
  CPicEncoder* EncoderFor(int type);

private:
  int lastFileType_ = filetype::kUnknown;
  // Indexed by type code; slots 0 and 2 stay empty.
  std::unique_ptr<CPicEncoder> encoders_[9];
};
