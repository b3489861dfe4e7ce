#include "shell/settings_store.h"

#include <QDir>
#include <QSettings>

namespace gateway {

SettingsError InvalidDataType(const QString& name) {
  return SettingsError(QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
}

SettingsError FailedToSetData(const QString& name) {
  return SettingsError(QStringLiteral("Failed to set data for '%1'").arg(name).toStdString());
}

QString SettingsFilePath(const QString& program_name) {
  QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (folder.isEmpty() || QDir::isRelativePath(folder)) {
    folder = QDir::homePath() + QStringLiteral("/.config");
  }
  return folder + QLatin1Char('/') + program_name + QStringLiteral(".conf");
}

std::optional<QVariant> IniSettingsStore::Value(const QString& name) {
  QSettings settings(path_, QSettings::IniFormat);
  if (!settings.contains(name)) return std::nullopt;
  return settings.value(name);
}

bool IniSettingsStore::SetValue(const QString& name, const QVariant& value) {
  QSettings settings(path_, QSettings::IniFormat);
  settings.setValue(name, value);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace gateway
