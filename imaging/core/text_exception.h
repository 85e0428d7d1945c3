// CTextException: the image library's one exception type, a failure code and the text the
// user sees. Thrown by value, caught by reference; a copy owns its own text.
//
// Codes in use (the kind of failure; texts are fixed by whoever raises them):
//   -1 output file cannot be created     1 wrong signature or version
//    2 format error in the data          3 path not found
//    4 file not found / cannot be opened 5 access denied / cannot map
//    6 variant not supported, no coder   7 unsupported PCX layout, internal error
//    8 file type cannot be determined   10 out of memory
//   11 data ran out / output buffer full 12 global memory block of size 0
//   13 file is empty                    14 file name has no three-letter extension
//   16 source depth not 1, 8, 24 or 32  17 export without an image
//   18 TIFF library wrote nothing       19 bitmap to encode has no pixel data
//   21, 22 PNG write structures cannot be created   23 grey conversion failed
#pragma once

#include <string>

#include "imaging/core/object.h"

namespace textexception {
inline constexpr int kOpenOutputFailed = -1;
inline constexpr int kWrongSignature = 1;
inline constexpr int kFormatError = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kFileNotFound = 4;
inline constexpr int kAccessDenied = 5;
inline constexpr int kUnsupported = 6;
inline constexpr int kInternal = 7;
inline constexpr int kUnknownFileType = 8;
inline constexpr int kNoMemory = 10;
inline constexpr int kEndOfData = 11;
inline constexpr int kNullPointer = 12;
inline constexpr int kEmptyFile = 13;
inline constexpr int kInvalidFileName = 14;
inline constexpr int kInvalidBitsPerPixel = 16;
inline constexpr int kNoBitmapToExport = 17;
inline constexpr int kTiffZeroLength = 18;
inline constexpr int kNoPixelData = 19;
inline constexpr int kPngWriteStruct = 21;
inline constexpr int kPngInfoStruct = 22;
inline constexpr int kGreyConversion = 23;
}  // namespace textexception

class CTextException : public CObject {
  LUMORA_RUNTIME_CLASS(CTextException, CObject)

public:
  CTextException(int code, const char* text);
  CTextException(int code, const std::string& text) : CTextException(code, text.c_str()) {}
  CTextException(const CTextException& other);
  CTextException& operator=(const CTextException& other) = default;
  ~CTextException() override = default;

  virtual int GetErrorCode() const { return code_; }
  virtual const char* GetErrorText() const { return text_.c_str(); }

private:
  int code_;
  std::string text_;
};
