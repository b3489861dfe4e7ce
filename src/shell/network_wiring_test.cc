// The window's side of the network channel: the poll check box and edit, the consumed request
// coming back to the main thread, and the relay's console write failure reaching Disconnect.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fixtures/answering_console.h"
#include "fixtures/loopback_client.h"
#include "frames/translate_event.h"
#include "shell/main_form.h"
#include "shell/shell_test_support.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s;
constexpr auto kQuiet = 300ms;
const QString kProgram = QStringLiteral("Zorvan_Server");
const std::string kAck("\x06", 1);
const std::string kPoll("\x07\x00", 2);

std::string Line(const std::string& account) { return "5010 18" + account + "E13001005\x14"; }

ShownDialog Plain(const QString& text) { return {DialogKind::kPlain, kProgram, text}; }

class NetworkWiringTest : public ShellTest {
 protected:
  // Connected at start-up, the console on the second port, the server on a port of its own.
  std::unique_ptr<TMainForm> ConnectedForm() {
    AddPort("ttyV0", reserve_);
    AddPort("ttyV1", console_pty_);
    Store("AdvEdit_PortServer.Text", QStringLiteral("0"));
    Store("sCheckBox_AutoConnect.Checked", 1);
    WriteObjectList(":1234            03C\n:0427            03C\n");
    std::unique_ptr<TMainForm> form = MakeForm();
    EXPECT_TRUE(form->Connected());
    dialogs_.shown.clear();
    return form;
  }

  // The operator types `target` and clicks the poll box.
  static void ClickPollBox(TMainForm& form, const QString& target) {
    form.Edit_Opros->setText(target);
    form.sCheckBox_Opros->click();
  }

  PtyPair reserve_;
  PtyPair console_pty_;
  AnsweringConsole console_{console_pty_};
};

TEST_F(NetworkWiringTest, PollBoxArmsOnlyForFourCharactersAndSaysWhich) {
  struct Case {
    QString edit;
    bool armed;
    QString message;
  };
  const QString kRefusal = QStringLiteral("Номер об`єкту повинен бути 4-х значним!");
  const Case kCases[] = {
      {QString(), false, kRefusal},
      {QStringLiteral("042"), false, kRefusal},
      {QStringLiteral("0427"), true,
       QStringLiteral("При виході на зв`язок по GPRS об`єкту: 0427, буде проведено його "
                      "опитування")},
      {QStringLiteral("A-1 "), true,
       QStringLiteral("При виході на зв`язок по GPRS об`єкту: A-1 , буде проведено його "
                      "опитування")},
  };
  WriteObjectList("");
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_FALSE(form->sCheckBox_Opros->isChecked());
  EXPECT_EQ(form->Edit_Opros->text(), QString());
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.edit.toStdString());
    dialogs_.shown.clear();
    ClickPollBox(*form, c.edit);
    EXPECT_EQ(dialogs_.shown, std::vector<ShownDialog>{Plain(c.message)});
    EXPECT_EQ(form->sCheckBox_Opros->isChecked(), c.armed);
    EXPECT_EQ(form->Poll().Armed(), c.armed);
    if (c.armed) {
      EXPECT_EQ(form->Poll().Target(), c.edit.toStdString());
      // Unchecking disarms and says nothing.
      form->sCheckBox_Opros->click();
      EXPECT_FALSE(form->Poll().Armed());
      EXPECT_EQ(dialogs_.shown.size(), 1u);
    }
  }

  // Only the operator's click counts: checking the box from code neither arms nor speaks.
  dialogs_.shown.clear();
  form->sCheckBox_Opros->setChecked(true);
  EXPECT_FALSE(form->Poll().Armed());
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(NetworkWiringTest, ConsumedRequestUnchecksTheBoxAndEmptiesTheEditOnTheMainThread) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  ClickPollBox(*form, QStringLiteral("0427"));
  ASSERT_TRUE(form->Poll().Armed());
  dialogs_.shown.clear();
  std::vector<bool> toggled_on_main_thread;
  QObject::connect(form->sCheckBox_Opros, &QCheckBox::toggled, [&] {
    toggled_on_main_thread.push_back(QThread::currentThread() == qApp->thread());
  });

  LoopbackClient client(form->IdTCPServer1.LocalPort());
  client.Send(Line("0427"));
  EXPECT_EQ(client.Receive(2, kPatience), kPoll);
  // Queued: nothing has changed before the main thread runs its events.
  EXPECT_TRUE(form->sCheckBox_Opros->isChecked());
  EXPECT_EQ(form->Edit_Opros->text(), QStringLiteral("0427"));

  ASSERT_TRUE(ProcessEventsUntil([&] { return !form->sCheckBox_Opros->isChecked(); }));
  EXPECT_EQ(form->Edit_Opros->text(), QString());
  EXPECT_EQ(toggled_on_main_thread, std::vector<bool>{true});
  EXPECT_TRUE(dialogs_.shown.empty());

  client.Send(Line("0427"));
  EXPECT_EQ(client.Receive(1, kPatience), kAck);
}

TEST_F(NetworkWiringTest, EditChangedWhileArmedIsWhatTheRelayCompares) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  ClickPollBox(*form, QStringLiteral("0427"));
  form->Edit_Opros->setText(QStringLiteral("1234"));
  LoopbackClient client(form->IdTCPServer1.LocalPort());
  client.Send(Line("0427"));
  EXPECT_EQ(client.Receive(1, kPatience), kAck);
  client.Send(Line("1234"));
  EXPECT_EQ(client.Receive(2, kPatience), kPoll);
}

TEST_F(NetworkWiringTest, ConsoleWriteFailureDuringARelayDisconnectsTheProgramOnce) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  // Holds the object table, so that the relay stops in the translation: past its console
  // read, before its frame is written.
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  bool release = false;
  std::jthread holder([&] {
    form->Objects().UpdateRecord(0, [&](ObjectRecord&) {
      std::unique_lock lock(mutex);
      holding = true;
      changed.notify_all();
      changed.wait_for(lock, kPatience, [&] { return release; });
    });
  });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, kPatience, [&] { return holding; }));
  }
  LoopbackClient client(form->IdTCPServer1.LocalPort());
  client.Send(Line("1234"));
  // Without running window events: the supervision tick would wait for the table too.
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (form->State().NetworkExchangeActive == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(form->State().NetworkExchangeActive, 1);
  console_.Stop();
  console_pty_.CloseMaster();  // the console's line goes: the frame's first write fails
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();

  std::string before_close;
  EXPECT_TRUE(client.WaitClosed(kPatience, &before_close));
  EXPECT_EQ(before_close, "");
  ASSERT_TRUE(ProcessEventsUntil([&] { return !form->Connected(); }));
  ProcessEventsUntil([] { return false; }, kQuiet);
  ASSERT_FALSE(dialogs_.shown.empty());
  EXPECT_EQ(dialogs_.shown.back(), kServerDisconnectedDialog);
  for (std::size_t i = 0; i + 1 < dialogs_.shown.size(); ++i) {
    EXPECT_EQ(dialogs_.shown[i].kind, DialogKind::kWarning);  // only while connections lived
  }
  EXPECT_LE(dialogs_.shown.size(), 2u);
  EXPECT_FALSE(form->BComPort_Zorvan.IsOpen());
  EXPECT_FALSE(form->IdTCPServer1.Active());
  EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(NetworkWiringTest, DisconnectEndsConnectionsIdleRelayingAndWaitingAlike) {
  std::unique_ptr<TMainForm> form = ConnectedForm();
  const int port = form->IdTCPServer1.LocalPort();
  LoopbackClient idle(port);
  console_.SetReply({});  // the relaying one reads its reply until its time is up
  LoopbackClient relaying(port);
  relaying.Send(Line("1234"));
  ASSERT_TRUE(console_.WaitForFrames(1, kPatience));
  form->State().SupervisionExchangeActive.Set(1);
  LoopbackClient waiting(port);
  waiting.Send(Line("0427"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return form->IdTCPServer1.ConnectionCount() == 3; }));
  form->State().ConnectionCount = 3;

  form->ButtonDisconnect->click();
  EXPECT_EQ(dialogs_.shown,
            (std::vector<ShownDialog>{kDisconnectWarningDialog, kServerDisconnectedDialog}));
  // The server's stop waited for every connection thread.
  EXPECT_EQ(form->IdTCPServer1.ConnectionCount(), 0);
  EXPECT_FALSE(form->IdTCPServer1.Active());
  for (LoopbackClient* client : {&idle, &relaying, &waiting}) {
    std::string before_close;
    EXPECT_TRUE(client->WaitClosed(kPatience, &before_close));
    EXPECT_EQ(before_close, "");
  }
  // The waiting line never reached the console.
  struct : CounterReset {
    void ResetCounter(std::string_view) override {}
  } ignored;
  const AnsweringConsole::Frame waiting_frame = TranslateEvent(Line("0427"), ignored);
  for (const auto& frame : console_.Frames()) EXPECT_NE(frame, waiting_frame);
  form->State().SupervisionExchangeActive.Set(0);
}

}  // namespace
}  // namespace gateway
