// The program's name, taken from its executable: the window caption, the application title and
// the name of the settings file.
#pragma once

#include <QString>

namespace gateway {

// The file name without its directory; a final extension of four characters that starts with
// '.' is dropped ("/opt/Zorvan_Server.exe" gives "Zorvan_Server"), any other name stays whole.
QString ProgramNameFromPath(const QString& executable_path);

// The running executable's program name (needs the application object).
QString ProgramName();

}  // namespace gateway
