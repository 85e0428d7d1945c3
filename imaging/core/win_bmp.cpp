#include "imaging/core/win_bmp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <sys/mman.h>
#include <utility>
#include <vector>

#include "imaging/core/bitmap_resources.h"
#include "imaging/core/memory_exception.h"
#include "imaging/core/text_exception.h"

namespace {

constexpr size_t kHeaderSize = sizeof(BitmapInfoHeader);
// Largest information header we know (version 5); its extra fields are not read.
constexpr uint32_t kMaxHeaderSize = 124;

bool IsStorableDepth(uint16_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: return true;
    default: return false;
  }
}

bool IsAcceptedDimension(int64_t value) { return value >= 0 && value <= CBmp::kMaxDimension; }

uint32_t ImageSizeField(uint64_t bytes) {
  // 0 is what an uncompressed header says when it gives no size.
  return bytes <= std::numeric_limits<uint32_t>::max() ? static_cast<uint32_t>(bytes) : 0;
}

// Colour-table entries stored behind a source header: the colours-used field when set,
// else the full table of a paletted depth (none at 16 bits and up).
uint32_t StoredPaletteEntries(const BitmapInfoHeader& header) {
  if (header.clrUsed != 0) return std::min<uint32_t>(header.clrUsed, 256);
  return dib::PaletteEntries(header.bitCount);
}

// Offset of the first stored row of a source block, from its header.
uint64_t SourceBitsOffset(const BitmapInfoHeader& header) {
  return uint64_t(header.size) + 4ull * StoredPaletteEntries(header);
}

// Checks a source header (and, when the length is known, the block behind it) before
// anything of the bitmap is touched.
BitmapInfoHeader ReadSourceHeader(const uint8_t* block, const size_t* available) {
  if (available != nullptr && *available < kHeaderSize)
    throw CTextException(textexception::kFormatError, "Bitmap block is shorter than its header.");
  BitmapInfoHeader header;
  std::memcpy(&header, block, kHeaderSize);
  switch (header.bitCount) {
    case 1: case 8: case 24: case 32: break;
    default: throw CTextException(textexception::kInvalidBitsPerPixel, winbmp::kInvalidDepthText);
  }
  if (header.size < kHeaderSize || header.size > kMaxHeaderSize)
    throw CTextException(textexception::kFormatError, "Bitmap header has wrong size.");
  if (header.compression != 0)
    throw CTextException(textexception::kUnsupported, "Compressed bitmaps are not supported.");
  if (!IsAcceptedDimension(header.width) || !IsAcceptedDimension(header.height))
    throw CTextException(textexception::kFormatError, "Bitmap dimensions out of range.");
  if (header.clrUsed > 256)
    throw CTextException(textexception::kFormatError, "Bitmap colour table is too large.");
  if (available != nullptr) {
    const uint64_t needed = SourceBitsOffset(header) +
                            dib::RowStride(uint64_t(header.width), header.bitCount) *
                                uint64_t(header.height);
    if (needed > *available)
      throw CTextException(textexception::kFormatError,
                           "Bitmap block is shorter than its header, colour table and rows.");
  }
  return header;
}

// A double to int that saturates instead of overflowing (truncation toward zero).
int TruncateToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (v <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

}  // namespace

CWinBmp::CWinBmp() { Create(16, 16, 8, false); }

CWinBmp::~CWinBmp() { ReleaseStorage(); }

// ----- storage --------------------------------------------------------------------------

namespace {

// A decoded photograph is tens of megabytes that are written once from end to end; faulting
// it in 4 KiB pages costs more than the decode itself. Large blocks come from fresh mappings,
// so asking for huge pages before the first touch is safe; the hint may be refused.
void AdviseHugePages(void* block, size_t size) {
  constexpr size_t kPage = 4096;
  constexpr size_t kWorthIt = size_t{8} << 20;
  if (size < kWorthIt) return;
  const auto start = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kPage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace

void CWinBmp::AllocateStorage(int width, int height, uint16_t bitsPerPixel, bool hasAlpha) {
  if (!IsAcceptedDimension(width) || !IsAcceptedDimension(height) || !IsStorableDepth(bitsPerPixel))
    throw CMemoryException();
  const std::optional<size_t> size = dib::BlockSize(width, height, bitsPerPixel);
  if (!size) throw CMemoryException();
  // Zeroed rather than left undefined: costs nothing for large blocks (fresh pages) and keeps
  // unfilled pictures deterministic.
  void* block = std::calloc(1, *size);
  if (block == nullptr) throw CMemoryException();
  AdviseHugePages(block, *size);
  block_ = static_cast<BitmapInfoHeader*>(block);
  blockSize_ = *size;
  FillDibHeader(block_, width, height, bitsPerPixel);
  LocatePaletteAndBits();
  FinishCreate(width, height, bitsPerPixel, hasAlpha);
}

void CWinBmp::ReleaseStorage() {
  std::free(block_);
  block_ = nullptr;
  blockSize_ = 0;
  ResetDescription();
}

void CWinBmp::BuildRowTable() {
  rowTable_.reset(new (std::nothrow) uint8_t*[std::max(height_, 1)]);
  if (!rowTable_) {
    ReleaseStorage();
    throw CMemoryException();
  }
  const size_t stride = GetRowStride();
  for (int i = 0; i < height_; ++i) rowTable_[i] = bits_ + size_t(height_ - 1 - i) * stride;
}

void CWinBmp::LocatePaletteAndBits() {
  auto* base = reinterpret_cast<uint8_t*>(block_);
  const unsigned depth = block_->bitCount;
  palette_ = depth < 16 ? reinterpret_cast<RgbQuad*>(base + kHeaderSize) : nullptr;
  bits_ = base + kHeaderSize + sizeof(RgbQuad) * dib::PaletteEntries(depth);
}

void CWinBmp::FillDibHeader(BitmapInfoHeader* header, int width, int height,
                            uint16_t bitsPerPixel) {
  *header = BitmapInfoHeader{};
  header->size = kHeaderSize;
  header->width = width & 0xFFFF;
  header->height = height & 0xFFFF;
  header->planes = 1;
  header->bitCount = bitsPerPixel;
  header->compression = 0;
  header->sizeImage =
      ImageSizeField(dib::RowStride(uint64_t(width & 0xFFFF), bitsPerPixel) * uint64_t(height & 0xFFFF));
}

size_t CWinBmp::GetRowStride() const {
  return static_cast<size_t>(dib::RowStride(uint64_t(std::max(width_, 0)), bitsPerPixel_));
}

size_t CWinBmp::GetMemorySize() const { return blockSize_ + sizeof(*this); }

void CWinBmp::SwapStorage(CWinBmp& other) noexcept {
  std::swap(block_, other.block_);
  std::swap(blockSize_, other.blockSize_);
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(bitsPerPixel_, other.bitsPerPixel_);
  std::swap(palette_, other.palette_);
  std::swap(bits_, other.bits_);
  std::swap(hasAlpha_, other.hasAlpha_);
  std::swap(rowTable_, other.rowTable_);
}

// ----- copies and conversions --------------------------------------------------------------

void CWinBmp::CopyFrom(CBmp& source, uint16_t bitsPerPixelWanted) {
  if (&source != this) {
    CBmp::CopyFrom(source, bitsPerPixelWanted);
    return;
  }
  if (bitsPerPixelWanted == 0 || bitsPerPixelWanted == bitsPerPixel_ || block_ == nullptr) return;
  // Convert into a temporary and take its storage: a failed conversion leaves this bitmap
  // as it was, and the encoding options stay where they are.
  CWinBmp converted;
  converted.CopyFrom(*this, bitsPerPixelWanted);
  SwapStorage(converted);
}

bool CWinBmp::ConvertToGrey() {
  if (block_ == nullptr) return false;
  CWinBmp grey;
  grey.Create(width_, height_, 8, false);
  // Integer weights: exact truncation, so white stays 255.
  const auto weigh = [](unsigned red, unsigned green, unsigned blue) {
    return static_cast<uint8_t>((299u * red + 587u * green + 114u * blue) / 1000u);
  };
  for (int y = 0; y < height_; ++y) {
    const uint8_t* in = rowTable_[y];
    uint8_t* out = grey.rowTable_[y];
    if (bitsPerPixel_ == 32) {
      for (int x = 0; x < width_; ++x, in += 4) out[x] = weigh(in[2], in[1], in[0]);
    } else {
      for (int x = 0; x < width_; ++x) {
        const RgbQuad c = PixelColour(in, x, bitsPerPixel_, palette_);
        out[x] = weigh(c.red, c.green, c.blue);
      }
    }
  }
  SwapStorage(grey);
  return true;
}

// ----- exports ----------------------------------------------------------------------------

uint8_t* CWinBmp::ExportTrueColour(bool bottomUp, size_t* outSize, bool rgb) const {
  if (outSize != nullptr) *outSize = 0;
  if (block_ == nullptr || !rowTable_) return nullptr;
  const size_t rowBytes = size_t(width_) * 3;
  const size_t total = rowBytes * size_t(height_);
  if (total == 0) return nullptr;
  auto* out = static_cast<uint8_t*>(std::malloc(total));
  if (out == nullptr) return nullptr;
  const int r = rgb ? 2 : 0;
  const int b = rgb ? 0 : 2;
  for (int j = 0; j < height_; ++j) {
    const uint8_t* in = rowTable_[bottomUp ? height_ - 1 - j : j];
    uint8_t* o = out + size_t(j) * rowBytes;
    if (bitsPerPixel_ == 32) {
      for (int x = 0; x < width_; ++x, in += 4, o += 3) {
        o[r] = in[0];
        o[1] = in[1];
        o[b] = in[2];
      }
    } else {
      for (int x = 0; x < width_; ++x, o += 3) {
        const RgbQuad c = PixelColour(in, x, bitsPerPixel_, palette_);
        o[r] = c.blue;
        o[1] = c.green;
        o[b] = c.red;
      }
    }
  }
  if (outSize != nullptr) *outSize = total;
  return out;
}

uint8_t* CWinBmp::ExportBgr24(bool bottomUp, size_t* outSize) const {
  return ExportTrueColour(bottomUp, outSize, false);
}

uint8_t* CWinBmp::ExportRgb24(bool bottomUp, size_t* outSize) const {
  return ExportTrueColour(bottomUp, outSize, true);
}

uint8_t* CWinBmp::ExportPacked(bool bottomUp, size_t* outSize) const {
  if (bitsPerPixel_ == 32 && !hasAlpha_) return ExportBgr24(bottomUp, outSize);
  if (outSize != nullptr) *outSize = 0;
  if (block_ == nullptr || !rowTable_) return nullptr;
  const size_t rowBytes = (size_t(bitsPerPixel_) * size_t(width_) + 7) / 8;
  const size_t total = rowBytes * size_t(height_);
  if (total == 0) return nullptr;
  auto* out = static_cast<uint8_t*>(std::malloc(total));
  if (out == nullptr) return nullptr;
  for (int j = 0; j < height_; ++j)
    std::memcpy(out + size_t(j) * rowBytes, rowTable_[bottomUp ? height_ - 1 - j : j], rowBytes);
  if (outSize != nullptr) *outSize = total;
  return out;
}

// ----- packed DIBs and global blocks ----------------------------------------------------

void CWinBmp::CreateFromPackedBytes(const uint8_t* source, const size_t* available) {
  // Re-reading our own block (GetDibBlock handed back) must not free it first.
  std::vector<uint8_t> ownCopy;
  size_t ownLength = 0;
  const auto at = reinterpret_cast<uintptr_t>(source);
  const auto base = reinterpret_cast<uintptr_t>(block_);
  if (block_ != nullptr && at >= base && at < base + blockSize_) {
    ownCopy.assign(source, source + (base + blockSize_ - at));
    source = ownCopy.data();
    ownLength = ownCopy.size();
    available = &ownLength;
  }
  const BitmapInfoHeader header = ReadSourceHeader(source, available);
  const uint16_t depth = header.bitCount == 24 ? 32 : header.bitCount;

  ReleaseStorage();
  const std::optional<size_t> size = dib::BlockSize(header.width, header.height, depth);
  if (!size) throw CMemoryException();
  void* block = std::malloc(*size);
  if (block == nullptr) throw CMemoryException();
  block_ = static_cast<BitmapInfoHeader*>(block);
  blockSize_ = *size;

  if (header.bitCount == 24) {
    Expand24To32(reinterpret_cast<uint8_t*>(block_), source);
  } else {
    const uint64_t rowBytes =
        dib::RowStride(uint64_t(header.width), depth) * uint64_t(header.height);
    *block_ = header;
    block_->size = kHeaderSize;
    block_->clrUsed = 0;  // our block always carries the full table
    // Whoever sizes the block from its header (plane count and image size take part) must
    // find the rows we hold, not what the source claimed. 0 still means "not given".
    block_->planes = 1;
    if (block_->sizeImage != 0) block_->sizeImage = ImageSizeField(rowBytes);
    std::memcpy(reinterpret_cast<uint8_t*>(block_) + kHeaderSize +
                    sizeof(RgbQuad) * dib::PaletteEntries(depth),
                source + SourceBitsOffset(header), static_cast<size_t>(rowBytes));
  }
  LocatePaletteAndBits();
  FinishCreate(header.width, header.height, depth, false);
  if (palette_ != nullptr) {
    const uint32_t entries = std::min(StoredPaletteEntries(header), dib::PaletteEntries(depth));
    std::memcpy(palette_, source + header.size, sizeof(RgbQuad) * entries);
  }
}

void CWinBmp::CreateFromPackedDib(const BitmapInfoHeader* header) {
  if (header == nullptr) throw CTextException(textexception::kNullPointer, winbmp::kNullPointerText);
  CreateFromPackedBytes(reinterpret_cast<const uint8_t*>(header), nullptr);
}

void CWinBmp::CreateFromGlobal(const CGlobalBlock& block) {
  if (block.Size() == 0)
    throw CTextException(textexception::kNullPointer, winbmp::kNullPointerText);
  const size_t available = block.Size();
  CreateFromPackedBytes(block.Data(), &available);
}

void CWinBmp::LoadFromResource(int resourceId) {
  const auto resource = bitmapresources::Find(resourceId);
  if (!resource)
    throw CTextException(textexception::kFormatError, winbmp::kResourceNotFoundText);
  const size_t available = resource->size();
  CreateFromPackedBytes(resource->data(), &available);
}

void CWinBmp::Expand24To32(uint8_t* destBlock, const uint8_t* sourceBlock) {
  BitmapInfoHeader header;
  std::memcpy(&header, sourceBlock, kHeaderSize);
  const uint8_t* in = sourceBlock + SourceBitsOffset(header);
  const auto width = size_t(std::max(header.width, 0));
  const auto height = size_t(std::max(header.height, 0));
  const size_t inStride = dib::RowStride(width, 24);

  BitmapInfoHeader out = header;
  out.size = kHeaderSize;
  out.bitCount = 32;
  out.sizeImage = ImageSizeField(uint64_t(width) * height * 4);
  out.clrUsed = 0;
  std::memcpy(destBlock, &out, kHeaderSize);

  uint8_t* o = destBlock + kHeaderSize;
  for (size_t y = 0; y < height; ++y, in += inStride) {
    const uint8_t* p = in;
    for (size_t x = 0; x < width; ++x, p += 3, o += 4) {
      o[0] = p[0];
      o[1] = p[1];
      o[2] = p[2];
      o[3] = 0;
    }
  }
}

void CWinBmp::Compress32To24(uint8_t* destBlock, const uint8_t* sourceBlock) {
  BitmapInfoHeader header;
  std::memcpy(&header, sourceBlock, kHeaderSize);
  const auto width = size_t(std::max(header.width, 0));
  const auto height = size_t(std::max(header.height, 0));
  const size_t outStride = dib::RowStride(width, 24);

  BitmapInfoHeader out = header;
  out.size = kHeaderSize;
  out.bitCount = 24;
  out.sizeImage = ImageSizeField(uint64_t(outStride) * height);
  out.clrUsed = 0;
  std::memcpy(destBlock, &out, kHeaderSize);

  const uint8_t* in = sourceBlock + header.size;
  uint8_t* o = destBlock + kHeaderSize;
  const size_t padding = outStride - width * 3;
  for (size_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < width; ++x, in += 4, o += 3) {
      o[0] = in[0];
      o[1] = in[1];
      o[2] = in[2];
    }
    std::memset(o, 0, padding);
    o += padding;
  }
}

size_t CWinBmp::DibCopySize() const {
  if (bitsPerPixel_ != 32) return blockSize_;
  return *dib::BlockSize(width_, height_, 24);
}

void CWinBmp::FillDibCopy(uint8_t* dest) const {
  if (bitsPerPixel_ == 32)
    Compress32To24(dest, reinterpret_cast<const uint8_t*>(block_));
  else
    std::memcpy(dest, block_, blockSize_);
}

void CWinBmp::GetDIBCopy(uint8_t** out) const {
  if (block_ == nullptr) throw CTextException(textexception::kNoPixelData, winbmp::kNoDataText);
  auto* copy = static_cast<uint8_t*>(std::malloc(DibCopySize()));
  if (copy == nullptr) throw CMemoryException();
  FillDibCopy(copy);
  *out = copy;
}

void CWinBmp::CopyToGlobal(CGlobalBlock& block) const {
  if (block_ == nullptr) throw CTextException(textexception::kNoPixelData, winbmp::kNoDataText);
  const size_t size = DibCopySize();
  if (block.Size() != 0)
    block.Reallocate(size);
  else
    block = CGlobalBlock(size);
  FillDibCopy(block.Data());
}

// ----- drawing ----------------------------------------------------------------------------

int CWinBmp::Draw(CDibDevice* dc, int x, int y, uint32_t rasterOp) const {
  return StretchDraw(dc, x, y, width_, height_, rasterOp);
}

int CWinBmp::StretchDraw(CDibDevice* dc, int x, int y, int width, int height,
                         uint32_t rasterOp) const {
  if (dc == nullptr || block_ == nullptr) return 0;
  return dc->StretchDIBits(DibRect{x, y, width, height}, DibRect{0, 0, width_, height_}, bits_,
                           block_, rasterOp);
}

int CWinBmp::ScaledDraw(CDibDevice* dc, int x, int y, double factor, uint32_t rasterOp) const {
  return StretchDraw(dc, x, y, TruncateToInt(factor * width_), TruncateToInt(factor * height_),
                     rasterOp);
}

int CWinBmp::DrawExtract(CDibDevice* dc, DibPoint dest, const DibBounds& source) const {
  if (dc == nullptr || block_ == nullptr) return 0;
  const int width = source.right - source.left;
  const int height = source.bottom - source.top;
  // The device counts source rows from the last stored row, i.e. from the picture's bottom.
  return dc->StretchDIBits(DibRect{dest.x, dest.y, width, height},
                           DibRect{source.left, height_ - source.bottom, width, height}, bits_,
                           block_, rop::kSrcCopy);
}
