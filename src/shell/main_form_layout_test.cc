#include "shell/main_form_layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <map>
#include <set>

#include "shell/shell_test_support.h"
#include "shell/window_look.h"

namespace gateway {
namespace {

using LayoutTest = ShellTest;

enum class Kind { kButton, kCheckBox, kEdit, kLabel, kGroupBox, kDropDown, kMemo };

struct ControlCase {
  const char* name;
  Kind kind;
  const char* parent;  // nullptr: the window's client area
  QRect geometry;
  const char* text;
  const char* hint;
};

QString TextOf(QWidget* control, Kind kind) {
  switch (kind) {
    case Kind::kButton:
      return static_cast<QPushButton*>(control)->text();
    case Kind::kCheckBox:
      return static_cast<QCheckBox*>(control)->text();
    case Kind::kEdit:
      return static_cast<QLineEdit*>(control)->text();
    case Kind::kLabel:
      return static_cast<QLabel*>(control)->text();
    case Kind::kGroupBox:
      return static_cast<QGroupBox*>(control)->title();
    case Kind::kDropDown:
      return static_cast<QComboBox*>(control)->currentText();
    case Kind::kMemo:
      return static_cast<QPlainTextEdit*>(control)->toPlainText();
  }
  return {};
}

bool IsOfKind(QWidget* control, Kind kind) {
  switch (kind) {
    case Kind::kButton:
      return qobject_cast<QPushButton*>(control) != nullptr;
    case Kind::kCheckBox:
      return qobject_cast<QCheckBox*>(control) != nullptr;
    case Kind::kEdit:
      return qobject_cast<QLineEdit*>(control) != nullptr;
    case Kind::kLabel:
      return qobject_cast<QLabel*>(control) != nullptr;
    case Kind::kGroupBox:
      return qobject_cast<QGroupBox*>(control) != nullptr;
    case Kind::kDropDown:
      return qobject_cast<QComboBox*>(control) != nullptr;
    case Kind::kMemo:
      return qobject_cast<QPlainTextEdit*>(control) != nullptr;
  }
  return false;
}

// The designed window; texts as they stand after a start-up whose host lookup fails, which
// changes none of them.
const ControlCase kControls[] = {
    {"ButtonConnect", Kind::kButton, nullptr, {3, 2, 90, 25}, "Подключить", ""},
    {"sCheckBox_Opros", Kind::kCheckBox, nullptr, {96, 5, 78, 17}, "Опросить:", ""},
    {"Edit_Opros", Kind::kEdit, nullptr, {170, 3, 45, 21}, "", ""},
    {"sLabel2",
     Kind::kLabel,
     nullptr,
     {26, 43, 211, 13},
     "Программа запущена: 22.0713 в 14:53:00",
     ""},
    {"sLabel5", Kind::kLabel, nullptr, {264, 42, 25, 13}, "V:6.0", ""},
    {"sLabel1", Kind::kLabel, nullptr, {48, 91, 201, 13}, "", ""},
    {"sLabel3",
     Kind::kLabel,
     nullptr,
     {40, 106, 219, 13},
     "Для изменений настроек нажмите \"Ctrl+E\"",
     ""},
    {"sGroupBoxTunes",
     Kind::kGroupBox,
     nullptr,
     {8, 146, 281, 75},
     "Порт программы \"Zorvan\"",
     ""},
    {"LabelComPort",
     Kind::kLabel,
     "sGroupBoxTunes",
     {14, 37, 53, 13},
     "СОМ порт:",
     "Press to start divice manager"},
    {"cbPort", Kind::kDropDown, "sGroupBoxTunes", {71, 31, 81, 21}, "", ""},
    {"cbBaudRate", Kind::kDropDown, "sGroupBoxTunes", {183, 32, 81, 21}, "9600", ""},
    {"sGroupBox2", Kind::kGroupBox, nullptr, {8, 226, 281, 75}, "Основной канал IP/GPRS", ""},
    {"LabelAdrIp", Kind::kLabel, "sGroupBox2", {11, 38, 34, 13}, "Адрес:", ""},
    {"AdvMaskEdit_IP_ADR", Kind::kEdit, "sGroupBox2", {48, 27, 101, 24}, "0.0.0.0", "IP адрес"},
    {"LabelPort", Kind::kLabel, "sGroupBox2", {153, 38, 50, 13}, "TCP порт:", ""},
    {"AdvEdit_PortServer", Kind::kEdit, "sGroupBox2", {208, 27, 61, 24}, "5551", "Local TCP port"},
    {"sGroupBox1",
     Kind::kGroupBox,
     nullptr,
     {8, 306, 281, 75},
     "Резервный канал в CSD (скорость 115200)",
     ""},
    {"sCheck_UseCsdComPort",
     Kind::kCheckBox,
     "sGroupBox1",
     {46, 32, 18, 14},
     "",
     "Использовать резерв"},
    {"Label1",
     Kind::kLabel,
     "sGroupBox1",
     {68, 34, 53, 13},
     "СОМ порт:",
     "Press to start divice manager"},
    {"sComboBox_PortCSD", Kind::kDropDown, "sGroupBox1", {127, 31, 81, 21}, "", ""},
    {"sGroupBoxHart",
     Kind::kGroupBox,
     nullptr,
     {8, 385, 281, 49},
     "Тестовые передачи для пультовой программы",
     "Періодичні передачі тестового повідомлення для пультової програми"},
    {"sCheckHeartEn",
     Kind::kCheckBox,
     "sGroupBoxHart",
     {7, 23, 18, 14},
     "",
     "Разрешить тестовую передачу"},
    {"AdvEditPerHeart",
     Kind::kEdit,
     "sGroupBoxHart",
     {29, 16, 52, 24},
     "11234",
     "Периодичность передачи"},
    {"sLabelmilisec", Kind::kLabel, "sGroupBoxHart", {85, 24, 14, 13}, "мс", ""},
    {"sCheckBox_AutoConnect",
     Kind::kCheckBox,
     nullptr,
     {15, 439, 175, 17},
     "Автоподключение при старте",
     "Разрешает автопоключение с свертыванием в значок.\rЯрлык должен быть отправлен в папку "
     "\"Автозагрузка\"."},
    {"ButtonDisconnect", Kind::kButton, nullptr, {72, 464, 73, 33}, "Отключить", ""},
    {"Edit_TstFaults",
     Kind::kEdit,
     nullptr,
     {168, 470, 61, 24},
     "180",
     "Максимальное время через которое должен придти тест с объекта.\rНужно указать три цифры."},
    {"TextTerminal", Kind::kMemo, nullptr, {312, 8, 225, 345}, "TextTerminal", ""},
    {"Memo_Events", Kind::kMemo, nullptr, {312, 8, 313, 425}, "", ""},
    {"AdvEditTextImitPref", Kind::kEdit, nullptr, {368, 359, 57, 24}, "5010 18", "5010 18"},
    {"sComboBox_BoudCSD", Kind::kDropDown, nullptr, {471, 376, 81, 21}, "115200", ""},
    {"AdvEditHeartData",
     Kind::kEdit,
     nullptr,
     {360, 416, 81, 24},
     "1011           @    ",
     "Данные"},
    {"sGroupBoxImmit",
     Kind::kGroupBox,
     nullptr,
     {336, 494, 281, 49},
     "Проверка передачи сообщения через СОМ-порт",
     ""},
    {"Imit_Obj", Kind::kEdit, "sGroupBoxImmit", {12, 18, 205, 24}, "1E06021A00015214", "Объект"},
    {"sButtonSendImmitation",
     Kind::kButton,
     "sGroupBoxImmit",
     {244, 17, 29, 24},
     "->",
     "Передать сообщение"},
};

// The controls by name, as the form's members.
std::map<std::string, QWidget*> ControlsOf(TMainForm& f) {
  return {
      {"ButtonConnect", f.ButtonConnect},
      {"sCheckBox_Opros", f.sCheckBox_Opros},
      {"Edit_Opros", f.Edit_Opros},
      {"sLabel2", f.sLabel2},
      {"sLabel5", f.sLabel5},
      {"sLabel1", f.sLabel1},
      {"sLabel3", f.sLabel3},
      {"sGroupBoxTunes", f.sGroupBoxTunes},
      {"LabelComPort", f.LabelComPort},
      {"cbPort", f.cbPort},
      {"cbBaudRate", f.cbBaudRate},
      {"sGroupBox2", f.sGroupBox2},
      {"LabelAdrIp", f.LabelAdrIp},
      {"AdvMaskEdit_IP_ADR", f.AdvMaskEdit_IP_ADR},
      {"LabelPort", f.LabelPort},
      {"AdvEdit_PortServer", f.AdvEdit_PortServer},
      {"sGroupBox1", f.sGroupBox1},
      {"sCheck_UseCsdComPort", f.sCheck_UseCsdComPort},
      {"Label1", f.Label1},
      {"sComboBox_PortCSD", f.sComboBox_PortCSD},
      {"sGroupBoxHart", f.sGroupBoxHart},
      {"sCheckHeartEn", f.sCheckHeartEn},
      {"AdvEditPerHeart", f.AdvEditPerHeart},
      {"sLabelmilisec", f.sLabelmilisec},
      {"sCheckBox_AutoConnect", f.sCheckBox_AutoConnect},
      {"ButtonDisconnect", f.ButtonDisconnect},
      {"Edit_TstFaults", f.Edit_TstFaults},
      {"TextTerminal", f.TextTerminal},
      {"Memo_Events", f.Memo_Events},
      {"AdvEditTextImitPref", f.AdvEditTextImitPref},
      {"sComboBox_BoudCSD", f.sComboBox_BoudCSD},
      {"AdvEditHeartData", f.AdvEditHeartData},
      {"sGroupBoxImmit", f.sGroupBoxImmit},
      {"Imit_Obj", f.Imit_Obj},
      {"sButtonSendImmitation", f.sButtonSendImmitation},
  };
}

TEST_F(LayoutTest, EveryControlHasItsKindPlaceSizeTextAndHint) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  std::map<std::string, QWidget*> controls = ControlsOf(*form);
  ASSERT_EQ(controls.size(), std::size(kControls));
  for (const ControlCase& c : kControls) {
    SCOPED_TRACE(c.name);
    QWidget* control = controls.at(c.name);
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(IsOfKind(control, c.kind));
    QWidget* parent = c.parent == nullptr ? form.get() : controls.at(c.parent);
    EXPECT_EQ(control->parentWidget(), parent);
    EXPECT_EQ(control->geometry(), c.geometry);
    EXPECT_EQ(TextOf(control, c.kind), QString::fromUtf8(c.text));
    EXPECT_EQ(control->toolTip(), QString::fromUtf8(c.hint));
  }
}

TEST_F(LayoutTest, ButtonsShowTheHandAndListsAreNotEditable) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  for (QPushButton* button :
       {form->ButtonConnect, form->ButtonDisconnect, form->sButtonSendImmitation}) {
    EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor) << button->text().toStdString();
  }
  for (QComboBox* list :
       {form->cbPort, form->cbBaudRate, form->sComboBox_PortCSD, form->sComboBox_BoudCSD}) {
    EXPECT_FALSE(list->isEditable());
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(0xE4, 0xE4, 0xE4));
  }
  const QStringList kRates = {"110",   "300",   "600",    "1200",   "2400",
                              "4800",  "9600",  "14400",  "19200",  "38400",
                              "56000", "57600", "115200", "128000", "256000"};
  for (QComboBox* list : {form->cbBaudRate, form->sComboBox_BoudCSD}) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    EXPECT_EQ(items, kRates);
  }
  for (QLineEdit* edit : {form->AdvMaskEdit_IP_ADR, form->AdvEdit_PortServer, form->AdvEditPerHeart,
                          form->Imit_Obj}) {
    EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  }
  EXPECT_EQ(form->Edit_Opros->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  EXPECT_EQ(form->TextTerminal->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form->TextTerminal->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form->Memo_Events->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(form->Memo_Events->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form->font().pointSize(), 8);
  EXPECT_EQ(form->palette().color(QPalette::Window), QColor(0xF0, 0xF0, 0xF0));
  EXPECT_EQ(form->TimerSaveHistory->interval(), 1000);
  EXPECT_TRUE(form->TimerSaveHistory->isActive());
  EXPECT_EQ(form->TimerHeartbeat->interval(), 3000);
  EXPECT_TRUE(form->TimerHeartbeat->isActive());
}

TEST_F(LayoutTest, EditsTakeOnlyTheirCharactersUpToTheirLength) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  const struct {
    QLineEdit* edit;
    const char* typed;
    const char* kept;
  } kCases[] = {
      {form->Edit_Opros, "0427x", "0427"},
      {form->AdvMaskEdit_IP_ADR, "192.168.1.x10 ", "192.168.1.10"},
      {form->AdvMaskEdit_IP_ADR, "12345678901234567890", "1234567890123456"},
      {form->AdvEdit_PortServer, "5a5-5.1", "5551"},
      {form->AdvEdit_PortServer, "6553599", "65535"},
      {form->AdvEditPerHeart, "1 2 3 4 5 6", "12345"},
      {form->Edit_TstFaults, "18O0", "180"},
      {form->Imit_Obj, "1e06zG02", "1e0602"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.typed);
    c.edit->clear();
    c.edit->setFocus();
    QTest::keyClicks(c.edit, QString::fromUtf8(c.typed));
    EXPECT_EQ(c.edit->text(), QString::fromUtf8(c.kept));
  }
  form->Imit_Obj->clear();
  QTest::keyClicks(form->Imit_Obj, QString(120, QLatin1Char('A')));
  EXPECT_EQ(form->Imit_Obj->text().size(), 100);
}

// Whether any part of `control` lies inside the window's client area.
bool ShowsInClientArea(const TMainForm& form, const QWidget* control) {
  if (!control->isVisibleTo(&form)) return false;
  const QRect in_form(control->mapTo(&form, QPoint(0, 0)), control->size());
  return in_form.intersects(form.rect());
}

TEST_F(LayoutTest, StartShowsTheTopRowAloneAndCtrlERevealsTheSettingsArea) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(form->size(), QSize(219, 32));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // not sizable
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::FramelessWindowHint));
  const std::set<std::string> kTopRow = {"ButtonConnect", "sCheckBox_Opros", "Edit_Opros"};
  const std::set<std::string> kBeyondTheEdge = {
      "TextTerminal",      "Memo_Events",          "AdvEditTextImitPref",
      "sComboBox_BoudCSD", "AdvEditHeartData",     "sGroupBoxImmit",
      "Imit_Obj",          "sButtonSendImmitation"};
  for (const auto& [name, control] : ControlsOf(*form)) {
    EXPECT_EQ(ShowsInClientArea(*form, control), kTopRow.count(name) == 1) << name;
  }

  QTest::keyClick(form.get(), Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(form->frameGeometry().size(), QSize(314, 540));
  for (const auto& [name, control] : ControlsOf(*form)) {
    // Group members show through their groups; the hidden edit never shows.
    const bool expected = kBeyondTheEdge.count(name) == 0 && name != "Edit_TstFaults";
    EXPECT_EQ(ShowsInClientArea(*form, control), expected) << name;
  }
  for (const std::string& name : kBeyondTheEdge) {
    EXPECT_GE(ControlsOf(*form).at(name)->mapTo(form.get(), QPoint(0, 0)).x(), 312) << name;
  }
}

TEST_F(LayoutTest, ControlsBeyondTheEdgeStayInTheFocusOrder) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  std::set<QWidget*> chain;
  QWidget* widget = form.get();
  for (int step = 0; step < 500; ++step) {
    widget = widget->nextInFocusChain();
    if (widget == form.get()) break;
    if (widget->focusPolicy() & Qt::TabFocus) chain.insert(widget);
  }
  for (QWidget* control :
       {static_cast<QWidget*>(form->TextTerminal), static_cast<QWidget*>(form->Memo_Events),
        static_cast<QWidget*>(form->AdvEditTextImitPref),
        static_cast<QWidget*>(form->sComboBox_BoudCSD),
        static_cast<QWidget*>(form->AdvEditHeartData), static_cast<QWidget*>(form->Imit_Obj)}) {
    EXPECT_EQ(chain.count(control), 1u) << control->metaObject()->className();
  }
}

// The pixels that `text` inks when drawn in `font`, left-aligned and centred in a box `height`
// pixels high as labels and check boxes draw it; x from the text's start, y from the box's top.
QRect InkOf(const QFont& font, const QString& text, int height) {
  constexpr int kAbove = 10;
  QImage image(800, height + 2 * kAbove, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(0, kAbove, image.width(), height), Qt::AlignLeft | Qt::AlignVCenter, text);
  painter.end();
  QRect ink;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      // Ink is what is at least half dark: the faint edge of antialiased text may be cut.
      if (qGray(image.pixel(x, y)) < 128) ink |= QRect(x, y - kAbove, 1, 1);
    }
  }
  return ink;
}

// Where `control` stops showing: its right edge, or the left edge of a sibling drawn over it.
int VisibleRight(const QWidget* control) {
  int right = control->geometry().right();
  const QObjectList& siblings = control->parentWidget()->children();
  for (auto later = siblings.begin() + siblings.indexOf(control) + 1; later != siblings.end();
       ++later) {
    const auto* sibling = qobject_cast<const QWidget*>(*later);
    if (sibling == nullptr || sibling->isHidden()) continue;
    if (sibling->geometry().intersects(control->geometry()) && sibling->x() > control->x()) {
      right = std::min(right, sibling->x() - 1);
    }
  }
  return right;
}

// The designed controls were sized for a narrow 8-point face; in a wider one the labels lose
// their ends ("СОМ порт:" becomes "СОМ порт") and a caption runs under the edit beside it.
TEST_F(LayoutTest, EveryTextShowsWholeInTheWindowFace) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  const QString face = QFontInfo(form->font()).family();
  ASSERT_TRUE(std::any_of(std::begin(kWindowFaces), std::end(kWindowFaces),
                          [&](const char* wanted) { return face == QLatin1String(wanted); }))
      << "the window shows in " << face.toStdString()
      << ": none of its faces is installed (Debian: fonts-liberation2)";

  std::map<std::string, QWidget*> controls = ControlsOf(*form);
  for (const ControlCase& c : kControls) {
    const QString text = QString::fromUtf8(c.text);
    if (text.isEmpty() || c.kind == Kind::kEdit || c.kind == Kind::kDropDown ||
        c.kind == Kind::kMemo) {
      continue;
    }
    SCOPED_TRACE(c.name);
    QWidget* control = controls.at(c.name);
    const QRect room(QPoint(0, 0),
                     QPoint(VisibleRight(control) - control->x(), control->height() - 1));
    switch (c.kind) {
      case Kind::kLabel: {
        const QRect ink = InkOf(control->font(), text, control->height());
        EXPECT_TRUE(room.contains(ink))
            << "ink " << ink.left() << ".." << ink.right() << " x " << ink.top() << ".."
            << ink.bottom() << " in " << room.right() << " x " << room.bottom();
        break;
      }
      case Kind::kCheckBox: {
        QStyleOptionButton option;
        option.initFrom(control);
        const QRect contents =
            control->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, control);
        const QRect ink =
            InkOf(control->font(), text, control->height()).translated(contents.x(), 0);
        EXPECT_TRUE(room.contains(ink)) << ink.right() << " past " << room.right();
        break;
      }
      case Kind::kButton: {
        const int margin = control->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control);
        const QStringList captions = c.name == std::string("ButtonConnect")
                                         ? QStringList{text, QStringLiteral("Подключено!")}
                                         : QStringList{text};
        for (const QString& caption : captions) {
          const QRect ink = InkOf(control->font(), caption, control->height());
          EXPECT_LE(ink.width() + 2 * margin, control->width()) << caption.toStdString();
          EXPECT_LE(ink.height(), control->height()) << caption.toStdString();
        }
        break;
      }
      case Kind::kGroupBox: {
        QStyleOptionGroupBox option;
        option.initFrom(control);
        option.text = text;
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect caption = control->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, control);
        const QRect ink = InkOf(control->font(), text, caption.height());
        EXPECT_LT(caption.x() + ink.right(), control->width() - 2) << "runs into the frame";
        EXPECT_GE(ink.top(), 0);
        break;
      }
      default:
        break;
    }
  }
}

// The group frame's top line runs through the middle of the caption, so the controls placed just
// below the caption sit inside the frame; a frame drawn under the caption would cut through them.
TEST_F(LayoutTest, GroupFramesPassAboveTheControlsInThem) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  const QColor kBackground = form->palette().color(QPalette::Window);
  for (QGroupBox* group :
       {form->sGroupBoxTunes, form->sGroupBox2, form->sGroupBox1, form->sGroupBoxHart}) {
    SCOPED_TRACE(group->title().toStdString());
    QImage image(group->size(), QImage::Format_RGB32);
    group->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    // Right of the caption, just inside the frame's right edge, the first row off the background
    // is the frame's top line.
    const int column = group->width() - 5;
    int frame_top = -1;
    for (int y = 0; y < image.height() && frame_top < 0; ++y) {
      if (image.pixelColor(column, y) != kBackground) frame_top = y;
    }
    ASSERT_GE(frame_top, 0);
    EXPECT_LE(frame_top, group->fontMetrics().height() / 2 + 1);
    for (QWidget* member : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      EXPECT_GT(member->y(), frame_top + 1)
          << member->metaObject()->className() << " at " << member->x() << "," << member->y();
    }
  }
}

// A start time or status line longer than the designed text widens its label rather than losing
// its end; the label never gets narrower than designed.
TEST_F(LayoutTest, RunningTextsWidenTheirLabelsButNeverNarrowThem) {
  std::unique_ptr<TMainForm> form = MakeForm();  // the host resolves: the start time is stamped
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const auto shows_whole = [](QLabel* label) {
    const QRect ink = InkOf(label->font(), label->text(), label->height());
    return ink.isNull() || QRect(QPoint(0, 0), label->size()).contains(ink);
  };
  EXPECT_TRUE(ProcessEventsUntil([&] { return shows_whole(form->sLabel2); }))
      << form->sLabel2->text().toStdString() << " in " << form->sLabel2->width();
  EXPECT_GE(form->sLabel2->width(), 211);

  form->TimerSaveHistory->stop();  // its tick writes its own status line

  const struct {
    const char* text;
    bool wider_than_designed;
  } kStatusLines[] = {
      {"ttyUSB10, 192.168.100.200, 65535, соединений: 150", true},
      {"ttyS0, 0.0.0.0, 5551, соединений: 0", false},
      {"ttyUSB10, 192.168.100.200, 65535, соединений: 150", true},
      {"", false},
  };
  for (const auto& line : kStatusLines) {
    SCOPED_TRACE(line.text);
    form->sLabel1->setText(QString::fromUtf8(line.text));
    EXPECT_TRUE(ProcessEventsUntil([&] {
      return shows_whole(form->sLabel1) &&
             (form->sLabel1->width() > 201) == line.wider_than_designed &&
             form->sLabel1->width() >= 201;
    })) << form->sLabel1->width();
    EXPECT_EQ(form->sLabel1->geometry().topLeft(), QPoint(48, 91));
    EXPECT_EQ(form->sLabel1->height(), 13);
  }
}

// The two-line hints keep their carriage return as written, and show as two lines.
TEST_F(LayoutTest, TwoLineHintsShowOnTwoLines) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  for (QWidget* control : {static_cast<QWidget*>(form->sCheckBox_AutoConnect),
                           static_cast<QWidget*>(form->Edit_TstFaults)}) {
    const QStringList lines = control->toolTip().split(QLatin1Char('\r'));
    ASSERT_EQ(lines.size(), 2) << control->toolTip().toStdString();
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), control->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(control, &hover);
    EXPECT_EQ(QToolTip::text(), lines.join(QLatin1Char('\n')));
    QToolTip::hideText();
  }
}

}  // namespace
}  // namespace gateway
