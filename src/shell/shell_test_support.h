// A fixture for window tests: its own settings folder, working folder and port tree, recorded
// dialogs, and a host lookup the test decides.
#pragma once

#include <QSettings>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "fixtures/pty_pair.h"
#include "fixtures/temp_dir.h"
#include "gtest/gtest.h"
#include "shell/main_form.h"
#include "shell/recording_dialogs.h"

QT_BEGIN_NAMESPACE
// Readable QString values in failure messages.
void PrintTo(const QString& text, std::ostream* out);
QT_END_NAMESPACE

namespace gateway {

// Runs pending events until `done` holds or `timeout` passes; returns `done()`.
bool ProcessEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

class ShellTest : public testing::Test {
 protected:
  ShellTest();
  ~ShellTest() override;

  // The environment a form of this test gets.
  ShellEnvironment Environment();
  // A form built (and started up) in this test's environment.
  std::unique_ptr<TMainForm> MakeForm();

  // The settings file of "Zorvan_Server" in this test's folder.
  QString SettingsPath() const;
  // Writes `ini` (the file's lines) as the settings file.
  void WriteSettingsFile(const std::string& ini);
  // Stores values as the program itself would.
  void Store(const QString& name, const QVariant& value);
  std::unique_ptr<QSettings> StoredSettings() const;

  // A port named `name` in the port tree that leads to `pty`.
  void AddPort(const std::string& name, const PtyPair& pty);
  // A port named `name` that no device stands behind.
  void AddDeadPort(const std::string& name);
  void WriteObjectList(const std::string& text);

  RecordingDialogs dialogs_;
  bool host_resolves_ = true;

 private:
  TempDir root_;
  QByteArray previous_config_home_;
  bool had_config_home_ = false;
  std::unique_ptr<ScopedWorkingFolder> working_folder_;
};

}  // namespace gateway
