// Failures of the serial ports, carrying the text the operator sees.
#pragma once

#include <stdexcept>

namespace gateway {

class PortError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A read or write that failed because the line has hung up: the device has gone (an unplugged
// adapter, the far side of a pseudo-terminal closed) and the port will never work again.
class LineHungUp : public PortError {
 public:
  using PortError::PortError;
};

inline constexpr char kErrPortMissing[] = "Попытка открыть несуществующий COM-порт";
inline constexpr char kErrPortBusy[] = "Порт занят другой программой";
inline constexpr char kErrSetupComm[] = "Ошибка функции SetupComm";
inline constexpr char kErrSetCommState[] = "Ошибка функции SetCommState";
inline constexpr char kErrSetCommTimeouts[] = "Ошибка функции SetCommTimeouts";
inline constexpr char kErrWrite[] = "Ошибка записи в порт";
inline constexpr char kErrRead[] = "Ошибка чтения из порта";
inline constexpr char kErrRenameOpen[] = "Нельзя менять свойство, пока порт открыт";
inline constexpr char kErrEscapeCommFunction[] = "Ошибка функции EscapeCommFunction";
inline constexpr char kErrPurgeComm[] = "Ошибка функции PurgeComm";
inline constexpr char kErrClearCommError[] = "Ошибка функции ClearCommError";
inline constexpr char kErrPortList[] = "Ошибка обращения к системному реестру";

}  // namespace gateway
