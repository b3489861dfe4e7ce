// Where the operator's settings are kept between runs: one INI file per program name, one key
// per value name, opened afresh for every operation.
#pragma once

#include <QString>
#include <QVariant>
#include <optional>
#include <stdexcept>

namespace gateway {

// A stored value of the wrong type, or a value that could not be stored.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Invalid data type for '<name>'".
SettingsError InvalidDataType(const QString& name);
// "Failed to set data for '<name>'".
SettingsError FailedToSetData(const QString& name);

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored value, or nothing when it is absent or the file cannot be read.
  virtual std::optional<QVariant> Value(const QString& name) = 0;
  // Stores the value and makes it durable at once; false when it could not be stored.
  virtual bool SetValue(const QString& name, const QVariant& value) = 0;
};

// The file Qt's native format would use on this system for an organisation named
// `program_name`: $XDG_CONFIG_HOME/<program name>.conf, with ~/.config when the variable is
// unset, empty or not an absolute path. Read from the environment at every call.
QString SettingsFilePath(const QString& program_name);

// An INI file through QSettings; every call opens the file and releases it before returning.
class IniSettingsStore : public SettingsStore {
 public:
  explicit IniSettingsStore(QString path) : path_(std::move(path)) {}
  std::optional<QVariant> Value(const QString& name) override;
  bool SetValue(const QString& name, const QVariant& value) override;

 private:
  QString path_;
};

}  // namespace gateway
