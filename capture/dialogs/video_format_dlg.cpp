#include "capture/dialogs/video_format_dlg.h"

#include <QComboBox>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

namespace {

// "RGB24" for uncompressed formats, else the four characters of the code.
QString ColorSpaceText(uint32_t code, const media::BitmapInfoHeader& bmi) {
  if (bmi.biCompression == 0) return QStringLiteral("RGB%1").arg(bmi.biBitCount);
  char text[5] = {char(code & 0xFF), char((code >> 8) & 0xFF), char((code >> 16) & 0xFF),
                  char((code >> 24) & 0xFF), 0};
  return QString::fromLatin1(text, 4);
}

}  // namespace

CVideoFormatDlg::CVideoFormatDlg(media::IAMStreamConfig* config, QWidget* parent)
    : QDialog(parent), m_config(config) {
  const res::DialogTemplate* t = res::FindDialog(
      res::PickResource(res::kVideoFormatDlgChinese, res::kVideoFormatDlgEnglish));
  if (t) BuildDialogFromTemplate(*this, *t);
  m_colorSpaces = qobject_cast<QComboBox*>(DialogItem(*this, res::kIdcColorSpace));
  m_sizes = qobject_cast<QComboBox*>(DialogItem(*this, res::kIdcOutputSize));
  if (!m_colorSpaces || !m_sizes) return;
  OnInitDialog();
  connect(m_colorSpaces, &QComboBox::currentIndexChanged, this, [this] { FillOrApply(0); });
}

void CVideoFormatDlg::OnInitDialog() {
  int count = 0, size = 0;
  if (!m_config || media::Failed(m_config->GetNumberOfCapabilities(count, size))) return;
  m_colorSpaces->clear();
  m_sizes->clear();
  uint32_t current = 0xFFFFFFFFu;
  media::MediaType mt;
  if (media::Succeeded(m_config->GetFormat(mt)) && mt.IsVideoInfo()) current = mt.subtype.data1;
  uint32_t previous = 0;
  bool first = true;
  for (int i = 0; i < count; ++i) {
    media::MediaType cap;
    media::VideoStreamConfigCaps caps;
    if (media::Failed(m_config->GetStreamCaps(i, cap, caps)) || !cap.IsVideoInfo()) continue;
    const uint32_t code = cap.subtype.data1;
    if (first || code != previous) {
      m_colorSpaces->addItem(ColorSpaceText(code, cap.videoInfo->bmiHeader));
      if (m_preselected < 0 && code == current) m_preselected = m_colorSpaces->count() - 1;
    }
    previous = code;
    first = false;
  }
  m_colorSpaces->setCurrentIndex(m_preselected >= 0 ? m_preselected : 0);
  FillOrApply(0);
}

long CVideoFormatDlg::FillOrApply(int apply) {
  unsigned w = 0, h = 0;
  if (apply == 1) {
    if (m_sizes->currentIndex() < 0) return -1;
    const QByteArray text = m_sizes->currentText().toLatin1();
    if (std::sscanf(text.constData(), "%u x %u", &w, &h) != 2) return -1;
  }
  if (m_colorSpaces->currentIndex() < 0) return -1;
  const QByteArray space = m_colorSpaces->currentText().toLatin1();
  uint32_t code = 0;
  unsigned bits = 0;
  if (space.contains("RGB")) {
    if (std::sscanf(space.constData(), "RGB%u", &bits) != 1) bits = 0;
  } else {
    char four[4] = {};
    std::memcpy(four, space.constData(), std::min<qsizetype>(4, space.size()));
    code = uint32_t(uint8_t(four[0])) | uint32_t(uint8_t(four[1])) << 8 |
           uint32_t(uint8_t(four[2])) << 16 | uint32_t(uint8_t(four[3])) << 24;
  }
  media::MediaType current;
  if (apply == 0 && m_config && media::Succeeded(m_config->GetFormat(current)) &&
      current.IsVideoInfo()) {
    w = uint32_t(current.videoInfo->bmiHeader.biWidth);
    h = uint32_t(std::abs(current.videoInfo->bmiHeader.biHeight));
  }
  // Filling the list changes its selection: the size list's own notification does nothing.
  m_sizes->clear();
  int count = 0, size = 0;
  const media::Status hr =
      m_config ? m_config->GetNumberOfCapabilities(count, size) : media::status::kPointer;
  if (media::Failed(hr)) return hr;
  for (int i = 0; i < count; ++i) {
    media::MediaType cap;
    media::VideoStreamConfigCaps caps;
    if (media::Failed(m_config->GetStreamCaps(i, cap, caps)) || !cap.IsVideoInfo()) continue;
    const media::BitmapInfoHeader& bmi = cap.videoInfo->bmiHeader;
    const bool sameCode = code == cap.subtype.data1 || code == bmi.biCompression;
    const bool sameDepth = bmi.biCompression != 0 || (bmi.biBitCount == bits && bits != 0);
    if (!sameCode || !sameDepth) continue;
    const uint32_t cw = uint32_t(bmi.biWidth), ch = uint32_t(std::abs(bmi.biHeight));
    if (apply == 0) m_sizes->addItem(QStringLiteral("%1 x %2").arg(cw).arg(ch));
    if (cw == w && ch == h) {
      if (apply == 1) {
        // A format the device refuses is not reported: the next preview shows what holds.
        m_config->SetFormat(cap);
        break;
      }
      m_sizes->setCurrentIndex(m_sizes->count() - 1);
    }
  }
  if (apply == 0 && m_sizes->currentIndex() < 0 && m_sizes->count() > 0)
    m_sizes->setCurrentIndex(0);
  skin::ApplySkin(this);
  return 0;
}

void CVideoFormatDlg::accept() {
  FillOrApply(1);
  QDialog::accept();
}
