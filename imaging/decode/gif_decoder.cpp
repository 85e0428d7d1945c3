#include "imaging/decode/gif_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace gifdecoder::detail {
namespace {
constexpr int kMaxCodes = 4096;    // 12-bit codes
constexpr int kStackSize = 8192;   // a string is at most kMaxCodes pixels long
constexpr int kMaxCodeBits = 12;
}  // namespace

// LZW decoding of the image data sub-blocks, least significant bit first.
struct ReadState {
  RgbQuad palette[CPicDecoder::kPaletteEntries];

  uint16_t prefix[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint16_t length[kMaxCodes];  // pixels in each code's string
  uint8_t stack[kStackSize];
  int sp = 0;

  int minCodeSize = 0;
  int codeSize = 0;
  int clearCode = 0;
  int endCode = 0;
  int nextCode = 0;
  int codeLimit = 0;
  int firstCode = 0;
  int oldCode = -1;  // none since the last clear

  // Code reader.
  const uint8_t* block = nullptr;
  int blockLeft = 0;
  uint64_t bits = 0;
  int bitCount = 0;
  bool terminatorSeen = false;  // the zero-length sub-block has been read

  enum : int { kEnd = -1, kOverflow = -2 };

  void Start(int minimumCodeSize) {
    minCodeSize = minimumCodeSize;
    clearCode = 1 << minCodeSize;
    endCode = clearCode + 1;
    block = nullptr;
    blockLeft = 0;
    bits = 0;
    bitCount = 0;
    terminatorSeen = false;
    ResetTable();
  }

  void ResetTable() {
    for (int i = 0; i < clearCode; ++i) {
      prefix[i] = 0;
      suffix[i] = static_cast<uint8_t>(i);
      length[i] = 1;
    }
    codeSize = minCodeSize + 1;
    codeLimit = 2 * clearCode;
    nextCode = clearCode + 2;
    oldCode = -1;
    sp = 0;
  }

  // The next code, or kEnd when the sub-blocks are exhausted (a code cut by the terminator
  // counts as no code). Data running out before the terminator raises code 11 from the
  // source.
  int ReadCode(CDataSource& source) {
    if (bitCount < codeSize && blockLeft >= 8) {
      // Whole bytes up to 56 bits at once while the sub-block has 8 left to load.
      uint64_t word = 0;
      for (int i = 0; i < 8; ++i) word |= uint64_t(block[i]) << (8 * i);
      const int taken = (63 - bitCount) >> 3;
      bits |= (word & ((uint64_t(1) << (8 * taken)) - 1)) << bitCount;
      bitCount += 8 * taken;
      block += taken;
      blockLeft -= taken;
    }
    while (bitCount < codeSize) {
      if (blockLeft == 0) {
        if (terminatorSeen) return kEnd;
        uint8_t length = source.U8();
        if (length == 0) {
          terminatorSeen = true;
          return kEnd;
        }
        block = source.Take(length).data();
        blockLeft = length;
      }
      bits |= uint64_t(*block++) << bitCount;
      bitCount += 8;
      --blockLeft;
    }
    int code = static_cast<int>(bits & ((1u << codeSize) - 1));
    bits >>= codeSize;
    bitCount -= codeSize;
    return code;
  }

  // Consumes the rest of the data up to and including the terminator.
  void SkipToTerminator(CDataSource& source) {
    if (terminatorSeen) return;
    blockLeft = 0;  // the current sub-block was taken whole
    for (;;) {
      uint8_t length = source.U8();
      if (length == 0) break;
      source.Take(length);
    }
    terminatorSeen = true;
  }

  // Decodes one code. Its pixels go straight to `out` when they fit the `room` bytes there
  // (the count is returned), else on the stack, last pixel first (0 is returned). Returns
  // kEnd at the end code, the end of the data or an undefined code, or kOverflow.
  [[gnu::always_inline]] int DecodeCode(CDataSource& source, uint8_t* out, int room) {
    int code = ReadCode(source);
    while (code == clearCode) {
      ResetTable();
      code = ReadCode(source);
    }
    if (code < 0) return kEnd;
    if (code == endCode) {
      SkipToTerminator(source);
      return kEnd;
    }
    if (oldCode < 0) {
      // First code after a clear: must be a plain pixel value.
      if (code > clearCode) return kEnd;
      firstCode = oldCode = code;
      if (room > 0) {
        out[0] = static_cast<uint8_t>(code);
        return 1;
      }
      stack[sp++] = static_cast<uint8_t>(code);
      return 0;
    }
    const int incoming = code;
    if (code > nextCode) return kEnd;
    // A code one past the table: the string of the previous code plus its own first pixel.
    const bool repeatsFirst = code == nextCode;
    if (repeatsFirst) code = oldCode;
    const int count = length[code] + (repeatsFirst ? 1 : 0);
    int written = 0;
    if (count >= 1 && count <= room) {
      // Every entry's length is its prefix's plus one, so the walk fills out[0..count).
      uint8_t* p = out + count;
      if (repeatsFirst) *--p = static_cast<uint8_t>(firstCode);
      while (code >= clearCode) {
        *--p = suffix[code];
        code = prefix[code];
      }
      *--p = static_cast<uint8_t>(code);
      written = count;
    } else {
      if (repeatsFirst) stack[sp++] = static_cast<uint8_t>(firstCode);
      while (code >= clearCode) {
        if (sp >= kStackSize) return kOverflow;
        stack[sp++] = suffix[code];
        code = prefix[code];
      }
      if (sp >= kStackSize) return kOverflow;
      stack[sp++] = static_cast<uint8_t>(code);
    }
    firstCode = code;
    if (nextCode < kMaxCodes) {
      prefix[nextCode] = static_cast<uint16_t>(oldCode);
      suffix[nextCode] = static_cast<uint8_t>(firstCode);
      length[nextCode] = static_cast<uint16_t>(length[oldCode] + 1);
      ++nextCode;
      if (nextCode >= codeLimit && codeLimit < kMaxCodes) {
        codeLimit *= 2;
        ++codeSize;
      }
    }
    oldCode = incoming;
    return written;
  }

  // Decodes codes into out[0..room) while their strings fit there whole: one call per row
  // stretch rather than per code. Stops when the room is full, or at the first code that
  // went on the stack (`status` 0) or gave kEnd or kOverflow (`status`). Returns the
  // pixels written.
  int Fill(CDataSource& source, uint8_t* out, int room, int& status) {
    int filled = 0;
    status = 0;
    while (filled < room) {
      const int r = DecodeCode(source, out + filled, room - filled);
      if (r <= 0) {
        status = r;
        break;
      }
      filled += r;
    }
    return filled;
  }
};

static_assert(kMaxCodeBits == 12 && (1 << kMaxCodeBits) == kMaxCodes);

}  // namespace gifdecoder::detail

using namespace gifdecoder;

namespace {

// Walks the rows of an image in storage order: top to bottom, or in the four interlace
// passes (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
class RowWalker {
public:
  RowWalker(int height, bool interlaced) : height_(height), interlaced_(interlaced) {}
  int Row() const { return y_; }
  bool Done() const { return y_ >= height_; }
  void Next() {
    if (!interlaced_) {
      ++y_;
      return;
    }
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    y_ += kStep[pass_];
    // A short image may have no rows at all in a pass.
    while (y_ >= height_ && pass_ < 3) {
      ++pass_;
      y_ = kStart[pass_];
    }
  }

private:
  int height_;
  bool interlaced_;
  int y_ = 0;
  int pass_ = 0;
};

}  // namespace

CGifDecoder::CGifDecoder() = default;
CGifDecoder::~CGifDecoder() = default;

bool CGifDecoder::Fail(const char* message) {
  message_ = message;
  return false;
}

void CGifDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>&, int& bppInOut,
                             CDataSource& source) {
  message_ = kNoError;
  bppInOut = 8;
  if (state_ == nullptr) state_ = std::make_unique<detail::ReadState>();
  if (!ReadStage(bmp, source)) {
    if (message_ == kNoError) RaiseError(textexception::kWrongSignature, kNotGif);
    RaiseError(textexception::kFormatError, message_);
  }
}

bool CGifDecoder::ReadColorMap(CDataSource& source, int entries) {
  std::span<const uint8_t> rgb = source.Take(size_t(entries) * 3);
  if (rgb.data() == nullptr) return false;
  for (int i = 0; i < entries; ++i) {
    state_->palette[i] = RgbQuad{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 255};
  }
  return true;
}

bool CGifDecoder::ReadStage(CBmp& bmp, CDataSource& source) {
  std::fill(std::begin(state_->palette), std::end(state_->palette), RgbQuad{0, 0, 0, 255});

  std::span<const uint8_t> signature = source.Take(6);
  if (signature.data() == nullptr) return Fail(kUnexpectedEof);
  if (std::memcmp(signature.data(), "GIF", 3) != 0 ||
      (std::memcmp(signature.data() + 3, "87a", 3) != 0 &&
       std::memcmp(signature.data() + 3, "89a", 3) != 0)) {
    return false;
  }

  std::span<const uint8_t> screenBytes = source.Take(7);
  if (screenBytes.data() == nullptr) return Fail(kScreenRead);
  ByteCursor screen(screenBytes);
  screen.Skip(4);  // logical screen size: not used for the picture
  uint8_t screenFlags = screen.U8();
  screen.Skip(1);  // background colour index
  uint8_t aspect = screen.U8();
  if (screenFlags & 0x80) {
    if (!ReadColorMap(source, 2 << (screenFlags & 7))) return Fail(kGlobalColormap);
  }
  if (aspect != 0 && aspect != 49) message_ = kNonSquare;

  // Skip extensions and stray bytes up to the image descriptor.
  for (;;) {
    std::span<const uint8_t> one = source.Take(1);
    if (one.data() == nullptr) return Fail(kUnexpectedEof);
    if (one[0] == ',') break;
    if (one[0] != '!') continue;
    std::span<const uint8_t> label = source.Take(1);
    if (label.data() == nullptr) return Fail(kExtensionRead);
    for (;;) {
      std::span<const uint8_t> length = source.Take(1);
      if (length.data() == nullptr) return Fail(kExtensionRead);
      if (length[0] == 0) break;
      source.Take(length[0]);
    }
  }

  std::span<const uint8_t> descriptorBytes = source.Take(9);
  if (descriptorBytes.data() == nullptr) return Fail(kDimensionRead);
  ByteCursor descriptor(descriptorBytes);
  descriptor.Skip(4);  // left, top
  int width = descriptor.Le16();
  int height = descriptor.Le16();
  uint8_t imageFlags = descriptor.U8();

  bool localTable = (imageFlags & 0x80) != 0;
  if (localTable && !ReadColorMap(source, 2 << (imageFlags & 7))) return Fail(kLocalColormap);

  try {
    CreateBitmap(bmp, width, height, 8, false, "GIF decoder");
  } catch (const std::bad_alloc&) {
    return Fail(kOutOfMemory);
  }
  bmp.SetPalette(state_->palette);

  if (!ReadImage(bmp, source, (imageFlags & 0x40) != 0)) {
    return Fail(localTable ? kImageLocal : kImageGlobal);
  }
  return true;
}

bool CGifDecoder::ReadImage(CBmp& bmp, CDataSource& source, bool interlaced) {
  detail::ReadState& s = *state_;
  int minCodeSize = source.U8();
  // Pixel values must fit the bytes of an 8-bit bitmap.
  if (minCodeSize < 1 || minCodeSize > 8) return false;
  s.Start(minCodeSize);

  const int width = bmp.GetWidth();
  uint8_t** rows = bmp.GetRowTable();
  RowWalker walker(bmp.GetHeight(), interlaced);
  int x = 0;
  while (!walker.Done()) {
    uint8_t* row = rows[walker.Row()];
    if (s.sp == 0) {
      int status = 0;
      x += s.Fill(source, row + x, width - x, status);
      if (status == detail::ReadState::kOverflow) return false;
      if (status < 0) break;
    }
    int n = std::min(s.sp, width - x);
    for (int i = 0; i < n; ++i) row[x + i] = s.stack[--s.sp];
    x += n;
    if (x == width) {
      x = 0;
      walker.Next();
    }
  }
  if (walker.Done()) {
    // Consume the data up to the end code so the source stands behind the image, but a
    // complete image is not spoiled by a file that stops right after it.
    if (s.sp == 0 && source.BytesLeft() > 0) {
      try {
        s.DecodeCode(source, nullptr, 0);
      } catch (const CTextException&) {
      }
    }
    return true;
  }
  // The data ended early: what it did not reach is index 0, not stale memory.
  while (!walker.Done()) {
    std::memset(rows[walker.Row()] + x, 0, size_t(width - x));
    x = 0;
    walker.Next();
  }
  return true;
}
