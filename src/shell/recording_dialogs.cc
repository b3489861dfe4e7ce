#include "shell/recording_dialogs.h"

namespace gateway {

void PrintTo(const ShownDialog& dialog, std::ostream* out) {
  static constexpr const char* kKinds[] = {"warning", "information", "plain", "error"};
  *out << kKinds[static_cast<int>(dialog.kind)] << " \"" << dialog.caption.toStdString() << "\": \""
       << dialog.text.toStdString() << "\"";
}

ShownDialog InformationDialog(const char* text) {
  return {DialogKind::kInformation, QStringLiteral("Information"), QString::fromUtf8(text)};
}

const ShownDialog kDisconnectWarningDialog = {
    DialogKind::kWarning, QStringLiteral("Warning"),
    QStringLiteral(
        "Отключение может занять некоторое время!\r\n(завист от количества соединений)")};
const ShownDialog kServerDisconnectedDialog = InformationDialog("Сервер отключен!");

void RecordingDialogs::Show(DialogKind kind, const QString& caption, const QString& text) {
  shown.push_back({kind, caption, text});
  if (while_shown) while_shown();
}

}  // namespace gateway
