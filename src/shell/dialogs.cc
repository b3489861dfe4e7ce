#include "shell/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace gateway {
namespace {

QMessageBox::Icon IconOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::kWarning:
      return QMessageBox::Warning;
    case DialogKind::kInformation:
      return QMessageBox::Information;
    case DialogKind::kError:
      return QMessageBox::Critical;
    case DialogKind::kPlain:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void QtDialogs::Show(DialogKind kind, const QString& caption, const QString& text) {
  QMessageBox box(IconOf(kind), caption, text, QMessageBox::Ok);
  box.exec();
}

void QtDialogs::QuestionBeep() { QApplication::beep(); }

void QtDialogs::OpenSerialDeviceFolder() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(SerialDeviceFolder()));
}

QString SerialDeviceFolder() {
  const QString by_id = QStringLiteral("/dev/serial/by-id");
  return QFileInfo(by_id).isDir() ? by_id : QStringLiteral("/dev");
}

}  // namespace gateway
