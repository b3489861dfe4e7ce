// Dialogs for tests: each dialog, beep and folder request is recorded and returns at once.
#pragma once

#include <QString>
#include <functional>
#include <ostream>
#include <vector>

#include "shell/dialogs.h"

namespace gateway {

struct ShownDialog {
  DialogKind kind;
  QString caption;
  QString text;
  friend bool operator==(const ShownDialog&, const ShownDialog&) = default;
};

void PrintTo(const ShownDialog& dialog, std::ostream* out);

// An information dialog ("Information") with `text`.
ShownDialog InformationDialog(const char* text);
// The dialogs of Disconnect: the warning while connections are live, then the last word.
extern const ShownDialog kDisconnectWarningDialog;
extern const ShownDialog kServerDisconnectedDialog;

class RecordingDialogs : public Dialogs {
 public:
  void Show(DialogKind kind, const QString& caption, const QString& text) override;
  void QuestionBeep() override { ++beeps; }
  void OpenSerialDeviceFolder() override { ++folder_requests; }

  // Runs inside each Show, as a modal dialog's own event loop would run events.
  std::function<void()> while_shown;

  std::vector<ShownDialog> shown;
  int beeps = 0;
  int folder_requests = 0;
};

}  // namespace gateway
