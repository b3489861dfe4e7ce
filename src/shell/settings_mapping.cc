#include "shell/settings_mapping.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaType>
#include <QRegularExpression>
#include <limits>
#include <optional>

#include "shell/main_form.h"

namespace gateway {
namespace {

const QString& NameAt(int number) { return kSettingNames.at(static_cast<std::size_t>(number - 1)); }

// Integers are taken strictly: an optional '-' and decimal digits that fit 32 bits, or a number
// the file already holds as one.
std::optional<int> ReadInteger(SettingsStore& store, const QString& name) {
  const std::optional<QVariant> value = store.Value(name);
  if (!value) return std::nullopt;
  switch (value->typeId()) {
    case QMetaType::QString: {
      static const QRegularExpression kInteger(QStringLiteral("^-?[0-9]+$"));
      const QString text = value->toString();
      bool ok = false;
      const int number = text.toInt(&ok);
      if (!kInteger.match(text).hasMatch() || !ok) throw InvalidDataType(name);
      return number;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
      bool ok = false;
      const qlonglong number = value->toLongLong(&ok);
      if (!ok || number < std::numeric_limits<int>::min() ||
          number > std::numeric_limits<int>::max()) {
        throw InvalidDataType(name);
      }
      return static_cast<int>(number);
    }
    default:
      throw InvalidDataType(name);
  }
}

// A text is a single string; a list (unquoted commas in the file) or any other type is not.
std::optional<QString> ReadText(SettingsStore& store, const QString& name) {
  const std::optional<QVariant> value = store.Value(name);
  if (!value) return std::nullopt;
  if (value->typeId() != QMetaType::QString) throw InvalidDataType(name);
  return value->toString();
}

void ReadIndex(SettingsStore& store, int number, QComboBox& list) {
  if (const std::optional<int> index = ReadInteger(store, NameAt(number)))
    SelectIndex(list, *index);
}

void ReadCheck(SettingsStore& store, int number, QCheckBox& box) {
  if (const std::optional<int> check = ReadInteger(store, NameAt(number)))
    box.setChecked(*check != 0);
}

void ReadEditText(SettingsStore& store, int number, QLineEdit& edit) {
  if (const std::optional<QString> text = ReadText(store, NameAt(number))) edit.setText(*text);
}

// The numeric fields show an empty stored text as "0".
void ReadNumericText(SettingsStore& store, int number, QLineEdit& edit) {
  if (const std::optional<QString> text = ReadText(store, NameAt(number))) {
    edit.setText(text->isEmpty() ? QStringLiteral("0") : *text);
  }
}

class Writer {
 public:
  explicit Writer(SettingsStore& store) : store_(store) {}
  void Write(int number, const QVariant& value) {
    if (!store_.SetValue(NameAt(number), value)) throw FailedToSetData(NameAt(number));
  }
  void WriteIndex(int number, const QComboBox& list) { Write(number, list.currentIndex()); }
  void WriteCheck(int number, const QCheckBox& box) { Write(number, box.isChecked() ? 1 : 0); }
  void WriteText(int number, const QLineEdit& edit) { Write(number, edit.text()); }

 private:
  SettingsStore& store_;
};

}  // namespace

void SelectIndex(QComboBox& list, int index) {
  list.setCurrentIndex(index >= 0 && index < list.count() ? index : -1);
}

void ReadSettings(SettingsStore& store, TMainForm& form) {
  if (const std::optional<int> left = ReadInteger(store, NameAt(1))) form.move(*left, form.y());
  if (const std::optional<int> top = ReadInteger(store, NameAt(2))) form.move(form.x(), *top);
  ReadIndex(store, 3, *form.cbPort);
  ReadCheck(store, 4, *form.sCheck_UseCsdComPort);
  ReadIndex(store, 5, *form.sComboBox_PortCSD);
  ReadIndex(store, 6, *form.cbBaudRate);
  ReadIndex(store, 7, *form.sComboBox_BoudCSD);
  ReadEditText(store, 8, *form.AdvMaskEdit_IP_ADR);
  ReadNumericText(store, 9, *form.AdvEdit_PortServer);
  ReadNumericText(store, 10, *form.Edit_TstFaults);
  ReadCheck(store, 11, *form.sCheckHeartEn);
  ReadCheck(store, 12, *form.sCheckBox_AutoConnect);
  ReadNumericText(store, 13, *form.AdvEditPerHeart);
  ReadEditText(store, 14, *form.AdvEditTextImitPref);
  form.AdvEditHeartData->setText(kHeartDataBeforeReading);
  ReadEditText(store, 15, *form.AdvEditHeartData);
  QString heart_data = form.AdvEditHeartData->text();
  if (heart_data.endsWith(QLatin1Char('?'))) {
    heart_data.chop(1);
    form.AdvEditHeartData->setText(heart_data);
  }
}

void WriteSettings(SettingsStore& store, TMainForm& form) {
  Writer writer(store);
  writer.Write(1, form.x());
  writer.Write(2, form.y());
  writer.WriteIndex(3, *form.cbPort);
  writer.WriteCheck(4, *form.sCheck_UseCsdComPort);
  writer.WriteIndex(5, *form.sComboBox_PortCSD);
  writer.WriteIndex(6, *form.cbBaudRate);
  writer.WriteIndex(7, *form.sComboBox_BoudCSD);
  writer.WriteText(8, *form.AdvMaskEdit_IP_ADR);
  writer.WriteText(9, *form.AdvEdit_PortServer);
  writer.WriteText(10, *form.Edit_TstFaults);
  writer.WriteCheck(11, *form.sCheckHeartEn);
  writer.WriteCheck(12, *form.sCheckBox_AutoConnect);
  writer.WriteText(13, *form.AdvEditPerHeart);
  writer.WriteText(14, *form.AdvEditTextImitPref);
  form.AdvEditHeartData->setText(form.AdvEditHeartData->text() + QLatin1Char('?'));
  writer.WriteText(15, *form.AdvEditHeartData);
}

}  // namespace gateway
