#include "snapshot/dib.h"

#include <QByteArray>
#include <cstring>
#include <new>

#include "imaging/core/dib.h"
#include "snapshot/dib_draw.h"
#include "snapshot/dib_format.h"

namespace {

constexpr uint16_t kBmpType = 0x4D42;  // "BM"
constexpr size_t kFileHeaderSize = 14;

#pragma pack(push, 1)
struct BitmapFileHeader {
  uint16_t type = kBmpType;
  uint32_t size = 0;
  uint16_t reserved1 = 0;
  uint16_t reserved2 = 0;
  uint32_t offBits = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapFileHeader) == kFileHeaderSize);

}  // namespace

CDib::CDib() = default;
CDib::~CDib() = default;

int CDib::SetDib(CGlobalBlock&& block) {
  if (block.Size() == 0) return 0;
  block_ = std::move(block);
  BuildPalette();
  return BuildBitmap();
}

int CDib::LoadPacked(const uint8_t* data, size_t available) {
  if (!data || available < 4) return 0;
  CGlobalBlock copy;
  try {
    // The size rule writes the image size into the header; work on our own copy of it.
    CGlobalBlock header(data, std::min(available, sizeof(BitmapInfoHeader)));
    const std::optional<size_t> size = PackedSize(header);
    if (!size || *size > available) return 0;
    copy = CGlobalBlock(data, *size);
    std::memcpy(copy.Data(), header.Data(), std::min(header.Size(), *size));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return SetDib(std::move(copy));
}

void CDib::FreeDib() { block_.Free(); }

int CDib::GetWidth() const { return HasDib() ? static_cast<int>(ImageWidth(block_)) : 0; }
int CDib::GetHeight() const { return HasDib() ? static_cast<int>(ImageHeight(block_)) : 0; }

int CDib::GetBitCount() const {
  const DibHeaderView h = ReadDibHeader(block_);
  return h.valid && h.info ? static_cast<int>(h.bitCount) : 0;
}

int CDib::BuildPalette() {
  palette_ = PaletteFromDib(block_);
  return palette_ ? 1 : 0;
}

int CDib::BuildBitmap() {
  bitmap_ = DibToSection(block_);
  return bitmap_ ? 1 : 0;
}

bool CDib::NeedsDither(const CDC& dc) const {
  return ImageBitCount(block_) == 24 && dc.BitsPixel() <= 8;
}

int CDib::Draw(CDC* dc, int x, int y, uint32_t rasterOp) {
  if (!dc || !HasDib()) return 0;
  const int width = GetWidth();
  const int height = GetHeight();
  if (NeedsDither(*dc))
    return DrawDithered(*dc, DibRect{x, y, width, height}, block_, DibRect{0, 0, width, height});
  std::unique_ptr<CDC> memory = CDC::CreateCompatibleDC(*dc);
  const CBitmap* oldBitmap = memory->SelectObject(bitmap_.get());
  const CPalette* oldPalette = dc->SelectPalette(palette_.get(), true);
  dc->RealizePalette();
  const int result = dc->BitBlt(x, y, width, height, *memory, 0, 0, rasterOp);
  memory->SelectObject(oldBitmap);
  dc->SelectPalette(oldPalette, true);
  return result;
}

int CDib::ReadBmp(QIODevice& file) {
  CWaitCursor wait;
  BitmapFileHeader fileHeader;
  if (file.read(reinterpret_cast<char*>(&fileHeader), kFileHeaderSize) !=
          qint64(kFileHeaderSize) ||
      fileHeader.type != kBmpType)
    return 0;
  QByteArray rest;
  try {
    // The file's real length counts, not the size its header declares.
    rest = file.readAll();
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (size_t(rest.size()) < sizeof(BitmapInfoHeader)) return 0;
  auto* data = reinterpret_cast<uint8_t*>(rest.data());
  BitmapInfoHeader header;
  std::memcpy(&header, data, sizeof header);
  if (header.size != kInfoHeaderSize) return 0;
  if (header.clrUsed == 0 &&
      (header.bitCount == 1 || header.bitCount == 4 || header.bitCount == 8))
    header.clrUsed = 1u << header.bitCount;
  if (header.sizeImage == 0 && header.width >= 0) {
    const uint64_t rows = dib::RowStride(uint64_t(header.width), header.bitCount) *
                          uint64_t(header.height < 0 ? -int64_t(header.height) : header.height);
    if (rows > UINT32_MAX) return 0;
    header.sizeImage = static_cast<uint32_t>(rows);
  }
  std::memcpy(data, &header, sizeof header);
  return LoadPacked(data, size_t(rest.size()));
}

int CDib::WriteBmp(QIODevice& file) {
  CWaitCursor wait;
  const DibHeaderView h = ReadDibHeader(block_);
  if (!h.valid || !h.info) return 0;
  BitmapInfoHeader header;
  std::memcpy(&header, block_.Data(), sizeof header);
  if (header.compression == 0) {
    if (!BlockIsComplete(block_)) return 0;
    header.sizeImage = static_cast<uint32_t>(RowBytes(block_) * uint64_t(h.height));
    std::memcpy(block_.Data(), &header, sizeof header);
  }
  const size_t table = ColorTableBytes(block_);
  const size_t body = sizeof header + table + header.sizeImage;
  if (body > block_.Size()) return 0;
  BitmapFileHeader fileHeader;
  fileHeader.size = static_cast<uint32_t>(kFileHeaderSize + body);
  fileHeader.offBits = static_cast<uint32_t>(kFileHeaderSize + sizeof header + table);
  if (file.write(reinterpret_cast<const char*>(&fileHeader), kFileHeaderSize) !=
      qint64(kFileHeaderSize))
    return 0;
  if (file.write(reinterpret_cast<const char*>(block_.Data()), qint64(body)) != qint64(body))
    return 0;
  return 1;
}

void CDib::Serialize(CArchive& archive) {
  if (!archive.file) return;
  if (archive.IsLoading())
    ReadBmp(*archive.file);
  else
    WriteBmp(*archive.file);
}
