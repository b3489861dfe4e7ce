#include "shell/program_name.h"

#include <QCoreApplication>

namespace gateway {

QString ProgramNameFromPath(const QString& executable_path) {
  QString name = executable_path.mid(executable_path.lastIndexOf(QLatin1Char('/')) + 1);
  constexpr int kExtensionLength = 4;
  if (name.size() > kExtensionLength &&
      name.at(name.size() - kExtensionLength) == QLatin1Char('.')) {
    name.chop(kExtensionLength);
  }
  return name;
}

QString ProgramName() { return ProgramNameFromPath(QCoreApplication::applicationFilePath()); }

}  // namespace gateway
