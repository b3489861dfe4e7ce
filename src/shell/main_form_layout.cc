#include "shell/main_form_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

#include "channels/serial_port.h"
#include "shell/main_form.h"
#include "shell/operator_texts.h"
#include "shell/window_look.h"

namespace gateway {
namespace {

const QString kAnyCharacter = QStringLiteral(".");
const QString kDigits = QStringLiteral("[0-9]");
const QString kAddressCharacters = QStringLiteral("[0-9.]");
const QString kHexDigits = QStringLiteral("[0-9A-Fa-f]");
const QString kDeviceManagerHint = QStringLiteral("Press to start divice manager");
const QString kComPortCaption = QStringLiteral("СОМ порт:");

template <typename Control>
Control* Place(QWidget* parent, int x, int y, int width, int height) {
  auto* control = new Control(parent);
  control->setGeometry(x, y, width, height);
  return control;
}

QLabel* Label(QWidget* parent, int x, int y, int width, int height, const QString& text) {
  auto* label = Place<QLabel>(parent, x, y, width, height);
  label->setText(text);
  return label;
}

// Keeps a label whose text the program rewrites while it runs (the start time, the status line)
// at its designed width or wider, as wide as its text: the running texts can be longer than the
// designed ones ("dd.mm.yy" where the designed text has "22.0713") and would lose their end.
class WidensToItsText : public QObject {
 public:
  explicit WidensToItsText(QLabel& label)
      : QObject(&label), label_(label), designed_width_(label.width()) {
    // A new text asks the label's parent for a new layout, once the parent shows; a text set
    // before that is fitted when it shows.
    label.parentWidget()->installEventFilter(this);
  }

  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show) Fit();
    return false;
  }

 private:
  void Fit() {
    const int width = std::max(designed_width_, label_.sizeHint().width());
    if (width != label_.width()) label_.resize(width, label_.height());
  }

  QLabel& label_;
  const int designed_width_;
};

// Shows a hint whose lines are parted by carriage returns, as the hints are written, on lines of
// its own: the tool tip breaks lines only at line feeds and would show one overlong line.
class ShowsHintLines : public QObject {
 public:
  explicit ShowsHintLines(QWidget& control) : QObject(&control), control_(control) {
    control.installEventFilter(this);
  }

  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    QString lines = control_.toolTip();
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), lines, &control_);
    return true;
  }

 private:
  QWidget& control_;
};

// Gives `control` the hint `text`, whose lines are parted by carriage returns.
void SetHintLines(QWidget& control, const QString& text) {
  control.setToolTip(text);
  new ShowsHintLines(control);
}

QPushButton* Button(QWidget* parent, int x, int y, int width, int height, const QString& text) {
  auto* button = Place<QPushButton>(parent, x, y, width, height);
  button->setText(text);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

QCheckBox* CheckBox(QWidget* parent, int x, int y, int width, int height, const QString& text) {
  auto* box = Place<QCheckBox>(parent, x, y, width, height);
  box->setText(text);
  return box;
}

QGroupBox* GroupBox(QWidget* parent, int x, int y, int width, int height, const QString& title) {
  auto* group = Place<QGroupBox>(parent, x, y, width, height);
  group->setTitle(title);
  return group;
}

QLineEdit* Edit(QWidget* parent, int x, int y, int width, int height, const QString& text) {
  auto* edit = Place<QLineEdit>(parent, x, y, width, height);
  edit->setText(text);
  return edit;
}

QLineEdit* CentredEdit(QWidget* parent, int x, int y, int width, int height, const QString& text) {
  QLineEdit* edit = Edit(parent, x, y, width, height, text);
  edit->setAlignment(Qt::AlignCenter);
  return edit;
}

// Drop-down lists are not editable and show a light grey ground.
QComboBox* DropDown(QWidget* parent, int x, int y, int width, int height) {
  auto* list = Place<QComboBox>(parent, x, y, width, height);
  list->setEditable(false);
  QPalette palette = list->palette();
  const QColor kListGrey(0xE4, 0xE4, 0xE4);
  palette.setColor(QPalette::Base, kListGrey);
  palette.setColor(QPalette::Button, kListGrey);
  list->setPalette(palette);
  return list;
}

QComboBox* RateList(QWidget* parent, int x, int y, int width, int height) {
  QComboBox* list = DropDown(parent, x, y, width, height);
  for (int rate : kBaudRates) list->addItem(QString::number(rate));
  return list;
}

}  // namespace

void SetInputRule(QLineEdit& edit, const QString& allowed, int max_length) {
  const QRegularExpression rule(QStringLiteral("%1{0,%2}").arg(allowed).arg(max_length));
  edit.setValidator(new QRegularExpressionValidator(rule, &edit));
}

void BuildMainFormControls(TMainForm& form) {
  form.setFont(WindowFont());

  form.ButtonConnect = Button(&form, 3, 2, 90, 25, QString::fromUtf8(kCaptionConnect));
  form.sCheckBox_Opros = CheckBox(&form, 96, 5, 78, 17, QStringLiteral("Опросить:"));
  form.Edit_Opros = Edit(&form, 170, 3, 45, 21, QString());
  SetInputRule(*form.Edit_Opros, kAnyCharacter, 4);

  form.sLabel2 =
      Label(&form, 26, 43, 211, 13, QStringLiteral("Программа запущена: 22.0713 в 14:53:00"));
  form.sLabel5 = Label(&form, 264, 42, 25, 13, QStringLiteral("V:6.0"));
  form.sLabel1 = Label(&form, 48, 91, 201, 13, QString());
  new WidensToItsText(*form.sLabel2);
  new WidensToItsText(*form.sLabel1);
  form.sLabel3 =
      Label(&form, 40, 106, 219, 13, QStringLiteral("Для изменений настроек нажмите \"Ctrl+E\""));

  form.sGroupBoxTunes =
      GroupBox(&form, 8, 146, 281, 75, QStringLiteral("Порт программы \"Zorvan\""));
  form.LabelComPort = Label(form.sGroupBoxTunes, 14, 37, 53, 13, kComPortCaption);
  form.LabelComPort->setToolTip(kDeviceManagerHint);
  form.cbPort = DropDown(form.sGroupBoxTunes, 71, 31, 81, 21);
  form.cbBaudRate = RateList(form.sGroupBoxTunes, 183, 32, 81, 21);

  form.sGroupBox2 = GroupBox(&form, 8, 226, 281, 75, QStringLiteral("Основной канал IP/GPRS"));
  form.LabelAdrIp = Label(form.sGroupBox2, 11, 38, 34, 13, QStringLiteral("Адрес:"));
  form.AdvMaskEdit_IP_ADR =
      CentredEdit(form.sGroupBox2, 48, 27, 101, 24, QStringLiteral("0.0.0.0"));
  form.AdvMaskEdit_IP_ADR->setToolTip(QStringLiteral("IP адрес"));
  SetInputRule(*form.AdvMaskEdit_IP_ADR, kAddressCharacters, 16);
  form.LabelPort = Label(form.sGroupBox2, 153, 38, 50, 13, QStringLiteral("TCP порт:"));
  form.AdvEdit_PortServer = CentredEdit(form.sGroupBox2, 208, 27, 61, 24, QStringLiteral("5551"));
  form.AdvEdit_PortServer->setToolTip(QStringLiteral("Local TCP port"));
  SetInputRule(*form.AdvEdit_PortServer, kDigits, 5);

  form.sGroupBox1 =
      GroupBox(&form, 8, 306, 281, 75, QStringLiteral("Резервный канал в CSD (скорость 115200)"));
  form.sCheck_UseCsdComPort = CheckBox(form.sGroupBox1, 46, 32, 18, 14, QString());
  form.sCheck_UseCsdComPort->setToolTip(QStringLiteral("Использовать резерв"));
  form.Label1 = Label(form.sGroupBox1, 68, 34, 53, 13, kComPortCaption);
  form.Label1->setToolTip(kDeviceManagerHint);
  form.sComboBox_PortCSD = DropDown(form.sGroupBox1, 127, 31, 81, 21);

  form.sGroupBoxHart =
      GroupBox(&form, 8, 385, 281, 49, QStringLiteral("Тестовые передачи для пультовой программы"));
  form.sGroupBoxHart->setToolTip(
      QStringLiteral("Періодичні передачі тестового повідомлення для пультової програми"));
  form.sCheckHeartEn = CheckBox(form.sGroupBoxHart, 7, 23, 18, 14, QString());
  form.sCheckHeartEn->setToolTip(QStringLiteral("Разрешить тестовую передачу"));
  form.AdvEditPerHeart = CentredEdit(form.sGroupBoxHart, 29, 16, 52, 24, QStringLiteral("11234"));
  form.AdvEditPerHeart->setToolTip(QStringLiteral("Периодичность передачи"));
  SetInputRule(*form.AdvEditPerHeart, kDigits, 5);
  form.sLabelmilisec = Label(form.sGroupBoxHart, 85, 24, 14, 13, QStringLiteral("мс"));

  form.sCheckBox_AutoConnect =
      CheckBox(&form, 15, 439, 175, 17, QStringLiteral("Автоподключение при старте"));
  SetHintLines(*form.sCheckBox_AutoConnect,
               QStringLiteral("Разрешает автопоключение с свертыванием в значок.\r"
                              "Ярлык должен быть отправлен в папку \"Автозагрузка\"."));
  form.ButtonDisconnect = Button(&form, 72, 464, 73, 33, QStringLiteral("Отключить"));
  form.Edit_TstFaults = Edit(&form, 168, 470, 61, 24, QStringLiteral("180"));
  SetHintLines(*form.Edit_TstFaults,
               QStringLiteral("Максимальное время через которое должен придти тест с объекта.\r"
                              "Нужно указать три цифры."));
  SetInputRule(*form.Edit_TstFaults, kDigits, 5);
  form.Edit_TstFaults->hide();

  form.TextTerminal = Place<QPlainTextEdit>(&form, 312, 8, 225, 345);
  form.TextTerminal->setLineWrapMode(QPlainTextEdit::NoWrap);
  form.TextTerminal->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  form.TextTerminal->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  form.TextTerminal->setPlainText(QStringLiteral("TextTerminal"));
  form.Memo_Events = Place<QPlainTextEdit>(&form, 312, 8, 313, 425);
  form.Memo_Events->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  form.Memo_Events->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  form.AdvEditTextImitPref = Edit(&form, 368, 359, 57, 24, QStringLiteral("5010 18"));
  form.AdvEditTextImitPref->setToolTip(QStringLiteral("5010 18"));
  form.sComboBox_BoudCSD = RateList(&form, 471, 376, 81, 21);
  form.AdvEditHeartData = Edit(&form, 360, 416, 81, 24, QString());
  form.AdvEditHeartData->setToolTip(QStringLiteral("Данные"));

  form.sGroupBoxImmit = GroupBox(&form, 336, 494, 281, 49,
                                 QStringLiteral("Проверка передачи сообщения через СОМ-порт"));
  form.Imit_Obj =
      CentredEdit(form.sGroupBoxImmit, 12, 18, 205, 24, QStringLiteral("1E06021A00015214"));
  form.Imit_Obj->setToolTip(QStringLiteral("Объект"));
  SetInputRule(*form.Imit_Obj, kHexDigits, 100);
  form.sButtonSendImmitation = Button(form.sGroupBoxImmit, 244, 17, 29, 24, QStringLiteral("->"));
  form.sButtonSendImmitation->setToolTip(QStringLiteral("Передать сообщение"));

  form.TimerSaveHistory = new QTimer(&form);
  form.TimerSaveHistory->setInterval(1000);
  form.TimerSaveHistory->start();
  form.TimerHeartbeat = new QTimer(&form);
  form.TimerHeartbeat->setInterval(3000);
  form.TimerHeartbeat->start();
}

}  // namespace gateway
