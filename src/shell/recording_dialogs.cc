#include "shell/recording_dialogs.h"

namespace gateway {

void PrintTo(const ShownDialog& dialog, std::ostream* out) {
  static constexpr const char* kKinds[] = {"warning", "information", "plain", "error"};
  *out << kKinds[static_cast<int>(dialog.kind)] << " \"" << dialog.caption.toStdString() << "\": \""
       << dialog.text.toStdString() << "\"";
}

void RecordingDialogs::Show(DialogKind kind, const QString& caption, const QString& text) {
  shown.push_back({kind, caption, text});
  if (while_shown) while_shown();
}

}  // namespace gateway
