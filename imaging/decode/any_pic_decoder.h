// CAnyPicDecoder: the entry point for reading an image of any known format.
//
// DecodeSource recognises the format from the source name (".WMF" / ".EMF" anywhere in the
// upper-cased name) and then from the first bytes, in a fixed order (DetectFormat), and
// hands the source to that format's decoder. Each decoder is made on first use and kept.
// A type with no decoder built in raises code 6 "Library not compiled for this file type.";
// an unrecognised file raises code 8 "Unknown file type.".
//
// Registered decoders live in one table (decoder_table.cpp): add a format there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/decode/pic_decoder.h"

namespace picformat {
inline constexpr int kUnknown = 0;
inline constexpr int kBmp = 1;
inline constexpr int kPict = 2;
inline constexpr int kTga = 3;
inline constexpr int kTiff = 4;
inline constexpr int kJpeg = 5;
inline constexpr int kPng = 6;
inline constexpr int kPcx = 7;
inline constexpr int kGif = 8;
inline constexpr int kEpsTiff = 9;  // TIFF preview inside an EPS file
inline constexpr int kWmf = 10;
inline constexpr int kEmf = 11;
inline constexpr int kCount = 12;

// Short upper-case name for a code: "BMP", "PICT", ..., "EPS", "WMF", "EMF"; "" for 0.
const char* Name(int code);
}  // namespace picformat

class CAnyPicDecoder;

namespace decoder_table {
// One decoder object per slot; several format codes may share one (TIFF and EPS, WMF and
// EMF).
enum Slot { kBmpSlot, kPictSlot, kTgaSlot, kTiffSlot, kJpegSlot, kPngSlot, kPcxSlot, kGifSlot,
            kMetafileSlot, kSlotCount };
struct Entry {
  int formatCode;
  Slot slot;
  const char* traceLine;
  // Makes the decoder; nullptr when the library has no decoder for the format.
  std::unique_ptr<CPicDecoder> (*make)(CAnyPicDecoder& owner);
};
std::span<const Entry> Entries();
}  // namespace decoder_table

class CAnyPicDecoder : public CPicDecoder {
  LUMORA_RUNTIME_CLASS(CAnyPicDecoder, CPicDecoder)

public:
  CAnyPicDecoder();
  ~CAnyPicDecoder() override;

  void DecodeSource(CDataSource& source, CBmp& bmp, int bppWanted) override;

  // Fills descriptions/patterns with the first maxCount of the 10 readable-format filters;
  // returns how many it filled.
  int GetFilterList(const char** descriptions, const char** patterns, int maxCount) const;

  // Format code of the last detection (picformat::k...).
  int GetFileType() const { return fileType_; }

  // The format code for a source name and its first bytes (missing bytes count as 0) of a
  // source of `size` bytes. Pure; consumes nothing.
  static int DetectFormat(const char* name, std::span<const uint8_t> head, int64_t size);

  // The decoder for a slot, made on first use (nullptr when none is built in).
  CPicDecoder* GetDecoder(decoder_table::Slot slot);

private:
  int fileType_ = picformat::kUnknown;
  std::array<std::unique_ptr<CPicDecoder>, decoder_table::kSlotCount> decoders_;
};
