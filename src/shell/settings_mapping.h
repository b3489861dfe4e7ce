// The fifteen stored values and the controls they mirror, read into the window at start-up and
// written from it at an orderly close, in one fixed order both ways.
#pragma once

#include <QString>
#include <array>

#include "shell/settings_store.h"

class QComboBox;

namespace gateway {

class TMainForm;

// The value names in the order in which they are read and written.
inline const std::array<QString, 15> kSettingNames = {
    QStringLiteral("MainForm.Left"),
    QStringLiteral("MainForm.Top"),
    QStringLiteral("cbPort.ItemIndex"),
    QStringLiteral("sCheck_UseCsdComPort.Checked"),
    QStringLiteral("sComboBox_PortCSD.ItemIndex"),
    QStringLiteral("cbBaudRate.ItemIndex"),
    QStringLiteral("sComboBox_BoudCSD.ItemIndex"),
    QStringLiteral("AdvMaskEdit_IP_ADR.Text"),
    QStringLiteral("AdvEdit_PortServer.Text"),
    QStringLiteral("Edit_TstFaults.Text"),
    QStringLiteral("sCheckHeartEn.Checked"),
    QStringLiteral("sCheckBox_AutoConnect.Checked"),
    QStringLiteral("AdvEditPerHeart.Text"),
    QStringLiteral("AdvEditTextImitPref.Text"),
    QStringLiteral("AdvEditHeartData.Text"),
};

// AdvEditHeartData's text just before its stored value is looked up: 1011, eleven blanks, '@',
// four blanks and '?'.
inline const QString kHeartDataBeforeReading = QStringLiteral("1011           @    ?");

// Applies every stored value, in order, to its control; absent values leave their controls
// alone. Throws SettingsError("Invalid data type for '<name>'") at the first value of the wrong
// type, leaving the values after it unread.
void ReadSettings(SettingsStore& store, TMainForm& form);

// Writes every value, in order, from the controls (AdvEditHeartData gains a final '?', which
// the control shows as well). Throws SettingsError("Failed to set data for '<name>'") at the
// first value that cannot be stored, leaving the values after it unwritten.
void WriteSettings(SettingsStore& store, TMainForm& form);

// Selects entry `index` of `list`; an index outside the list leaves no selection and no text.
void SelectIndex(QComboBox& list, int index);

}  // namespace gateway
