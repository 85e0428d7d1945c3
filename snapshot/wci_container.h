// CWCIContainer: joins a snapshot (a DIB block) to the image library for export.
//
// It owns one CWinBmp and one CAnyPicEncoder, each made on first need. SetImage copies the
// DIB block into the bitmap with the user's encoding options; Export converts the copy as
// the options ask (grey, or another depth) and writes it through the encoder, which picks
// the format from the path's extension. The caller's block is never changed.
//
// Failures are raised as CTextException: 17 " no bitmap to export!" (Export before
// SetImage), 23 "Bmp error when convert!" (grey conversion failed), 12 " NULL Pointer
// error!" (SetImage with an empty block, from the bitmap), and whatever the bitmap or the
// encoder raise. No Qt in here: the snapshot window's Save command and the lumora-image
// tool both use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/core/encode_options.h"
#include "imaging/core/global_block.h"
#include "imaging/core/object.h"
#include "imaging/core/win_bmp.h"
#include "imaging/decode/any_pic_decoder.h"
#include "imaging/encode/any_pic_encoder.h"

class CWCIContainer : public CObject {
  LUMORA_RUNTIME_CLASS(CWCIContainer, CObject)

public:
  // Which format list GetFormatFilters answers.
  static constexpr int kEncoderSide = 0;
  static constexpr int kDecoderSide = 1;

  CWCIContainer();
  ~CWCIContainer() override;
  CWCIContainer(const CWCIContainer&) = delete;
  CWCIContainer& operator=(const CWCIContainer&) = delete;

  // Writes up to `maximum` (description, pattern) pairs and returns how many.
  int16_t GetFormatFilters(int side, std::string* names, std::string* patterns, int16_t maximum);

  void SetImage(const CGlobalBlock& dibBlock, const EncodeOptions* options);
  // As SetImage, for a caller that already holds the bitmap (no DIB block in between).
  void SetBitmap(std::unique_ptr<CWinBmp> bitmap, const EncodeOptions* options);
  void Export(const char* path);

  CWinBmp* GetBitmap() const { return bitmap_.get(); }
  CAnyPicEncoder* GetEncoder() const { return encoder_.get(); }

private:
  std::unique_ptr<CWinBmp> bitmap_;
  std::unique_ptr<CAnyPicDecoder> decoder_;  // made only for the decoder side's format list
  std::unique_ptr<CAnyPicEncoder> encoder_;
};
