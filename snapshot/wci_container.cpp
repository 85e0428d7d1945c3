#include "snapshot/wci_container.h"

#include <vector>

#include "imaging/core/text_exception.h"

namespace {

constexpr char kNoBitmapText[] = " no bitmap to export!";
constexpr char kConvertFailedText[] = "Bmp error when convert!";

// The depth CopyFrom is asked for when the wanted depth differs from the source's.
uint16_t ConversionDepth(uint8_t wanted) {
  if (wanted == 1) return 1;
  return wanted > 8 ? 32 : 8;
}

}  // namespace

CWCIContainer::CWCIContainer() = default;
CWCIContainer::~CWCIContainer() = default;

int16_t CWCIContainer::GetFormatFilters(int side, std::string* names, std::string* patterns,
                                        int16_t maximum) {
  if (side == kEncoderSide) {
    if (!encoder_) encoder_ = std::make_unique<CAnyPicEncoder>();
    return encoder_->GetSaveFilters(names, patterns, maximum);
  }
  if (!decoder_) decoder_ = std::make_unique<CAnyPicDecoder>();
  if (maximum < 1) return 0;
  std::vector<const char*> descriptions(static_cast<size_t>(maximum));
  std::vector<const char*> filters(static_cast<size_t>(maximum));
  const int count = decoder_->GetFilterList(descriptions.data(), filters.data(), maximum);
  for (int i = 0; i < count; ++i) {
    names[i] = descriptions[static_cast<size_t>(i)];
    patterns[i] = filters[static_cast<size_t>(i)];
  }
  return static_cast<int16_t>(count);
}

void CWCIContainer::SetImage(const CGlobalBlock& dibBlock, const EncodeOptions* options) {
  if (!bitmap_) bitmap_ = std::make_unique<CWinBmp>();
  bitmap_->CreateFromGlobal(dibBlock);
  bitmap_->SetEncodeOptions(options);
}

void CWCIContainer::SetBitmap(std::unique_ptr<CWinBmp> bitmap, const EncodeOptions* options) {
  bitmap_ = std::move(bitmap);
  bitmap_->SetEncodeOptions(options);
}

void CWCIContainer::Export(const char* path) {
  if (!bitmap_) throw CTextException(textexception::kNoBitmapToExport, kNoBitmapText);
  if (!encoder_) encoder_ = std::make_unique<CAnyPicEncoder>();

  if (const EncodeOptions* attached = bitmap_->GetEncodeOptions(); attached != nullptr) {
    EncodeOptions options = *attached;
    if ((options.flags & EncodeOptions::kFlagGray) != 0) {
      if (!bitmap_->ConvertToGrey())
        throw CTextException(textexception::kGreyConversion, kConvertFailedText);
    } else {
      if (options.wantedDepth == 0) {
        options.wantedDepth = options.sourceDepth;
        bitmap_->SetEncodeOptions(&options);
      }
      if (options.wantedDepth != options.sourceDepth)
        bitmap_->CopyFrom(*bitmap_, ConversionDepth(options.wantedDepth));
    }
  }
  encoder_->EncodeFile(path, *bitmap_);
}
