#include "shell/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <thread>

#include "fixtures/loopback_client.h"
#include "shell/shell_test_support.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;

const QString kProgram = QStringLiteral("Zorvan_Server");

class MainFormTest : public ShellTest {
 protected:
  // Two virtual ports: the reserve line is the first, the console the second (the default
  // index 1). The server listens on a port the system picks.
  void AddTwoPorts() {
    AddPort("ttyV0", reserve_);
    AddPort("ttyV1", console_);
    Store("AdvEdit_PortServer.Text", QStringLiteral("0"));
    WriteObjectList("");
  }

  std::unique_ptr<TMainForm> ConnectedForm() {
    AddTwoPorts();
    Store("sCheckBox_AutoConnect.Checked", 1);
    std::unique_ptr<TMainForm> form = MakeForm();
    EXPECT_TRUE(form->Connected());
    dialogs_.shown.clear();
    dialogs_.beeps = 0;
    return form;
  }

  static void ExpectNotConnectedControls(const TMainForm& form) {
    EXPECT_FALSE(form.Connected());
    EXPECT_TRUE(form.ButtonConnect->isEnabled());
    EXPECT_EQ(form.ButtonConnect->text(), QStringLiteral("Подключить"));
    EXPECT_FALSE(form.ButtonDisconnect->isEnabled());
    for (QWidget* control :
         {static_cast<QWidget*>(form.cbPort), static_cast<QWidget*>(form.sComboBox_PortCSD),
          static_cast<QWidget*>(form.cbBaudRate), static_cast<QWidget*>(form.sComboBox_BoudCSD),
          static_cast<QWidget*>(form.AdvEdit_PortServer),
          static_cast<QWidget*>(form.AdvMaskEdit_IP_ADR)}) {
      EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
    }
    EXPECT_FALSE(form.sButtonSendImmitation->isEnabled());
  }

  static void ExpectConnectedControls(const TMainForm& form) {
    EXPECT_TRUE(form.Connected());
    EXPECT_FALSE(form.ButtonConnect->isEnabled());
    EXPECT_EQ(form.ButtonConnect->text(), QStringLiteral("Подключено!"));
    EXPECT_TRUE(form.ButtonDisconnect->isEnabled());
    for (QWidget* control :
         {static_cast<QWidget*>(form.cbPort), static_cast<QWidget*>(form.sComboBox_PortCSD),
          static_cast<QWidget*>(form.cbBaudRate), static_cast<QWidget*>(form.sComboBox_BoudCSD),
          static_cast<QWidget*>(form.AdvEdit_PortServer),
          static_cast<QWidget*>(form.AdvMaskEdit_IP_ADR)}) {
      EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();
    }
    EXPECT_TRUE(form.sButtonSendImmitation->isEnabled());
    // Everything else stays operable while connected.
    for (QWidget* control :
         {static_cast<QWidget*>(form.sCheck_UseCsdComPort),
          static_cast<QWidget*>(form.sCheckHeartEn), static_cast<QWidget*>(form.AdvEditPerHeart),
          static_cast<QWidget*>(form.sCheckBox_Opros), static_cast<QWidget*>(form.Edit_Opros),
          static_cast<QWidget*>(form.Imit_Obj)}) {
      EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
    }
  }

  PtyPair reserve_;
  PtyPair console_;
};

TEST_F(MainFormTest, StartUpThatCannotResolveTheHostEndsAfterDisablingTheButtons) {
  WriteObjectList(":1234            03C\n");
  AddTwoPorts();
  Store("sCheckBox_AutoConnect.Checked", 1);
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_EQ(form->windowTitle(), kProgram);
  EXPECT_EQ(dialogs_.ApplicationTitle(), kProgram);
  EXPECT_FALSE(form->ButtonDisconnect->isEnabled());
  EXPECT_FALSE(form->sButtonSendImmitation->isEnabled());
  EXPECT_EQ(form->sLabel2->text(), QStringLiteral("Программа запущена: 22.0713 в 14:53:00"));
  EXPECT_EQ(form->TextTerminal->toPlainText(), QStringLiteral("TextTerminal"));
  EXPECT_EQ(form->Objects().RecordCount(), 0u);
  EXPECT_FALSE(form->Connected());
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_EQ(dialogs_.beeps, 0);
}

TEST_F(MainFormTest, ResolvingStartUpStampsTheStartAndLoadsTheObjectList) {
  const std::string kList = "Objects\n:1234            03C\n:0427            180\n";
  WriteObjectList(kList);
  const QDate before = QDate::currentDate();
  std::unique_ptr<TMainForm> form = MakeForm();
  const QDate after = QDate::currentDate();
  EXPECT_TRUE(dialogs_.shown.empty());
  const QRegularExpression kStamp(
      QStringLiteral("^Программа запущена: (\\d\\d\\.\\d\\d\\.\\d\\d) в \\d\\d:\\d\\d:\\d\\d$"));
  const QRegularExpressionMatch stamp = kStamp.match(form->sLabel2->text());
  ASSERT_TRUE(stamp.hasMatch()) << form->sLabel2->text().toStdString();
  EXPECT_TRUE(stamp.captured(1) == before.toString("dd.MM.yy") ||
              stamp.captured(1) == after.toString("dd.MM.yy"));
  EXPECT_EQ(form->AdvEditHeartData->text(), QStringLiteral("1E010124"));
  EXPECT_TRUE(form->sCheckHeartEn->isChecked());
  EXPECT_EQ(form->TextTerminal->toPlainText(), QString::fromStdString(kList));
  ASSERT_EQ(form->Objects().RecordCount(), 2u);
  EXPECT_EQ(form->Objects().Text(),
            "1234000000"
            "03C"
            "0427000000"
            "180");
  EXPECT_FALSE(form->Connected());
}

TEST_F(MainFormTest, MissingObjectListBeepsAndSaysSoOnce) {
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_EQ(dialogs_.beeps, 1);
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0],
            (ShownDialog{DialogKind::kPlain, kProgram,
                         QStringLiteral("Увага! Не знайдено файл [Zorvan_Server.txt], який повинен "
                                        "знаходитися в папці з .ехе файлом!")}));
  EXPECT_EQ(form->TextTerminal->toPlainText(), QStringLiteral("TextTerminal"));
  EXPECT_EQ(form->Objects().RecordCount(), 0u);
}

TEST_F(MainFormTest, UnreadablePortListEndsTheStartUpWithTheReport) {
  ShellEnvironment environment = Environment();
  environment.port_list_roots.dev = "/nonexistent/dev";
  TMainForm form(dialogs_, std::move(environment));
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0],
            (ShownDialog{DialogKind::kError, kProgram,
                         QStringLiteral("Ошибка обращения к системному реестру")}));
  EXPECT_EQ(form.windowTitle(), kProgram);
  EXPECT_TRUE(form.ButtonDisconnect->isEnabled());  // step 6 never came
}

TEST_F(MainFormTest, AutomaticConnectOpensThePortAndTheWindowFirstShowsConnected) {
  AddTwoPorts();
  Store("sCheckBox_AutoConnect.Checked", 1);
  Store("cbBaudRate.ItemIndex", 12);
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_EQ(dialogs_.beeps, 1);
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_TRUE(form->BComPort_Zorvan.IsOpen());
  EXPECT_EQ(form->BComPort_Zorvan.PortName(), "ttyV1");
  EXPECT_EQ(form->BComPort_Zorvan.BaudRate(), 12);
  EXPECT_FALSE(form->BComPort_CSD.IsOpen());  // the reserve box is unchecked
  EXPECT_TRUE(form->IdTCPServer1.Active());
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  ExpectConnectedControls(*form);

  // The server listens where the settings say.
  EXPECT_NO_THROW(LoopbackClient client(form->IdTCPServer1.LocalPort()));
}

TEST_F(MainFormTest, ConnectOpensTheReserveLineOnlyWhenItIsChosen) {
  AddTwoPorts();
  Store("sCheck_UseCsdComPort.Checked", 1);
  Store("sComboBox_PortCSD.ItemIndex", 0);
  Store("sComboBox_BoudCSD.ItemIndex", 0);
  std::unique_ptr<TMainForm> form = MakeForm();
  form->ButtonConnect->click();
  ExpectConnectedControls(*form);
  EXPECT_TRUE(form->BComPort_CSD.IsOpen());
  EXPECT_EQ(form->BComPort_CSD.PortName(), "ttyV0");
  EXPECT_EQ(form->BComPort_CSD.BaudRate(), 12);  // 115200, whatever the stored list says

  // Unchecked while connected: Disconnect leaves the reserve line open ...
  form->sCheck_UseCsdComPort->setChecked(false);
  form->ButtonDisconnect->click();
  EXPECT_TRUE(form->BComPort_CSD.IsOpen());
  // ... until the close query closes it whatever the box says.
  ASSERT_TRUE(form->close());
  EXPECT_FALSE(form->BComPort_CSD.IsOpen());
}

TEST_F(MainFormTest, ConnectFailingLeavesTheProgramNotConnected) {
  AddTwoPorts();
  SerialPort other_program(Environment().device_root);
  other_program.SetPortName("ttyV1");
  ASSERT_TRUE(other_program.Open());
  std::unique_ptr<TMainForm> form = MakeForm();
  dialogs_.shown.clear();
  form->ButtonConnect->click();
  EXPECT_EQ(dialogs_.beeps, 1);
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0], (ShownDialog{DialogKind::kError, kProgram,
                                            QStringLiteral("Порт занят другой программой")}));
  ExpectNotConnectedControls(*form);
  EXPECT_FALSE(form->IdTCPServer1.Active());

  // Once the port is free the next Connect runs from its start and succeeds.
  other_program.Close();
  form->ButtonConnect->click();
  ExpectConnectedControls(*form);
}

TEST_F(MainFormTest, APortTextThatIsNoNumberFailsConnectAfterTheConsolePortOpened) {
  AddTwoPorts();
  std::unique_ptr<TMainForm> form = MakeForm();
  dialogs_.shown.clear();
  form->AdvEdit_PortServer->setText(QString());
  form->ButtonConnect->click();
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].kind, DialogKind::kError);
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("'' is not a valid integer value"));
  EXPECT_TRUE(form->BComPort_Zorvan.IsOpen());
  EXPECT_FALSE(form->IdTCPServer1.Active());
  ExpectNotConnectedControls(*form);

  form->AdvEdit_PortServer->setText(QStringLiteral("0"));
  form->ButtonConnect->click();
  ExpectConnectedControls(*form);
}

TEST_F(MainFormTest, OnAMachineWithOnePortConnectFindsNoPortToOpen) {
  AddPort("ttyV0", console_);
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_EQ(form->cbPort->currentText(), QString());
  dialogs_.shown.clear();
  form->ButtonConnect->click();
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("Попытка открыть несуществующий COM-порт"));
  ExpectNotConnectedControls(*form);
}

TEST_F(MainFormTest, DisconnectWithoutLiveConnectionsOnlyReportsTheServerOff) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  form->ButtonDisconnect->click();
  EXPECT_EQ(dialogs_.shown, std::vector<ShownDialog>{kServerDisconnectedDialog});
  ExpectNotConnectedControls(*form);
  EXPECT_FALSE(form->BComPort_Zorvan.IsOpen());
  EXPECT_FALSE(form->IdTCPServer1.Active());
}

TEST_F(MainFormTest, DisconnectWithLiveConnectionsWarnsThenCutsThemAll) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  LoopbackClient first(form->IdTCPServer1.LocalPort());
  LoopbackClient second(form->IdTCPServer1.LocalPort());
  first.Send("hello");
  ASSERT_TRUE(ProcessEventsUntil([&] { return form->IdTCPServer1.ConnectionCount() == 2; }));
  form->State().ConnectionCount = 2;

  form->ButtonDisconnect->click();
  EXPECT_EQ(dialogs_.shown,
            (std::vector<ShownDialog>{kDisconnectWarningDialog, kServerDisconnectedDialog}));
  EXPECT_TRUE(first.WaitClosed(2s));
  EXPECT_TRUE(second.WaitClosed(2s));
  EXPECT_FALSE(form->IdTCPServer1.Active());
  ExpectNotConnectedControls(*form);
}

TEST_F(MainFormTest, CloseIsRefusedWhileConnected) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  std::filesystem::remove(SettingsPath().toStdString());
  form->show();
  EXPECT_FALSE(form->close());
  const std::vector<ShownDialog> kRefusal = {
      {DialogKind::kPlain, kProgram, QStringLiteral("Сначало отключите сервер!")}};
  EXPECT_EQ(dialogs_.shown, kRefusal);
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->BComPort_Zorvan.IsOpen());
  EXPECT_TRUE(form->IdTCPServer1.Active());
  EXPECT_FALSE(std::filesystem::exists(SettingsPath().toStdString()));

  form->ButtonDisconnect->click();
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(std::filesystem::exists(SettingsPath().toStdString()));
}

TEST_F(MainFormTest, KeyCommandsResizeTheWindowByItsFrame) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QSize start_frame = form->frameGeometry().size();
  const QPoint start_position = form->pos();

  QTest::keyClick(form.get(), Qt::Key_E);
  EXPECT_EQ(form->frameGeometry().size(), start_frame);
  QTest::keyClick(form.get(), Qt::Key_E, Qt::ShiftModifier | Qt::AltModifier);
  EXPECT_EQ(form->frameGeometry().size(), start_frame);

  QTest::keyClick(form->Edit_Opros, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(form->frameGeometry().size(), QSize(314, 540));
  EXPECT_EQ(form->pos(), start_position);

  // From the small window: the bare strip, then the border back at 62 high, width unchanged.
  form->setFixedSize(219, 32);
  QTest::keyClick(form.get(), Qt::Key_J, Qt::ControlModifier);
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::FramelessWindowHint));
  // Without a border the window is its client area (the test platform still reports a frame).
  EXPECT_EQ(form->size(), QSize(start_frame.width(), 30));
  QTest::keyClick(form.get(), Qt::Key_J, Qt::ControlModifier);
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(form->frameGeometry().size(), QSize(start_frame.width(), 62));
  EXPECT_TRUE(form->isVisible());
}

// Ctrl and a Cyrillic letter, as the keyboard delivers them (QTest knows only Latin keys).
void PressCyrillic(QWidget* receiver, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier, text);
  QApplication::sendEvent(receiver, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::ControlModifier, text);
  QApplication::sendEvent(receiver, &release);
}

TEST_F(MainFormTest, KeyCommandsActOnceWhateverControlHasTheFocusAndAnyLayout) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  // A check box inside a group ignores Ctrl+J, which then goes on to the group and the window:
  // still one toggle.
  QTest::keyClick(form->sCheck_UseCsdComPort, Qt::Key_J, Qt::ControlModifier);
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::FramelessWindowHint));
  // О on the J key and У on the E key of a Cyrillic layout.
  PressCyrillic(form->ButtonConnect, 0x041E, QStringLiteral("о"));
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::FramelessWindowHint));
  PressCyrillic(form->TextTerminal, 0x0423, QStringLiteral("у"));
  EXPECT_EQ(form->frameGeometry().size(), QSize(314, 540));
}

TEST_F(MainFormTest, KeysGoOnToTheControlTheyWereFor) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  struct KeyCounter : QObject {
    std::vector<int> keys;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::KeyPress) keys.push_back(static_cast<QKeyEvent*>(event)->key());
      return false;
    }
  } edit_sees;
  form->Edit_Opros->installEventFilter(&edit_sees);
  QTest::keyClick(form->Edit_Opros, Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(form->frameGeometry().size(), QSize(314, 540));
  QTest::keyClicks(form->Edit_Opros, QStringLiteral("12"));
  EXPECT_EQ(edit_sees.keys, (std::vector<int>{Qt::Key_Control, Qt::Key_E, Qt::Key_1, Qt::Key_2}));
  EXPECT_EQ(form->Edit_Opros->text(), QStringLiteral("12"));
}

TEST_F(MainFormTest, TestFrameSendsTheHexBytesAndTheirChecksum) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  const struct {
    const char* text;
    std::vector<std::uint8_t> sent;
  } kCases[] = {
      {"1E06021A00015214", {0x1E, 0x06, 0x02, 0x1A, 0x00, 0x01, 0x52, 0x14, 0x7D}},
      {"1e06021a00015214", {0x1E, 0x06, 0x02, 0x1A, 0x00, 0x01, 0x52, 0x14, 0x7D}},
      {"", {0x00}},
      {"1G06", {}},  // a bad pair: nothing at all goes out
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    form->Imit_Obj->setText(QString::fromUtf8(c.text));
    form->sButtonSendImmitation->click();
    EXPECT_EQ(console_.ReadFor(100ms), c.sent);
  }
  // The console's reply is read and has no visible effect.
  console_.Write(std::vector<std::uint8_t>{1, 2, 3, 4});
  form->Imit_Obj->setText(QStringLiteral("1E06021A00015214"));
  form->sButtonSendImmitation->click();
  EXPECT_EQ(console_.ReadFor(100ms).size(), 9u);
  EXPECT_TRUE(dialogs_.shown.empty());
  ExpectConnectedControls(*form);

  form->ButtonDisconnect->click();
  EXPECT_FALSE(form->sButtonSendImmitation->isEnabled());
  form->sButtonSendImmitation->click();
  EXPECT_TRUE(console_.ReadFor(100ms).empty());
}

TEST_F(MainFormTest, ConsoleWriteFailureFromAConnectionThreadIsHandledOnceOnTheMainThread) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  std::vector<bool> on_main_thread;
  dialogs_.while_shown = [&] {
    on_main_thread.push_back(QThread::currentThread() == qApp->thread());
  };

  std::thread connection_thread([&] { form->RequestConsoleWriteFailureHandling(); });
  connection_thread.join();
  EXPECT_TRUE(form->Connected());  // queued, not run on the requesting thread

  ASSERT_TRUE(ProcessEventsUntil([&] { return !form->Connected(); }));
  ProcessEventsUntil([] { return false; }, 200ms);
  EXPECT_EQ(dialogs_.shown, std::vector<ShownDialog>{kServerDisconnectedDialog});
  EXPECT_EQ(on_main_thread, std::vector<bool>{true});
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->BComPort_Zorvan.IsOpen());
  EXPECT_FALSE(form->IdTCPServer1.Active());
  ExpectNotConnectedControls(*form);

  // The window stays an ordinary one, also through the border toggle.
  QTest::keyClick(form.get(), Qt::Key_J, Qt::ControlModifier);
  QTest::keyClick(form.get(), Qt::Key_J, Qt::ControlModifier);
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainFormTest, ConsoleWriteFailureWithLiveConnectionsWarnsLikeTheOperatorsDisconnect) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  form->State().ConnectionCount = 3;
  form->HandleConsoleWriteFailure();
  ASSERT_EQ(dialogs_.shown.size(), 2u);
  EXPECT_EQ(dialogs_.shown[0].kind, DialogKind::kWarning);
  EXPECT_EQ(dialogs_.shown[1], kServerDisconnectedDialog);
  // Also when not connected: Disconnect runs whether or not its button is enabled.
  form->State().ConnectionCount = 0;
  form->HandleConsoleWriteFailure();
  EXPECT_EQ(dialogs_.shown.size(), 3u);
}

TEST_F(MainFormTest, RepaintShowsTheWindowWithoutFeedingItself) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_FALSE(form->isVisible());
  form->FormPaint();
  EXPECT_TRUE(form->isVisible());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));

  int paints = 0;
  struct PaintCounter : QObject {
    int* count;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++*count;
      return false;
    }
  } counter;
  counter.count = &paints;
  form->installEventFilter(&counter);
  form->update();
  ProcessEventsUntil([] { return false; }, 300ms);
  EXPECT_GE(paints, 1);
  EXPECT_LE(paints, 3);
  form->removeEventFilter(&counter);
}

TEST_F(MainFormTest, ActivationMakesTheSupervisionTickComeAtOnce) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_EQ(form->TimerSaveHistory->interval(), 1000);
  form->show();
  const QString designed_status = form->sLabel1->text();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  // Activation asks for a tick in 1 ms; that tick may already have run and put the second
  // back, writing the status line as it did.
  const bool ticked = form->sLabel1->text() != designed_status;
  EXPECT_EQ(form->TimerSaveHistory->interval(), ticked ? 1000 : 1);
  EXPECT_TRUE(ProcessEventsUntil([&] { return form->sLabel1->text() != designed_status; }));
  EXPECT_EQ(form->TimerSaveHistory->interval(), 1000);
}

TEST_F(MainFormTest, BothPortLabelsOpenTheDeviceFolder) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  form->show();
  QTest::mouseClick(form->LabelComPort, Qt::LeftButton);
  EXPECT_EQ(dialogs_.folder_requests, 1);
  QTest::mouseClick(form->Label1, Qt::LeftButton);
  EXPECT_EQ(dialogs_.folder_requests, 2);
  QTest::mouseClick(form->LabelAdrIp, Qt::LeftButton);
  QTest::mouseClick(form->LabelComPort, Qt::RightButton);
  EXPECT_EQ(dialogs_.folder_requests, 2);
}

TEST_F(MainFormTest, MovingCloseToAScreenEdgeSnapsOntoIt) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  form->move(300, 300);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QRect screen = form->screen()->availableGeometry();
  form->move(screen.left() + 6, 300);
  EXPECT_TRUE(ProcessEventsUntil([&] { return form->pos() == QPoint(screen.left(), 300); }, 2s))
      << form->pos().x();
  form->move(screen.left() + 40, 300);
  ProcessEventsUntil([] { return false; }, 100ms);
  EXPECT_EQ(form->pos(), QPoint(screen.left() + 40, 300));
}

}  // namespace
}  // namespace gateway
