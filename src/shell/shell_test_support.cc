#include "shell/shell_test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>

#include "shell/settings_store.h"

QT_BEGIN_NAMESPACE
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace gateway {
namespace fs = std::filesystem;

ShellTest::ShellTest() {
  had_config_home_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
  previous_config_home_ = qgetenv("XDG_CONFIG_HOME");
  fs::create_directories(root_ / "config");
  fs::create_directories(root_ / "work");
  fs::create_directories(root_ / "sys");
  fs::create_directories(root_ / "dev");
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((root_ / "config").string()));
  working_folder_ = std::make_unique<ScopedWorkingFolder>(root_ / "work");
}

ShellTest::~ShellTest() {
  working_folder_.reset();
  if (had_config_home_) {
    qputenv("XDG_CONFIG_HOME", previous_config_home_);
  } else {
    qunsetenv("XDG_CONFIG_HOME");
  }
}

ShellEnvironment ShellTest::Environment() {
  ShellEnvironment environment = MachineEnvironment(QStringLiteral("Zorvan_Server"));
  environment.port_list_roots.sys_class_tty = (root_ / "sys").string();
  environment.port_list_roots.dev = (root_ / "dev").string();
  environment.device_root = (root_ / "dev").string() + "/";
  environment.local_host_resolves = [this] { return host_resolves_; };
  return environment;
}

std::unique_ptr<TMainForm> ShellTest::MakeForm() {
  return std::make_unique<TMainForm>(dialogs_, Environment());
}

QString ShellTest::SettingsPath() const {
  return QString::fromStdString((root_ / "config" / "Zorvan_Server.conf").string());
}

void ShellTest::WriteSettingsFile(const std::string& ini) {
  const std::string path = SettingsPath().toStdString();
  std::ofstream(path) << ini;
  // QSettings keeps each file it has read for the life of the process and reads it again only
  // when its size or its time has changed: a rewrite of the same size within the same
  // millisecond would go unseen without a time of its own.
  static int rewrites = 0;
  fs::last_write_time(path, fs::file_time_type::clock::now() + std::chrono::seconds(++rewrites));
}

void ShellTest::Store(const QString& name, const QVariant& value) {
  ASSERT_TRUE(IniSettingsStore(SettingsPath()).SetValue(name, value));
}

std::unique_ptr<QSettings> ShellTest::StoredSettings() const {
  return std::make_unique<QSettings>(SettingsPath(), QSettings::IniFormat);
}

void ShellTest::AddPort(const std::string& name, const PtyPair& pty) {
  fs::create_symlink(pty.SlavePath(), root_ / "dev" / name);
}

void ShellTest::AddDeadPort(const std::string& name) {
  fs::create_symlink("/dev/pts/999999", root_ / "dev" / name);
}

void ShellTest::WriteObjectList(const std::string& text) {
  std::ofstream(root_ / "work" / "Zorvan_Server.txt", std::ios::binary) << text;
}

bool ProcessEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < timeout.count()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

}  // namespace gateway
