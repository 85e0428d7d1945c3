// CSaveDlg: the snapshot window's file-save dialog. A Qt file dialog (the non-native one,
// so that it can be extended) with an options area below it: depth, Gray, Interlace,
// Transparent, Compress, Left_Top, palette quality, JPEG quality and a background button.
// The area is hidden until the advanced button is pressed.
//
// The dialog keeps the file type list in step with the file name and produces the 10-byte
// EncodeOptions record that the export path attaches to the bitmap. The record lives as long
// as the dialog; callers copy what they need after it returns.
//
// Controls are addressed by the identifiers of resources/save_options_template.h, including
// the file dialog's own OK (1), Cancel (2), file type list (1136) and file name box (1152).
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/encode_options.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CSaveDlg : public QFileDialog {
  Q_OBJECT
public:
  // Flags the callers pass (the rest of the platform's set is not used here).
  static constexpr int kOverwritePrompt = 0x00000002;
  static constexpr int kHideReadOnly = 0x00000004;

  CSaveDlg(bool openFileDialog, const QString& defaultExt, const QString& fileName, int flags,
           const QString& filter, QWidget* parent);
  ~CSaveDlg() override;

  // The file types: one (description, pattern) pair each, in the order offered.
  void SetFilters(const std::vector<std::string>& descriptions,
                  const std::vector<std::string>& patterns);
  int CustomFilterCount() const { return static_cast<int>(patterns_.size()); }

  // Runs the dialog (or the test hook); QDialog::Accepted or Rejected.
  int DoModal();
  using ModalHook = std::function<int(CSaveDlg&)>;
  static void SetModalHookForTesting(ModalHook hook);

  // With no record, or once the record has been given its first contents, the record takes
  // the defaults; otherwise the record and the defaults both take `record`.
  void SetOptions(const EncodeOptions* record);
  const EncodeOptions& Record() const { return *record_; }
  // The full path the user confirmed.
  QString GetPathName() const;
  // The name the file name buffer holds (directory and name).
  const QString& FileNameBuffer() const { return fileName_; }
  bool Expanded() const { return expanded_ != 0; }
  QWidget* Control(int id) const;

  // Notifications of the file dialog.
  void OnInitDone();
  void OnTypeChange();
  bool OnFileNameOK();

  // The buffer's name with the selected type's extension; the buffer is rewritten when the
  // extension had to change. Returns the name without its directory.
  QString ApplyTypeExtension();
  void RefreshFileName();
  void ShowOptions(bool show);
  void OptionsToControls();
  void ControlsToOptions();

  static constexpr const char* kQualityMessage = "Please Input Integer from 1 to 100.";

  // OK: a typed folder name (or "..") opens that folder; any other name takes the type's
  // extension and the options are read, then the file dialog checks and closes.
  void accept() override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void BuildOptionsArea(int templateId);
  void OnAdvanced();
  void OnDepth(int wanted);
  void OnFlagClicked(uint8_t flag, bool checked);
  void OnQualityChanged(const QString& text);
  QString SelectedExtension() const;
  int SelectedFilterIndex() const;

  std::unique_ptr<EncodeOptions> record_;
  EncodeOptions default_;
  QString collapsedCaption_;
  QString expandedCaption_;
  std::vector<std::string> descriptions_;
  std::vector<std::string> patterns_;
  QStringList extensions_;  // upper case, one per filter
  QString fileName_;        // the file name buffer
  int expanded_ = 0;
  int recordInitialised_ = 0;
  bool initDone_ = false;
  // Check box states.
  int compress_ = 1, gray_ = 0, interlace_ = 0, leftTop_ = 1, transparent_ = 0;

  QWidget* options_ = nullptr;
  QGroupBox* group_ = nullptr;
  QPushButton* advanced_ = nullptr;
  QPushButton* background_ = nullptr;
  QRadioButton* bits8_ = nullptr;
  QRadioButton* bits24_ = nullptr;
  QCheckBox* grayBox_ = nullptr;
  QCheckBox* interlaceBox_ = nullptr;
  QCheckBox* transparentBox_ = nullptr;
  QCheckBox* compressBox_ = nullptr;
  QCheckBox* leftTopBox_ = nullptr;
  QComboBox* paletteCombo_ = nullptr;
  QLineEdit* quality_ = nullptr;
};
