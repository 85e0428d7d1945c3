#include "snapshot/save_dialog/save_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "resources/resources.h"
#include "resources/save_options_template.h"
#include "snapshot/save_dialog/message_box.h"
#include "ui/accessibility.h"

namespace {

CSaveDlg::ModalHook g_modalHook;

// Extra height of the dialog while the options area shows, beyond the group box.
constexpr int kOptionsMargin = 23;

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString ExtensionOf(const EncodeOptions& r) {
  return QString::fromLatin1(r.extension, 3).toUpper();
}

void SetExtension(EncodeOptions& r, const QString& extension) {
  const QByteArray bytes = extension.toLatin1().leftJustified(3, '\0', true);
  std::memcpy(r.extension, bytes.constData(), 3);
}

// A decimal integer and nothing else (surrounding blanks allowed).
bool ParseInteger(const QString& text, int& value) {
  bool ok = false;
  value = text.trimmed().toInt(&ok);
  return ok;
}

}  // namespace

CSaveDlg::CSaveDlg(bool openFileDialog, const QString& defaultExt, const QString& fileName,
                   int flags, const QString& filter, QWidget* parent)
    : QFileDialog(parent), record_(std::make_unique<EncodeOptions>()), fileName_(fileName) {
  setObjectName(QStringLiteral("CSaveDlg"));
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(openFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  setFileMode(openFileDialog ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  setOption(QFileDialog::DontConfirmOverwrite, (flags & kOverwritePrompt) == 0);
  if (!defaultExt.isEmpty()) setDefaultSuffix(defaultExt);
  if (!filter.isEmpty()) setNameFilter(filter);
  if (!fileName.isEmpty()) selectFile(fileName);
  setSizeGripEnabled(false);
  const int language = res::LanguageFlag();
  collapsedCaption_ = Utf8(res::AdvancedCaption(false, language));
  expandedCaption_ = Utf8(res::AdvancedCaption(true, language));
  BuildOptionsArea(res::PickResource(res::kSaveOptionsChinese, res::kSaveOptionsEnglish));
  if (options_) options_->hide();
  a11y::RelateFileDialogCaptions(*this);
}

CSaveDlg::~CSaveDlg() = default;

void CSaveDlg::SetModalHookForTesting(ModalHook hook) { g_modalHook = std::move(hook); }

int CSaveDlg::DoModal() { return g_modalHook ? g_modalHook(*this) : exec(); }

void CSaveDlg::BuildOptionsArea(int templateId) {
  const res::OptionsTemplate* t = res::FindOptionsTemplate(templateId);
  if (!t) return;
  options_ = new QWidget(this);
  options_->setObjectName(QString::number(templateId));
  // Dialog units from the dialog font.
  const QFontMetrics fm(font());
  const int baseY = fm.height();
  // The template was measured for a narrower font. A caption may run on into the free
  // space up to the next control on its row (or the group's edge); where even that is too
  // short, the whole area widens in proportion.
  const double charX = fm.averageCharWidth();
  auto needed = [&](const res::OptionsControl& c) {
    const int chrome = c.kind == res::OptionsControl::Kind::Label ? 4 : 24;
    return fm.horizontalAdvance(Utf8(c.text).remove(QLatin1Char('&'))) + chrome;
  };
  // Room of each control in dialog units, to the next control on its row.
  auto room = [&](const res::OptionsControl& c) {
    int limit = 0;
    for (const res::OptionsControl& g : t->controls)
      if (g.kind == res::OptionsControl::Kind::GroupBox) limit = g.x + g.cx - 2;
    for (const res::OptionsControl& d : t->controls)
      if (&d != &c && d.kind != res::OptionsControl::Kind::GroupBox && d.x > c.x &&
          d.y < c.y + c.cy && c.y < d.y + d.cy)
        limit = std::min(limit, d.x - 2);
    return std::max(limit - c.x, c.cx);
  };
  double widen = 1.0;
  for (const res::OptionsControl& c : t->controls) {
    if (c.text.empty() || c.kind == res::OptionsControl::Kind::GroupBox ||
        c.id == res::kIdcAdvanced)
      continue;
    widen = std::max(widen, needed(c) / (room(c) * charX / 4));
  }
  const double baseX = charX * std::min(widen, 2.0);
  auto rect = [&](const res::OptionsControl& c) {
    int cx = c.cx;
    if (!c.text.empty() && c.kind != res::OptionsControl::Kind::GroupBox)
      cx = std::clamp(int(std::ceil(needed(c) * 4 / baseX)), c.cx, room(c));
    return QRect(int(c.x * baseX / 4), c.y * baseY / 8, int(cx * baseX / 4), c.cy * baseY / 8);
  };
  // The group box holds the other option controls, so hiding it hides the area.
  QPoint groupOrigin;
  for (const res::OptionsControl& c : t->controls)
    if (c.kind == res::OptionsControl::Kind::GroupBox) {
      group_ = new QGroupBox(Utf8(c.text), options_);
      group_->setObjectName(QString::number(c.id));
      group_->setGeometry(rect(c));
      groupOrigin = rect(c).topLeft();
    }
  QLabel* pendingLabel = nullptr;
  for (const res::OptionsControl& c : t->controls) {
    QWidget* w = nullptr;
    QWidget* inGroup = group_ ? static_cast<QWidget*>(group_) : options_;
    switch (c.kind) {
      case res::OptionsControl::Kind::GroupBox: continue;
      case res::OptionsControl::Kind::PushButton: {
        auto* b = new QPushButton(Utf8(c.text), c.id == res::kIdcAdvanced ? options_ : inGroup);
        b->setAutoDefault(false);
        if (c.id == res::kIdcAdvanced) advanced_ = b;
        if (c.id == res::kIdcBackground) background_ = b;
        w = b;
        break;
      }
      case res::OptionsControl::Kind::RadioButton: {
        auto* r = new QRadioButton(Utf8(c.text), inGroup);
        (c.id == res::kIdc8Bits ? bits8_ : bits24_) = r;
        w = r;
        break;
      }
      case res::OptionsControl::Kind::CheckBox: {
        auto* box = new QCheckBox(Utf8(c.text), inGroup);
        switch (c.id) {
          case res::kIdcGray: grayBox_ = box; break;
          case res::kIdcInterlace: interlaceBox_ = box; break;
          case res::kIdcTransparent: transparentBox_ = box; break;
          case res::kIdcCompress: compressBox_ = box; break;
          case res::kIdcLeftTop: leftTopBox_ = box; break;
        }
        w = box;
        break;
      }
      case res::OptionsControl::Kind::Label:
        pendingLabel = new QLabel(Utf8(c.text), inGroup);
        w = pendingLabel;
        break;
      case res::OptionsControl::Kind::DropDownCombo:
        paletteCombo_ = new QComboBox(inGroup);
        w = paletteCombo_;
        break;
      case res::OptionsControl::Kind::Edit:
        quality_ = new QLineEdit(inGroup);
        w = quality_;
        break;
    }
    if (c.id != -1) w->setObjectName(QString::number(c.id));
    // Edit and list take the name of the label before them, for keyboard and screen readers.
    if (pendingLabel && w != pendingLabel &&
        (c.kind == res::OptionsControl::Kind::DropDownCombo ||
         c.kind == res::OptionsControl::Kind::Edit)) {
      pendingLabel->setBuddy(w);
      w->setAccessibleName(pendingLabel->text());
      pendingLabel = nullptr;
    }
    QRect r = rect(c);
    if (w->parentWidget() == group_) r.translate(-groupOrigin);
    w->setGeometry(r);
    w->setMinimumSize(r.size().expandedTo(w->minimumSizeHint().boundedTo(r.size())));
  }
  options_->setMinimumSize(int(t->cx * baseX / 4), group_ ? group_->geometry().bottom() + 8 : 0);

  if (auto* grid = qobject_cast<QGridLayout*>(layout()))
    grid->addWidget(options_, grid->rowCount(), 0, 1, grid->columnCount());

  connect(advanced_, &QPushButton::clicked, this, &CSaveDlg::OnAdvanced);
  connect(bits24_, &QRadioButton::clicked, this, [this] { OnDepth(24); });
  connect(bits8_, &QRadioButton::clicked, this, [this] { OnDepth(8); });
  connect(quality_, &QLineEdit::textChanged, this, &CSaveDlg::OnQualityChanged);
  connect(grayBox_, &QCheckBox::clicked, this,
          [this](bool on) { OnFlagClicked(EncodeOptions::kFlagGray, on); });
  connect(transparentBox_, &QCheckBox::clicked, this,
          [this](bool on) { OnFlagClicked(EncodeOptions::kFlagTransparent, on); });
  // After the file dialog's own handling of a type chosen by the user.
  if (auto* types = findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
    connect(types, &QComboBox::activated, this, [this] { OnTypeChange(); });
}

QWidget* CSaveDlg::Control(int id) const {
  switch (id) {
    case res::kIdOk: {
      auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
      if (!box) return nullptr;
      return box->button(acceptMode() == AcceptSave ? QDialogButtonBox::Save
                                                    : QDialogButtonBox::Open);
    }
    case res::kIdCancel: {
      auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
      return box ? box->button(QDialogButtonBox::Cancel) : nullptr;
    }
    case res::kIdcFileTypeList: return findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    case res::kIdcFileNameBox: return findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    case res::kIdcAdvanced: return advanced_;
    case res::kIdcOptionsGroup: return group_;
    default: return options_ ? options_->findChild<QWidget*>(QString::number(id)) : nullptr;
  }
}

void CSaveDlg::SetFilters(const std::vector<std::string>& descriptions,
                          const std::vector<std::string>& patterns) {
  descriptions_ = descriptions;
  patterns_ = patterns;
  QStringList filters;
  for (size_t i = 0; i < descriptions.size() && i < patterns.size(); ++i) {
    QString d = QString::fromStdString(descriptions[i]);
    const QString p = QString::fromStdString(patterns[i]);
    // The file dialog reads the pattern from the parentheses of the description.
    if (!d.contains(QLatin1Char('(') + p + QLatin1Char(')'))) d += " (" + p + ")";
    filters << d;
  }
  setNameFilters(filters);
}

void CSaveDlg::SetOptions(const EncodeOptions* record) {
  if (!record || recordInitialised_) {
    *record_ = default_;
  } else {
    *record_ = *record;
    default_ = *record;
  }
  recordInitialised_ = 1;
}

QString CSaveDlg::GetPathName() const {
  const QStringList files = selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

int CSaveDlg::SelectedFilterIndex() const {
  const int i = static_cast<int>(nameFilters().indexOf(selectedNameFilter()));
  return i < 0 ? 0 : i;
}

QString CSaveDlg::SelectedExtension() const {
  return extensions_.value(SelectedFilterIndex());
}

void CSaveDlg::showEvent(QShowEvent* event) {
  if (!initDone_) {
    initDone_ = true;
    OnInitDone();
  }
  QFileDialog::showEvent(event);
}

void CSaveDlg::OnInitDone() {
  // Into the file dialog's button column, below Cancel.
  if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
    box->addButton(advanced_, QDialogButtonBox::ActionRole);
  advanced_->show();

  paletteCombo_->clear();
  for (int i = 0; i < 4; ++i) paletteCombo_->addItem(Utf8(res::kPaletteQualityItems[i]), i + 1);
  paletteCombo_->setCurrentIndex(0);
  quality_->setMaxLength(3);
  quality_->setText(QStringLiteral("75"));
  ShowOptions(false);
  SetOptions(nullptr);

  extensions_.clear();
  for (const std::string& p : patterns_)
    extensions_ << QString::fromStdString(p.size() >= 3 ? p.substr(p.size() - 3) : p).toUpper();

  // The type that matches the initial name's extension, else the first.
  int filterIndex = 1;
  const QString name = fileName_.trimmed();
  if (!name.isEmpty() && name.contains(QLatin1Char('.'))) {
    const QString ext = name.mid(name.lastIndexOf(QLatin1Char('.')) + 1).left(3).toUpper();
    if (ext.size() == 3) {
      const int i = static_cast<int>(extensions_.indexOf(ext));
      if (i >= 0) filterIndex = i + 1;
    }
  }
  if (filterIndex - 1 < nameFilters().size()) selectNameFilter(nameFilters()[filterIndex - 1]);
  SetExtension(*record_, extensions_.value(filterIndex - 1));
  RefreshFileName();
}

void CSaveDlg::OnTypeChange() {
  SetExtension(*record_, SelectedExtension());
  RefreshFileName();
  OptionsToControls();
}

bool CSaveDlg::OnFileNameOK() {
  ApplyTypeExtension();
  if (expanded_) ControlsToOptions();
  return true;
}

void CSaveDlg::accept() {
  // The buffer takes what the user typed, as a full path.
  auto* nameBox = qobject_cast<QLineEdit*>(Control(res::kIdcFileNameBox));
  const QString typed = nameBox ? nameBox->text().trimmed() : QString();
  if (!typed.isEmpty()) {
    const QString path = typed.startsWith(QLatin1Char('/')) ? typed : directory().absoluteFilePath(typed);
    // A folder (or "..") typed as the name is opened, not saved as a file named after it.
    if (QFileInfo(path).isDir()) {
      setDirectory(QDir::cleanPath(path));
      nameBox->clear();
      return;
    }
    fileName_ = path;
  }
  OnFileNameOK();
  if (nameBox && !typed.isEmpty()) nameBox->setText(fileName_);
  QFileDialog::accept();
}

QString CSaveDlg::ApplyTypeExtension() {
  const int slash = static_cast<int>(fileName_.lastIndexOf(QLatin1Char('/')));
  QString directory = fileName_.left(slash + 1);
  QString name = fileName_.mid(slash + 1);
  // Blanks go from the start of the directory and the end of the name.
  while (!directory.isEmpty() && directory.front().isSpace()) directory.remove(0, 1);
  while (!name.isEmpty() && name.back().isSpace()) name.chop(1);
  if (name.isEmpty()) return name;
  const int dot = static_cast<int>(name.lastIndexOf(QLatin1Char('.')));
  const int cut = dot >= 0 ? dot : static_cast<int>(name.size());
  const QString extension = dot >= 0 ? name.mid(dot + 1, 3).toUpper() : QString();
  const QString wanted = SelectedExtension();
  if (extension.compare(wanted, Qt::CaseInsensitive) != 0) {
    name = name.left(cut) + QLatin1Char('.') + wanted.toLower();
    fileName_ = directory + name;
  }
  return name;
}

void CSaveDlg::RefreshFileName() {
  // A name the user typed keeps its stem and changes its extension. A folder typed before
  // it stays in the box as typed: without it the file would go to the dialog's folder.
  auto* nameBox = qobject_cast<QLineEdit*>(Control(res::kIdcFileNameBox));
  if (!nameBox) return;
  const QString typed = nameBox->text().trimmed();
  if (!typed.isEmpty() && !typed.startsWith(QLatin1Char('/')))
    fileName_ = directory().absoluteFilePath(typed);
  else if (!typed.isEmpty())
    fileName_ = typed;
  const QString folder = typed.left(typed.lastIndexOf(QLatin1Char('/')) + 1);
  nameBox->setText(folder + ApplyTypeExtension());
}

void CSaveDlg::ShowOptions(bool show) {
  const int delta = group_ ? group_->height() + kOptionsMargin : 0;
  advanced_->setText(show ? expandedCaption_ : collapsedCaption_);
  if (!options_ || options_->isHidden() != show) return;
  options_->setVisible(show);
  if (isVisible()) resize(width(), height() + (show ? delta : -delta));
}

void CSaveDlg::OptionsToControls() {
  if (!expanded_) return;
  const uint8_t flags = record_->flags;
  compress_ = (flags & EncodeOptions::kFlagCompress) != 0;
  gray_ = (flags & EncodeOptions::kFlagGray) != 0;
  leftTop_ = (flags & EncodeOptions::kFlagLeftTop) != 0;
  interlace_ = (flags & EncodeOptions::kFlagInterlace) != 0;
  transparent_ = (flags & EncodeOptions::kFlagTransparent) != 0;
  compressBox_->setChecked(compress_);
  grayBox_->setChecked(gray_);
  leftTopBox_->setChecked(leftTop_);
  interlaceBox_->setChecked(interlace_);
  transparentBox_->setChecked(transparent_);

  const QString e = ExtensionOf(*record_);
  const bool gif = e == QLatin1String("GIF");
  quality_->setEnabled(e == QLatin1String("JPG"));
  paletteCombo_->setEnabled(record_->sourceDepth > 8 && !gray_ &&
                            (record_->wantedDepth <= 8 || gif));
  compressBox_->setEnabled(e != QLatin1String("BMP"));
  bits24_->setEnabled(!gif && !gray_);
  const bool eight = record_->wantedDepth < 16 || gif || gray_;
  // Both radios are set explicitly: neither may be left checked with the other.
  bits8_->setAutoExclusive(false);
  bits24_->setAutoExclusive(false);
  bits8_->setChecked(eight);
  bits24_->setChecked(!eight);
  bits8_->setAutoExclusive(true);
  bits24_->setAutoExclusive(true);
  background_->setEnabled(!transparent_);
}

void CSaveDlg::ControlsToOptions() {
  compress_ = compressBox_->isChecked();
  gray_ = grayBox_->isChecked();
  leftTop_ = leftTopBox_->isChecked();
  interlace_ = interlaceBox_->isChecked();
  transparent_ = transparentBox_->isChecked();
  uint8_t flags = record_->flags & ~uint8_t(0x1F);
  if (compress_) flags |= EncodeOptions::kFlagCompress;
  if (gray_) flags |= EncodeOptions::kFlagGray;
  if (leftTop_) flags |= EncodeOptions::kFlagLeftTop;
  if (interlace_) flags |= EncodeOptions::kFlagInterlace;
  if (transparent_) flags |= EncodeOptions::kFlagTransparent;
  record_->flags = flags;

  const QString e = SelectedExtension();
  SetExtension(*record_, e);
  record_->wantedDepth = (bits8_->isChecked() || e == QLatin1String("GIF")) ? 8 : 24;
  if (e == QLatin1String("JPG")) {
    int q = 0;
    // Above 255 does not fit the record's byte: the largest quality the encoder takes.
    record_->jpegQuality = ParseInteger(quality_->text(), q) && q >= 1
                               ? static_cast<uint8_t>(q > 100 ? 100 : q)
                               : 75;
  }
  record_->paletteQuality = static_cast<uint8_t>(paletteCombo_->currentData().toInt());
}

void CSaveDlg::OnAdvanced() {
  expanded_ = !expanded_;
  ShowOptions(expanded_);
  if (expanded_)
    OptionsToControls();
  else
    ControlsToOptions();
}

void CSaveDlg::OnDepth(int wanted) {
  (wanted == 24 ? bits8_ : bits24_)->setChecked(false);
  record_->wantedDepth = static_cast<uint8_t>(wanted);
  OptionsToControls();
}

void CSaveDlg::OnFlagClicked(uint8_t flag, bool checked) {
  if (checked)
    record_->flags |= flag;
  else
    record_->flags &= static_cast<uint8_t>(~flag);
  OptionsToControls();
}

void CSaveDlg::OnQualityChanged(const QString& text) {
  int q = 0;
  if (!text.isEmpty() && !(ParseInteger(text, q) && q >= 1 && q <= 100))
    snapshotui::ShowMessageBox(this, QMessageBox::NoIcon,
                               QString::fromUtf8(res::LoadString(res::kStrAppTitle, 1)),
                               QString::fromLatin1(kQualityMessage));
}
