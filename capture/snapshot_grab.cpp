// The Snapshot command: the sample grabber's latest frame into the shared snapshot image,
// shown in the snapshot window.
#include "capture/snapshot_grab.h"

#include <cstring>
#include <memory>
#include <new>

#include "capture/main_frame.h"
#include "resources/resources.h"
#include "snapshot/dib_draw.h"
#include "snapshot/dib_format.h"
#include "snapshot/snapshot_window.h"

CGlobalBlock FrameToDib(const media::BitmapInfoHeader& header, const uint8_t* pixels,
                        size_t size) {
  if (header.biCompression != 0 || header.biHeight < 0 || header.biWidth < 0 || !pixels)
    return {};
  switch (header.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return {};
  }
  const uint64_t rowBytes = (uint64_t(header.biBitCount) * uint64_t(header.biWidth) + 31) / 32 * 4;
  const uint64_t imageBytes = rowBytes * uint64_t(header.biHeight);
  if (imageBytes > size) return {};
  // The block carries a plain information header; 8-bit frames always get the full
  // 256-entry table, whatever colours-used the frame's header gave.
  BitmapInfoHeader info;
  info.width = header.biWidth;
  info.height = header.biHeight;
  info.bitCount = header.biBitCount;
  info.sizeImage = header.biSizeImage;
  info.xPelsPerMeter = header.biXPelsPerMeter;
  info.yPelsPerMeter = header.biYPelsPerMeter;
  info.clrUsed = header.biBitCount == 8 ? 0 : header.biClrUsed;
  info.clrImportant = header.biClrImportant;
  if (info.clrUsed > 256) return {};
  CGlobalBlock block;
  try {
    CGlobalBlock headerOnly(&info, sizeof info);
    const uint64_t total = sizeof info + ColorTableBytes(headerOnly) + imageBytes;
    block = CGlobalBlock(size_t(total));
  } catch (const std::bad_alloc&) {
    return {};
  }
  std::memcpy(block.Data(), &info, sizeof info);
  std::memcpy(PixelBits(block), pixels, size_t(imageBytes));
  if (header.biBitCount == 8) {
    std::unique_ptr<CPalette> uniform = CreateTypePalette(8);
    if (!uniform) return {};
    uint8_t* table = block.Data() + sizeof info;
    for (size_t i = 0; i < 256 && i < uniform->GetEntryCount(); ++i) {
      const PaletteEntry& e = uniform->Entries()[i];
      table[4 * i] = e.blue;
      table[4 * i + 1] = e.green;
      table[4 * i + 2] = e.red;
      table[4 * i + 3] = 0;
    }
  }
  return block;
}

int CMainFrame::GrabSnapshot() {
  if (!m_sampleGrabber) return 0;
  int32_t size = 0;
  media::Status hr = m_sampleGrabber->GetCurrentBufferSize(size);
  if (media::Failed(hr) || size <= 0) return 0;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t(size)]);
  if (!buffer) return media::status::kOutOfMemory;
  hr = m_sampleGrabber->GetCurrentBuffer(size, buffer.get());
  if (media::Failed(hr)) return hr;
  media::MediaType type;
  hr = m_sampleGrabber->GetConnectedMediaType(type);
  if (media::Failed(hr) || !type.IsVideoInfo()) return media::status::kInvalidMediaType;
  CGlobalBlock block = FrameToDib(type.videoInfo->bmiHeader, buffer.get(), size_t(size));
  if (block.Size() == 0) {
    ShowError("compressed format is not supported");
    return 0;
  }
  if (m_dib.HasDib()) m_dib.FreeDib();
  m_dib.SetDib(std::move(block));
  OpenSnapshotWindow(m_dib.GetHeight(), m_dib.GetWidth());
  return hr;
}

void CMainFrame::OpenSnapshotWindow(int height, int width) {
  if (CSnapshotWnd* open = CSnapshotWnd::Find()) {
    open->OnSnapshotRefresh();
    return;
  }
  auto* window = new CSnapshotWnd(
      m_dib, this, res::PickResource(res::kSnapshotMenuChinese, res::kSnapshotMenuEnglish));
  window->resize(width, height);
  window->move(window->x(), 0);
  window->show();
}
