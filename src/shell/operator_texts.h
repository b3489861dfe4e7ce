// The texts the operator reads in the dialogs of start-up, Connect, Disconnect, the close and
// the poll request, and the captions the Connect button switches between (UTF-8).
#pragma once

namespace gateway {

inline constexpr char kCaptionConnect[] = "Подключить";
inline constexpr char kCaptionConnected[] = "Подключено!";
inline constexpr char kDisconnectTakesTime[] =
    "Отключение может занять некоторое время!\r\n(завист от количества соединений)";
inline constexpr char kServerDisconnected[] = "Сервер отключен!";
inline constexpr char kDisconnectFirst[] = "Сначало отключите сервер!";
inline constexpr char kObjectListMissing[] =
    "Увага! Не знайдено файл [Zorvan_Server.txt], який повинен знаходитися в папці з .ехе "
    "файлом!";
inline constexpr char kStartedPrefix[] = "Программа запущена: ";
inline constexpr char kStartedAt[] = " в ";
inline constexpr char kHeartDataAtStart[] = "1E010124";
// The poll request: armed (the prefix, the 4 characters, the suffix), or refused.
inline constexpr char kPollArmedPrefix[] = "При виході на зв`язок по GPRS об`єкту: ";
inline constexpr char kPollArmedSuffix[] = ", буде проведено його опитування";
inline constexpr char kPollNeedsFourCharacters[] = "Номер об`єкту повинен бути 4-х значним!";

}  // namespace gateway
