// The texts the operator reads in the dialogs of start-up, Connect, Disconnect and the close,
// and the captions the Connect button switches between (UTF-8).
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

}  // namespace gateway
