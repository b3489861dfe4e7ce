#include "shell/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <exception>
#include <thread>

#include "channels/server_stop.h"
#include "frames/console_frame.h"
#include "frames/conversion_error.h"
#include "shell/date_time_text.h"
#include "shell/host_lookup.h"
#include "shell/key_commands.h"
#include "shell/main_form_layout.h"
#include "shell/operator_texts.h"
#include "shell/screen_snap.h"
#include "shell/settings_mapping.h"
#include "supervision/link_test.h"

namespace gateway {
namespace {

constexpr int kStartClientWidth = 219;
constexpr int kStartClientHeight = 32;
constexpr int kWideOuterWidth = 314;
constexpr int kWideOuterHeight = 540;
constexpr int kStripOuterHeight = 30;
constexpr int kBorderedStripOuterHeight = 62;

constexpr int kSupervisionTickMs = 1000;

// "dd.mm.yy hh:mm:ss -> " and the bytes read from the reserve port, one character each.
QString ReserveLogLine(const Bytes& received) {
  const QDateTime now = QDateTime::currentDateTime();
  return DateText(now) + QLatin1Char(' ') + TimeText(now, TimeSeparator(QLocale::system())) +
         QStringLiteral(" -> ") +
         QString::fromLatin1(reinterpret_cast<const char*>(received.data()),
                             static_cast<qsizetype>(received.size()));
}

void FillWithPorts(QComboBox& list, const PortListRoots& roots) {
  for (const std::string& name : ListSerialPorts(roots)) list.addItem(QString::fromStdString(name));
}

// Closing is best effort wherever the program closes a port on its way down.
template <typename Port>
void CloseIgnoringFailure(Port& port) {
  try {
    port.Close();
  } catch (const std::exception&) {
  }
}

}  // namespace

ShellEnvironment MachineEnvironment(const QString& program_name) {
  ShellEnvironment environment;
  environment.program_name = program_name;
  const QString settings_path = SettingsFilePath(program_name);
  environment.open_settings = [settings_path] {
    return std::make_unique<IniSettingsStore>(settings_path);
  };
  environment.local_host_resolves = LocalHostResolves;
  return environment;
}

TMainForm::TMainForm(Dialogs& dialogs, ShellEnvironment environment, QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs),
      environment_(std::move(environment)),
      network_relay_(state_, object_table_, BComPort_Zorvan, poll_request_,
                     [this] { RequestConsoleWriteFailureHandling(); }),
      BComPort_Zorvan(environment_.device_root),
      BComPort_CSD(environment_.device_root),
      IdTCPServer1(TcpHandlers{
          [this](TcpConnection& connection) { IdTCPServer1Connect(connection); },
          [this](TcpConnection& connection) { IdTCPServer1Execute(connection); },
          [this](TcpConnection& connection) { IdTCPServer1Disconnect(connection); },
      }),
      test_supervision_(object_table_, state_, BComPort_Zorvan,
                        SupervisionHooks{
                            [] { QCoreApplication::processEvents(); },
                            [this] { HandleConsoleWriteFailure(); },
                            [this](const std::string& status) {
                              sLabel1->setText(QString::fromStdString(status));
                            },
                        }),
      link_test_(state_, BComPort_Zorvan),
      reserve_relay_(BComPort_CSD, BComPort_Zorvan, object_table_, state_,
                     ReserveRelayHooks{
                         [] { QCoreApplication::processEvents(); },
                         [this] { HandleConsoleWriteFailure(); },
                         [this](const Bytes& received) {
                           Memo_Events->appendPlainText(ReserveLogLine(received));
                         },
                     }) {
  // A console that has gone ends the connection as a failed write does; a gateway already
  // disconnected by then has nothing to end.
  BComPort_Zorvan.SetLineLostHandler([this] { QueueConsoleFailureHandling(true); });
  BComPort_CSD.SetReceiveHandler(
      [this](int count) { RunReported([&] { BComPort_CSDRxChar(count); }); }, &dispatcher_);
  ApplyWindowFlags(false);
  BuildMainFormControls(*this);
  setFixedSize(kStartClientWidth, kStartClientHeight);
  ConnectSignals();
  qApp->installEventFilter(this);
  RunReported([this] { FormCreate(); });
}

TMainForm::~TMainForm() = default;

bool TMainForm::Connected() const { return !ButtonConnect->isEnabledTo(this); }

void TMainForm::ConnectSignals() {
  connect(ButtonConnect, &QPushButton::clicked, this,
          [this] { RunReported([this] { ButtonConnectClick(); }); });
  connect(ButtonDisconnect, &QPushButton::clicked, this,
          [this] { RunReported([this] { ButtonDisconnectClick(); }); });
  connect(sButtonSendImmitation, &QPushButton::clicked, this,
          [this] { RunReported([this] { sButtonSendImmitationClick(); }); });
  connect(sCheckBox_Opros, &QCheckBox::clicked, this,
          [this] { RunReported([this] { sCheckBox_OprosClick(); }); });
  connect(Edit_Opros, &QLineEdit::textChanged, this,
          [this](const QString& text) { poll_request_.SetTarget(text.toStdString()); });
  poll_request_.SetOnConsumed([this] {
    // On the connection's thread: the controls change later, on the main thread. A request
    // that the operator armed again meanwhile keeps its controls.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (poll_request_.Armed()) return;
          sCheckBox_Opros->setChecked(false);
          Edit_Opros->clear();
        },
        Qt::QueuedConnection);
  });
  connect(TimerSaveHistory, &QTimer::timeout, this,
          [this] { RunReported([this] { TimerSaveHistoryTimer(); }); });
  connect(TimerHeartbeat, &QTimer::timeout, this,
          [this] { RunReported([this] { TimerHeartbeatTimer(); }); });
}

void TMainForm::RunReported(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    dialogs_.ErrorReport(QString::fromUtf8(failure.what()));
  }
}

void TMainForm::FormCreate() {
  setWindowTitle(environment_.program_name);
  dialogs_.SetApplicationTitle(environment_.program_name);

  FillWithPorts(*cbPort, environment_.port_list_roots);
  FillWithPorts(*sComboBox_PortCSD, environment_.port_list_roots);

  SelectIndex(*cbPort, 1);
  SelectIndex(*sComboBox_PortCSD, 1);
  SelectIndex(*cbBaudRate, kBaudPosition9600);
  SelectIndex(*sComboBox_BoudCSD, kBaudPosition115200);

  ReadSettings(*environment_.open_settings(), *this);

  ButtonDisconnect->setEnabled(false);
  sButtonSendImmitation->setEnabled(false);

  if (!environment_.local_host_resolves()) return;

  const QDateTime now = QDateTime::currentDateTime();
  sLabel2->setText(QString::fromUtf8(kStartedPrefix) + DateText(now) +
                   QString::fromUtf8(kStartedAt) + TimeText(now, TimeSeparator(QLocale::system())));
  AdvEditHeartData->setText(QString::fromUtf8(kHeartDataAtStart));
  AdvEditPerHeart->setText(
      QString::fromStdString(LinkTestPeriodAtStart(AdvEditPerHeart->text().toStdString())));
  sCheckHeartEn->setChecked(LinkTestsEnabledAtStart(sCheckHeartEn->isChecked()));

  std::string list_text;
  const ObjectListLoad loaded =
      LoadObjectList(object_table_, list_text, [] { QCoreApplication::processEvents(); });
  if (loaded == ObjectListLoad::kLoaded) {
    TextTerminal->setPlainText(QString::fromLocal8Bit(QByteArray::fromStdString(list_text)));
  } else {
    dialogs_.QuestionBeep();
    dialogs_.Message(QString::fromUtf8(kObjectListMissing));
  }

  if (sCheckBox_AutoConnect->isChecked()) ButtonConnectClick();
}

void TMainForm::ButtonConnectClick() {
  dialogs_.QuestionBeep();

  BComPort_Zorvan.Close();
  BComPort_Zorvan.SetPortName(cbPort->currentText().toStdString());
  // No selection (-1) reaches the port as it is, which refuses it when it opens.
  BComPort_Zorvan.SetBaudRate(cbBaudRate->currentIndex());
  BComPort_Zorvan.Open();

  if (sCheck_UseCsdComPort->isChecked()) {
    BComPort_CSD.Close();
    BComPort_CSD.SetPortName(sComboBox_PortCSD->currentText().toStdString());
    BComPort_CSD.SetBaudRate(kBaudPosition115200);
    BComPort_CSD.Open();
  }

  IdTCPServer1.SetBinding(AdvMaskEdit_IP_ADR->text().toStdString(),
                          ReadDecimal(AdvEdit_PortServer->text().toStdString()));
  IdTCPServer1.Activate();

  SetConnectedControls(true);
}

void TMainForm::ButtonDisconnectClick() {
  if (state_.ConnectionCount.load() != 0) {
    dialogs_.Warning(QString::fromUtf8(kDisconnectTakesTime));
  }
  StopServer();
  CloseIgnoringFailure(BComPort_Zorvan);
  if (sCheck_UseCsdComPort->isChecked()) CloseIgnoringFailure(BComPort_CSD);
  SetConnectedControls(false);
  dialogs_.Information(QString::fromUtf8(kServerDisconnected));
}

bool TMainForm::FormCloseQuery() {
  if (Connected()) {
    dialogs_.Message(QString::fromUtf8(kDisconnectFirst));
    return false;
  }
  CloseIgnoringFailure(BComPort_Zorvan);
  CloseIgnoringFailure(BComPort_CSD);
  StopServer();
  WriteSettings(*environment_.open_settings(), *this);
  return true;
}

void TMainForm::SetConnectedControls(bool connected) {
  ButtonConnect->setEnabled(!connected);
  ButtonConnect->setText(QString::fromUtf8(connected ? kCaptionConnected : kCaptionConnect));
  ButtonDisconnect->setEnabled(connected);
  for (QComboBox* list : {cbPort, sComboBox_PortCSD, cbBaudRate, sComboBox_BoudCSD}) {
    list->setEnabled(!connected);
  }
  AdvEdit_PortServer->setEnabled(!connected);
  AdvMaskEdit_IP_ADR->setEnabled(!connected);
  sButtonSendImmitation->setEnabled(connected);
}

void TMainForm::StopServer() {
  CutConnectionsAndStop(IdTCPServer1, [] { QCoreApplication::processEvents(); });
}

void TMainForm::HandleConsoleWriteFailure() {
  ++console_failures_handled_;
  show();
  raise();
  activateWindow();
  stays_on_top_ = false;
  ApplyWindowFlags(windowFlags().testFlag(Qt::FramelessWindowHint));
  show();
  CloseIgnoringFailure(BComPort_Zorvan);
  ButtonDisconnectClick();
}

void TMainForm::RequestConsoleWriteFailureHandling() { QueueConsoleFailureHandling(false); }

void TMainForm::QueueConsoleFailureHandling(bool only_while_connected) {
  // One failure can be reported twice (by the exchange and by the link that saw the line hang
  // up) and can be met inside the handling that answers it: a handling begun since the report
  // has answered it already.
  const int handled_before = console_failures_handled_.load();
  QMetaObject::invokeMethod(
      this,
      [this, handled_before, only_while_connected] {
        if (console_failures_handled_.load() != handled_before) return;
        if (only_while_connected && !Connected()) return;
        RunReported([this] { HandleConsoleWriteFailure(); });
      },
      Qt::QueuedConnection);
}

void TMainForm::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
  switch (KeyCommandFor(key, modifiers)) {
    case KeyCommand::kWiden:
      SetOuterSize(kWideOuterWidth, kWideOuterHeight);
      break;
    case KeyCommand::kToggleBorder: {
      const bool bordered = !windowFlags().testFlag(Qt::FramelessWindowHint);
      // Taken before the flags change, so that the border is remembered while it is there.
      const QRect outer = geometry().marginsAdded(FrameMargins());
      ApplyWindowFlags(bordered);
      SetOuterSize(outer.width(), bordered ? kStripOuterHeight : kBorderedStripOuterHeight);
      // The outer corner stays where it was, whichever border the window now has.
      const QMargins margins = FrameMargins();
      setGeometry(QRect(outer.topLeft() + QPoint(margins.left(), margins.top()), size()));
      break;
    }
    case KeyCommand::kNone:
      break;
  }
}

void TMainForm::FormPaint() {
  // Raising can itself repaint the window; raising again only after the window may have gone
  // behind another keeps that from feeding itself.
  if (isVisible() && raised_since_deactivation_) return;
  raised_since_deactivation_ = true;
  show();
  raise();
}

void TMainForm::FormActivate() { TimerSaveHistory->setInterval(1); }

void TMainForm::LabelComPortClick() { dialogs_.OpenSerialDeviceFolder(); }

void TMainForm::sButtonSendImmitationClick() {
  try {
    const Bytes frame = TestFrameFromHex(Imit_Obj->text().toStdString());
    std::unique_ptr<ConsoleSession> session = BComPort_Zorvan.BeginExchange();
    if (!session) return;
    WriteFrame(*session, frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    session->Read(40);
  } catch (const std::exception&) {
  }
}

void TMainForm::sCheckBox_OprosClick() {
  if (!sCheckBox_Opros->isChecked()) {
    poll_request_.Disarm();
    return;
  }
  const QString target = Edit_Opros->text();
  if (target.size() == 4) {
    // Armed before the message shows: the box is checked, and relays go on while it is open.
    poll_request_.Arm(target.toStdString());
    dialogs_.Message(QString::fromUtf8(kPollArmedPrefix) + target +
                     QString::fromUtf8(kPollArmedSuffix));
  } else {
    dialogs_.Message(QString::fromUtf8(kPollNeedsFourCharacters));
    sCheckBox_Opros->setChecked(false);
  }
}

void TMainForm::TimerSaveHistoryTimer() {
  TimerSaveHistory->setInterval(kSupervisionTickMs);
  SupervisionTickInput input;
  input.connected = Connected();
  input.connection_count = IdTCPServer1.ConnectionCount();
  input.port_name = cbPort->currentText().toStdString();
  input.address = AdvMaskEdit_IP_ADR->text().toStdString();
  input.tcp_port = AdvEdit_PortServer->text().toStdString();
  test_supervision_.Tick(input);
}

void TMainForm::TimerHeartbeatTimer() {
  QCoreApplication::processEvents();
  const HeartbeatInterval interval =
      DecideHeartbeatInterval(AdvEditPerHeart->text().toStdString(), TimerHeartbeat->interval());
  switch (interval.action) {
    case HeartbeatInterval::Action::kRestart:
      TimerHeartbeat->start(interval.interval_ms);
      break;
    case HeartbeatInterval::Action::kStop:
      TimerHeartbeat->stop();
      break;
    case HeartbeatInterval::Action::kKeep:
      break;
  }
  link_test_.Run(Connected(), sCheckHeartEn->isChecked());
}

void TMainForm::BComPort_CSDRxChar(int /*count*/) { reserve_relay_.OnReceive(); }

void TMainForm::IdTCPServer1Connect(TcpConnection& /*connection*/) {
  CapConnections(IdTCPServer1, state_.ConnectionCount.load());
}

void TMainForm::IdTCPServer1Execute(TcpConnection& connection) {
  network_relay_.Execute(connection);
}

void TMainForm::IdTCPServer1Disconnect(TcpConnection& /*connection*/) {}

void TMainForm::ApplyWindowFlags(bool frameless) {
  // Qt drops the frameless hint from flags that ask for title bar buttons.
  Qt::WindowFlags flags = Qt::Window | Qt::MSWindowsFixedSizeDialogHint;
  if (frameless) {
    flags |= Qt::FramelessWindowHint;
  } else {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
  }
  if (stays_on_top_) flags |= Qt::WindowStaysOnTopHint;
  const bool was_visible = isVisible();
  const QPoint position = pos();
  setWindowFlags(flags);
  if (was_visible) {
    move(position);
    show();
  }
}

QMargins TMainForm::FrameMargins() {
  if (windowFlags().testFlag(Qt::FramelessWindowHint)) return {};
  // Right after the border comes back the window manager has not reported it yet: the last
  // border seen stands in for it.
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  const QMargins shown(client.left() - frame.left(), client.top() - frame.top(),
                       frame.right() - client.right(), frame.bottom() - client.bottom());
  if (!shown.isNull()) border_margins_ = shown;
  return border_margins_;
}

void TMainForm::SetOuterSize(int width, int height) {
  const QMargins margins = FrameMargins();
  setFixedSize(width - margins.left() - margins.right(), height - margins.top() - margins.bottom());
}

bool TMainForm::IsFirstDelivery(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease) {
    key_event_in_delivery_ = nullptr;
    return false;
  }
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != this) return false;
  const auto* key = static_cast<const QKeyEvent*>(event);
  // A key press that its receiver ignores goes on to the receiver's parent, and so on: the same
  // event, with the same key, to each ancestor in turn.
  if (event == key_event_in_delivery_ && key->key() == key_in_delivery_ &&
      key_receiver_ != nullptr && widget != key_receiver_ &&
      widget->isAncestorOf(key_receiver_.data())) {
    key_receiver_ = widget;
    return false;
  }
  key_event_in_delivery_ = event;
  key_in_delivery_ = key->key();
  key_receiver_ = widget;
  return true;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (IsFirstDelivery(watched, event)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    RunReported([&] { FormKeyDown(key->key(), key->modifiers()); });
  } else if (event->type() == QEvent::MouseButtonRelease &&
             (watched == LabelComPort || watched == Label1)) {
    if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      RunReported([this] { LabelComPortClick(); });
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool TMainForm::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::WindowActivate:
      RunReported([this] { FormActivate(); });
      break;
    case QEvent::WindowDeactivate:
    case QEvent::Hide:
      raised_since_deactivation_ = false;
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

void TMainForm::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  RunReported([this] { FormPaint(); });
}

void TMainForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (!isVisible() || snapping_ || screen() == nullptr) return;
  const QRect frame = frameGeometry();
  const QPoint snapped = SnapToScreenEdges(frame, screen()->availableGeometry());
  if (snapped == frame.topLeft()) return;
  snapping_ = true;
  move(snapped);
  snapping_ = false;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool allowed = false;
  RunReported([&] { allowed = FormCloseQuery(); });
  event->setAccepted(allowed);
}

}  // namespace gateway
