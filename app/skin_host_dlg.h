// CSkinHostDlg: the hidden dialog (template 109) that hosts the skin control. The application
// makes it at start-up, never shows it, and takes the skin interface from it; without that
// interface the program does not start.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

class CSkinEngine;

class CSkinHostDlg : public QDialog {
  Q_OBJECT
 public:
  using EngineFactory = std::function<std::unique_ptr<CSkinEngine>()>;

  CSkinHostDlg();
  ~CSkinHostDlg() override;

  // Builds the dialog and its skin control (child 1023). False when the control cannot start.
  bool Create();
  // The control's skin interface (nullptr before Create or when it failed).
  CSkinEngine* SkinInterface() const { return m_engine.get(); }

  // Tests replace how the control is made; an empty factory restores the real one.
  static void SetEngineFactoryForTesting(EngineFactory factory);

 private:
  std::unique_ptr<CSkinEngine> m_engine;
};
