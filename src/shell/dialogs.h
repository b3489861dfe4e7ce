// Every modal dialog, the question beep and the serial device folder go through Dialogs, so
// that tests can record what the operator would have seen instead of showing it.
#pragma once

#include <QString>

namespace gateway {

enum class DialogKind { kWarning, kInformation, kPlain, kError };

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // The application title: the caption of plain message boxes and of the error report.
  void SetApplicationTitle(const QString& title) { application_title_ = title; }
  const QString& ApplicationTitle() const { return application_title_; }

  // Warning icon, caption "Warning", one OK button; returns once dismissed.
  void Warning(const QString& text) { Show(DialogKind::kWarning, QStringLiteral("Warning"), text); }
  // Information icon, caption "Information", one OK button.
  void Information(const QString& text) {
    Show(DialogKind::kInformation, QStringLiteral("Information"), text);
  }
  // No icon, captioned with the application title, one OK button.
  void Message(const QString& text) { Show(DialogKind::kPlain, application_title_, text); }
  // The report of a failure that escaped a handler: error icon, the application title.
  void ErrorReport(const QString& text) { Show(DialogKind::kError, application_title_, text); }

  // A modal box with one OK button; returns once it is dismissed.
  virtual void Show(DialogKind kind, const QString& caption, const QString& text) = 0;
  // The system's question sound.
  virtual void QuestionBeep() = 0;
  // Asks the desktop to open the folder of serial devices; a failure is ignored.
  virtual void OpenSerialDeviceFolder() = 0;

 private:
  QString application_title_;
};

// The real dialogs: modal QMessageBox (which pumps events while open), QApplication::beep and
// the desktop's file manager.
class QtDialogs : public Dialogs {
 public:
  void Show(DialogKind kind, const QString& caption, const QString& text) override;
  void QuestionBeep() override;
  void OpenSerialDeviceFolder() override;
};

// "/dev/serial/by-id" when it exists, else "/dev".
QString SerialDeviceFolder();

}  // namespace gateway
