// The window's supervision tick, link-test timer and reserve receive event, against a console
// and a modem on pseudo-terminals.
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <atomic>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

#include "fixtures/answering_console.h"
#include "fixtures/loopback_client.h"
#include "frames/console_frame.h"
#include "frames/frame_checksum.h"
#include "shell/date_time_text.h"
#include "shell/main_form.h"
#include "shell/shell_test_support.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;
using Frames = std::vector<Bytes>;

const QString kProgram = QStringLiteral("Zorvan_Server");
const std::string kAlarm = "5010 181234E13001005\x14";
const Bytes kAlarmFrame = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0};
const Bytes kFault0001 = {0x1E, 0x05, 0x02, 0x00, 0x00, 0x01, 0x61, 0x13};
const Bytes kRestore0001 = {0x1E, 0x05, 0x02, 0x00, 0x00, 0x01, 0x60, 0x4D};

// One line of the object list: the object number, blanks, the limit at characters 18 to 20.
std::string ListLine(const std::string& number, const std::string& limit) {
  return ":" + number + std::string(12, ' ') + limit + "\n";
}

class MainFormWiringTest : public ShellTest {
 protected:
  // The reserve line is ttyV0, the console ttyV1 (the default second entry); the server
  // listens on a port the system picks.
  void AddPorts() {
    AddPort("ttyV0", modem_);
    AddPort("ttyV1", console_);
    Store("AdvEdit_PortServer.Text", QStringLiteral("0"));
    Store("sComboBox_PortCSD.ItemIndex", 0);
  }

  // A form connected by the start-up, with `object_list` loaded; its timers are stopped so
  // that the test drives the handlers itself.
  std::unique_ptr<TMainForm> ConnectedForm(const std::string& object_list = "",
                                           bool use_reserve = false) {
    AddPorts();
    WriteObjectList(object_list);
    Store("sCheckBox_AutoConnect.Checked", 1);
    Store("sCheck_UseCsdComPort.Checked", use_reserve ? 1 : 0);
    std::unique_ptr<TMainForm> form = MakeForm();
    heartbeat_at_creation_ = {form->TimerHeartbeat->isActive(), form->TimerHeartbeat->interval()};
    form->TimerSaveHistory->stop();
    form->TimerHeartbeat->stop();
    EXPECT_TRUE(form->Connected());
    EXPECT_TRUE(dialogs_.shown.empty());
    dialogs_.beeps = 0;
    return form;
  }

  PtyPair modem_;
  PtyPair console_;
  struct {
    bool active = false;
    int interval = 0;
  } heartbeat_at_creation_;
};

TEST_F(MainFormWiringTest, StatusLineAndConnectionCountComeWithEveryTickAndCountingOnlyConnected) {
  AddPorts();
  WriteObjectList(ListLine("0001", "180"));
  std::unique_ptr<TMainForm> form = MakeForm();
  form->TimerSaveHistory->stop();
  form->TimerHeartbeat->stop();

  form->FormActivate();
  EXPECT_EQ(form->TimerSaveHistory->interval(), 1);
  form->TimerSaveHistoryTimer();
  EXPECT_EQ(form->TimerSaveHistory->interval(), 1000);
  EXPECT_EQ(form->sLabel1->text(), QStringLiteral("ttyV1, 0.0.0.0, 0, соединений: 0"));
  EXPECT_EQ(form->State().SecondCounter.load(), 0);  // not connected: no counting

  form->ButtonConnect->click();
  ASSERT_TRUE(form->Connected());
  LoopbackClient first(form->IdTCPServer1.LocalPort());
  LoopbackClient second(form->IdTCPServer1.LocalPort());
  LoopbackClient third(form->IdTCPServer1.LocalPort());
  ASSERT_TRUE(ProcessEventsUntil([&] { return form->IdTCPServer1.ConnectionCount() == 3; }));
  form->AdvMaskEdit_IP_ADR->setText(QStringLiteral("127.0.0.1"));  // the texts as they are now
  form->TimerSaveHistoryTimer();
  EXPECT_EQ(form->sLabel1->text(), QStringLiteral("ttyV1, 127.0.0.1, 0, соединений: 3"));
  EXPECT_EQ(form->State().ConnectionCount.load(), 3);
  EXPECT_EQ(form->State().SecondCounter.load(), 1);
}

TEST_F(MainFormWiringTest, SilentObjectIsReportedAndRestoredOnTheConsole) {
  std::unique_ptr<TMainForm> form = ConnectedForm(ListLine("0001", "001"));
  AnsweringConsole console(console_);
  ObjectTable& objects = form->Objects();

  form->State().SecondCounter = 59;  // the tick in which a minute is counted
  form->TimerSaveHistoryTimer();
  EXPECT_EQ(objects.Record(0).text, "0001001000001");
  EXPECT_TRUE(console.Frames().empty());

  form->TimerSaveHistoryTimer();  // silent up to its limit
  EXPECT_EQ(console.Frames(), Frames{kFault0001});
  EXPECT_EQ(objects.Record(0).text, "0001001001001");

  form->TimerSaveHistoryTimer();  // reported: nothing more while it stays silent
  EXPECT_EQ(console.Frames().size(), 1u);

  objects.ResetCounter("0001");  // heard again
  form->TimerSaveHistoryTimer();
  EXPECT_EQ(console.Frames(), (Frames{kFault0001, kRestore0001}));
  EXPECT_EQ(objects.Record(0).text, "0001000000001");
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_TRUE(form->Connected());
}

TEST_F(MainFormWiringTest, TickThatFallsDueInsideARunningTickIsSkipped) {
  std::unique_ptr<TMainForm> form = ConnectedForm(ListLine("0001", "000"));
  AnsweringConsole console(console_);
  // Runs in the first events the tick lets run, before the record's turn.
  bool nested_ran = false;
  QTimer::singleShot(0, form.get(), [&] {
    form->TimerSaveHistoryTimer();
    nested_ran = true;
  });
  form->TimerSaveHistoryTimer();
  EXPECT_TRUE(nested_ran);
  // One fault report; a nested tick would have reported and then had it restored at once.
  EXPECT_EQ(console.Frames(), Frames{kFault0001});
  EXPECT_EQ(form->State().SecondCounter.load(), 1);
}

TEST_F(MainFormWiringTest, WriteFailureInATickDisconnectsAndTheRemainingRecordsHaveTheirTurn) {
  std::unique_ptr<TMainForm> form =
      ConnectedForm(ListLine("0001", "000") + ListLine("0002", "000") + ListLine("0003", "0FF"));
  form->State().SecondCounter = 59;
  console_.CloseMaster();  // the console's end of the line is gone: writes fail

  form->TimerSaveHistoryTimer();
  // Each due record meets the failure in turn, the first on the open port, the second on the
  // port the handling closed; each runs the whole handling with its Disconnect.
  EXPECT_EQ(dialogs_.shown,
            (std::vector<ShownDialog>{kServerDisconnectedDialog, kServerDisconnectedDialog}));
  EXPECT_FALSE(form->Connected());
  EXPECT_FALSE(form->BComPort_Zorvan.IsOpen());
  EXPECT_FALSE(form->IdTCPServer1.Active());
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(form->Objects().Text(),
            "0001000000000"
            "0002000000000"
            "0003001000"
            "0FF");
  EXPECT_EQ(form->State().SecondCounter.load(), 0);
  EXPECT_EQ(form->State().SupervisionExchangeActive.Get(), 0);
}

TEST_F(MainFormWiringTest, LinkTestTimerStartsAtThreeSecondsThenKeepsThePeriodUntilZero) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  EXPECT_TRUE(heartbeat_at_creation_.active);
  EXPECT_EQ(heartbeat_at_creation_.interval, 3000);
  AnsweringConsole console(console_);

  form->TimerHeartbeatTimer();
  EXPECT_TRUE(form->TimerHeartbeat->isActive());
  EXPECT_EQ(form->TimerHeartbeat->interval(), 11234);
  ASSERT_TRUE(console.WaitForFrames(1, 1s));
  EXPECT_EQ(console.Frames(), Frames{kLinkTestFrame});
  EXPECT_EQ(form->State().LinkTestPassed.load(), -1);

  // A period entered while running is used as it is, and the timer ticks at it.
  form->AdvEditPerHeart->setText(QStringLiteral("100"));
  form->TimerHeartbeatTimer();
  EXPECT_EQ(form->TimerHeartbeat->interval(), 100);
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(ProcessEventsUntil([&] { return console.Frames().size() >= 6; }));
  const qint64 elapsed = clock.elapsed();
  EXPECT_LE(console.Frames().size(), 3u + static_cast<std::size_t>(elapsed / 100));
  for (const Bytes& frame : console.Frames()) EXPECT_EQ(frame, kLinkTestFrame);

  // A text that is no number keeps the interval.
  form->AdvEditPerHeart->setText(QString());
  form->TimerHeartbeatTimer();
  EXPECT_TRUE(form->TimerHeartbeat->isActive());
  EXPECT_EQ(form->TimerHeartbeat->interval(), 100);

  // 0 stops the timer for good; that tick still sends its test.
  form->AdvEditPerHeart->setText(QStringLiteral("0"));
  const std::size_t before = console.Frames().size();
  form->TimerHeartbeatTimer();
  EXPECT_FALSE(form->TimerHeartbeat->isActive());
  ASSERT_TRUE(console.WaitForFrames(before + 1, 1s));
  ProcessEventsUntil([] { return false; }, 400ms);
  EXPECT_EQ(console.Frames().size(), before + 1);
}

TEST_F(MainFormWiringTest, LinkTestTimerReopensAClosedConsolePortOrReportsWhyItCannot) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  AnsweringConsole console(console_);
  form->sCheckHeartEn->setChecked(false);  // the port is looked after even with tests off
  form->BComPort_Zorvan.Close();
  form->TimerHeartbeatTimer();
  EXPECT_TRUE(form->BComPort_Zorvan.IsOpen());

  // Another program has the port: the timer's tick fails with the port's own text, the
  // gateway stays connected, and the next tick tries again.
  form->BComPort_Zorvan.Close();
  SerialPort other_program(Environment().device_root);
  other_program.SetPortName("ttyV1");
  ASSERT_TRUE(other_program.Open());
  form->AdvEditPerHeart->setText(QStringLiteral("20"));
  form->TimerHeartbeat->start(20);
  ASSERT_TRUE(ProcessEventsUntil([&] { return dialogs_.shown.size() >= 2; }));
  EXPECT_EQ(dialogs_.shown[0], (ShownDialog{DialogKind::kError, kProgram,
                                            QStringLiteral("Порт занят другой программой")}));
  EXPECT_EQ(dialogs_.shown[1], dialogs_.shown[0]);
  EXPECT_TRUE(form->Connected());
  other_program.Close();
  ASSERT_TRUE(ProcessEventsUntil([&] { return form->BComPort_Zorvan.IsOpen(); }));
  form->TimerHeartbeat->stop();
  EXPECT_TRUE(console.Frames().empty());
}

// The console (or its adapter) gone while nothing else is under way: the next link test meets
// the hung-up line, and the gateway disconnects once instead of looking connected to nothing.
TEST_F(MainFormWiringTest, ConsoleThatHasGoneIsNoticedByTheNextLinkTestAndDisconnectsOnce) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  console_.CloseMaster();
  form->TimerHeartbeatTimer();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !form->Connected(); }));
  EXPECT_FALSE(form->BComPort_Zorvan.IsOpen());
  EXPECT_FALSE(form->IdTCPServer1.Active());
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  form->TimerHeartbeatTimer();  // not connected: nothing more to notice
  ProcessEventsUntil([] { return false; }, 100ms);
  EXPECT_EQ(dialogs_.shown, std::vector<ShownDialog>{kServerDisconnectedDialog});
}

// Relay-like exchanges on connection threads, supervision ticks and link tests on the main
// thread, all at once: the console must see each frame whole.
TEST_F(MainFormWiringTest, LinkTestsNeverInterleaveWithRelaysOrSupervisionExchanges) {
  std::unique_ptr<TMainForm> form =
      ConnectedForm(ListLine("0001", "000") + ListLine("0002", "000") + ListLine("1234", "000"));
  AnsweringConsole console(console_);
  form->AdvEditPerHeart->setText(QStringLiteral("5"));
  form->TimerHeartbeat->start(5);

  std::atomic<int> relays{0};
  std::stop_source stop;
  std::vector<std::jthread> connections;
  for (int i = 0; i < 3; ++i) {
    connections.emplace_back([&] {
      // NetworkExchangeActive stays down: with several relays it is 0 whenever one of them has
      // just finished, so the console link has to keep the exchanges apart by itself.
      while (std::unique_ptr<LinkSession> session =
                 form->BComPort_Zorvan.Acquire(stop.get_token())) {
        session->Read(40);
        WriteFrame(*session, kAlarmFrame);
        session->Read(100);
        session.reset();
        ++relays;
        std::this_thread::sleep_for(2ms);
      }
    });
  }
  QElapsedTimer clock;
  clock.start();
  int ticks = 0;
  while (clock.elapsed() < 1500 && ticks < 100) {
    form->TimerSaveHistoryTimer();  // every record due: fault and restore frames by turns
    ++ticks;
    ProcessEventsUntil([] { return false; }, 20ms);
  }
  stop.request_stop();
  connections.clear();
  form->TimerHeartbeat->stop();
  ProcessEventsUntil([] { return false; }, 50ms);
  console.Stop();

  const Frames frames = console.Frames();
  EXPECT_EQ(console.StrayBytes(), 0u);
  int link_tests = 0;
  int reports = 0;
  int relayed = 0;
  for (const Bytes& frame : frames) {
    EXPECT_EQ(ChecksumOf(frame), 0) << HexPairs(frame);
    if (frame == kLinkTestFrame) ++link_tests;
    if (frame.size() == 8 && (frame[6] == 0x60 || frame[6] == 0x61)) ++reports;
    if (frame == kAlarmFrame) ++relayed;
  }
  EXPECT_EQ(link_tests + reports + relayed, static_cast<int>(frames.size()));
  EXPECT_GT(link_tests, 0);
  EXPECT_GT(reports, 0);
  EXPECT_EQ(relayed, relays.load());
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(MainFormWiringTest, UnusedReserveLineStaysClosedAndLogsNothing) {
  std::unique_ptr<TMainForm> form = ConnectedForm("", /*use_reserve=*/false);
  AnsweringConsole console(console_);
  modem_.Write(BytesOf(kAlarm));
  ProcessEventsUntil([] { return false; }, 300ms);
  EXPECT_FALSE(form->BComPort_CSD.IsOpen());
  EXPECT_TRUE(form->Memo_Events->toPlainText().isEmpty());
  EXPECT_TRUE(console.Frames().empty());
  EXPECT_TRUE(modem_.ReadFor(20ms).empty());
}

TEST_F(MainFormWiringTest, ReserveEventIsLoggedWithDateTimeAndTheBytesAsRead) {
  std::unique_ptr<TMainForm> form = ConnectedForm("", /*use_reserve=*/true);
  ASSERT_TRUE(form->BComPort_CSD.IsOpen());
  AnsweringConsole console(console_);
  const QString separator = QRegularExpression::escape(QString(TimeSeparator(QLocale::system())));
  const QRegularExpression kLine(
      QStringLiteral("^(\\d\\d\\.\\d\\d\\.\\d\\d) \\d\\d%1\\d\\d%1\\d\\d -> ").arg(separator));
  const struct {
    Bytes sent;
    QString logged;  // after the arrow
  } kCases[] = {
      // Relayed, and acknowledged to the modem.
      {BytesOf(kAlarm), QString::fromLatin1(kAlarm.data(), kAlarm.size())},
      // Any byte is one character, whatever it is.
      {{'A', 0xC0, 0xFF, 0x00, 'z'},
       QString(QChar('A')) + QChar(0xC0) + QChar(0xFF) + QChar(0) + QChar('z')},
  };
  int lines = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(HexPairs(c.sent));
    const QDate before = QDate::currentDate();
    modem_.Write(c.sent);
    ++lines;
    ASSERT_TRUE(ProcessEventsUntil([&] {
      return !form->Memo_Events->toPlainText().isEmpty() &&
             form->Memo_Events->document()->blockCount() == lines;
    }));
    const QString line = form->Memo_Events->document()->lastBlock().text();
    const QRegularExpressionMatch match = kLine.match(line);
    ASSERT_TRUE(match.hasMatch()) << line.toStdString();
    EXPECT_TRUE(match.captured(1) == before.toString("dd.MM.yy") ||
                match.captured(1) == QDate::currentDate().toString("dd.MM.yy"));
    EXPECT_EQ(line.mid(match.capturedLength()), c.logged);
  }
  EXPECT_EQ(console.Frames(), Frames{kAlarmFrame});
  EXPECT_EQ(modem_.ReadFor(50ms), Bytes{0x06});
}

TEST_F(MainFormWiringTest, ConsoleWriteFailureInTheReserveRelayDisconnectsAtOnce) {
  std::unique_ptr<TMainForm> form = ConnectedForm("", /*use_reserve=*/true);
  console_.CloseMaster();
  modem_.Write(BytesOf(kAlarm));
  ASSERT_TRUE(ProcessEventsUntil([&] { return !form->Connected(); }));
  ProcessEventsUntil([] { return false; }, 100ms);
  EXPECT_EQ(dialogs_.shown, std::vector<ShownDialog>{kServerDisconnectedDialog});
  // Disconnect closed the reserve port from inside its own receive event.
  EXPECT_FALSE(form->BComPort_CSD.IsOpen());
  EXPECT_FALSE(form->BComPort_Zorvan.IsOpen());
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(modem_.ReadFor(50ms).empty());
  EXPECT_EQ(form->State().ReserveExchangeActive.load(), 0);
}

}  // namespace
}  // namespace gateway
