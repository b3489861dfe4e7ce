// TMainForm: the gateway's one window. Its controls hold the settings and the connected state;
// its handlers run the start-up, Connect, Disconnect and the close, and hand the real work to the
// layers below.
#pragma once

#include <QMargins>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "channels/console_link.h"
#include "channels/network_relay.h"
#include "channels/poll_request.h"
#include "channels/port_list.h"
#include "channels/reserve_relay.h"
#include "channels/serial_port.h"
#include "channels/tcp_server.h"
#include "shell/dialogs.h"
#include "shell/qt_event_dispatcher.h"
#include "shell/settings_store.h"
#include "supervision/gateway_state.h"
#include "supervision/link_test.h"
#include "supervision/object_table.h"
#include "supervision/test_supervision.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace gateway {

// What the window takes from the machine it runs on; tests supply their own.
struct ShellEnvironment {
  QString program_name;
  // Opens the settings store for one read or one write of all the values.
  std::function<std::unique_ptr<SettingsStore>()> open_settings;
  PortListRoots port_list_roots;
  // Prepended to a port name to reach its device.
  std::string device_root = "/dev/";
  // Whether the machine's own host name resolves.
  std::function<bool()> local_host_resolves;
};

// The environment of the running program: the settings file of `program_name`, the machine's
// ports and its resolver.
ShellEnvironment MachineEnvironment(const QString& program_name);

class TMainForm : public QWidget {
  Q_OBJECT

 public:
  // Builds the window and runs the start-up sequence; the window is not shown yet.
  TMainForm(Dialogs& dialogs, ShellEnvironment environment, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Connected exactly while ButtonConnect is disabled.
  bool Connected() const;

  // Handlers. Each throws what fails inside it; the window's events call them through the
  // error report.
  void FormCreate();
  void ButtonConnectClick();
  void ButtonDisconnectClick();
  // Whether the window may close.
  bool FormCloseQuery();
  // Ctrl+E widens the window, Ctrl+J toggles its border.
  void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
  // Shows the window and brings it to the front, once per time it may have gone behind.
  void FormPaint();
  void FormActivate();
  void LabelComPortClick();
  // The operator's test frame; swallows every failure.
  void sButtonSendImmitationClick();
  // The poll request, the supervision tick (a tick that falls due inside a running one is
  // skipped), the link-test tick, the reserve line's receive event and the server's connection
  // events.
  void sCheckBox_OprosClick();
  void TimerSaveHistoryTimer();
  void TimerHeartbeatTimer();
  void BComPort_CSDRxChar(int count);
  // On the connection's own thread, as are the two below: the connection cap, the relay, and
  // nothing.
  void IdTCPServer1Connect(TcpConnection& connection);
  void IdTCPServer1Execute(TcpConnection& connection);
  void IdTCPServer1Disconnect(TcpConnection& connection);

  // The console write failure handling, on the main thread: the window comes forward and stops
  // staying on top, the console port closes and Disconnect runs.
  void HandleConsoleWriteFailure();
  // From any thread: queues one HandleConsoleWriteFailure to the main thread, without waiting;
  // reports that come in before a handling begins are all answered by that one.
  void RequestConsoleWriteFailureHandling();

  GatewayState& State() { return state_; }
  ObjectTable& Objects() { return object_table_; }
  // The poll request as the poll check box and edit have set it.
  const PollRequest& Poll() const { return poll_request_; }

  // Controls, named as the operator's documentation names them.
  QPushButton* ButtonConnect = nullptr;
  QCheckBox* sCheckBox_Opros = nullptr;
  QLineEdit* Edit_Opros = nullptr;
  QLabel* sLabel2 = nullptr;
  QLabel* sLabel5 = nullptr;
  QLabel* sLabel1 = nullptr;
  QLabel* sLabel3 = nullptr;
  QGroupBox* sGroupBoxTunes = nullptr;
  QLabel* LabelComPort = nullptr;
  QComboBox* cbPort = nullptr;
  QComboBox* cbBaudRate = nullptr;
  QGroupBox* sGroupBox2 = nullptr;
  QLabel* LabelAdrIp = nullptr;
  QLineEdit* AdvMaskEdit_IP_ADR = nullptr;
  QLabel* LabelPort = nullptr;
  QLineEdit* AdvEdit_PortServer = nullptr;
  QGroupBox* sGroupBox1 = nullptr;
  QCheckBox* sCheck_UseCsdComPort = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* sComboBox_PortCSD = nullptr;
  QGroupBox* sGroupBoxHart = nullptr;
  QCheckBox* sCheckHeartEn = nullptr;
  QLineEdit* AdvEditPerHeart = nullptr;
  QLabel* sLabelmilisec = nullptr;
  QCheckBox* sCheckBox_AutoConnect = nullptr;
  QPushButton* ButtonDisconnect = nullptr;
  QLineEdit* Edit_TstFaults = nullptr;
  QPlainTextEdit* TextTerminal = nullptr;
  QPlainTextEdit* Memo_Events = nullptr;
  QLineEdit* AdvEditTextImitPref = nullptr;
  QComboBox* sComboBox_BoudCSD = nullptr;
  QLineEdit* AdvEditHeartData = nullptr;
  QGroupBox* sGroupBoxImmit = nullptr;
  QLineEdit* Imit_Obj = nullptr;
  QPushButton* sButtonSendImmitation = nullptr;

  QTimer* TimerSaveHistory = nullptr;
  QTimer* TimerHeartbeat = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs a handler at the edge of an event: an escaping failure becomes the error report.
  void RunReported(const std::function<void()>& handler);
  void ConnectSignals();
  // The control states of the connected and the not-connected program.
  void SetConnectedControls(bool connected);
  // Queues the console failure handling unless one begins first; `only_while_connected` drops
  // it when the gateway is no longer connected by the time it would run.
  void QueueConsoleFailureHandling(bool only_while_connected);
  // Cuts every connection and stops the server, letting window events run as it goes.
  void StopServer();
  // Sets the window's frame size; the client area is what the frame leaves.
  void SetOuterSize(int width, int height);
  // The border around the client area: none without a border, else the last one seen.
  QMargins FrameMargins();
  // The single border with title bar, or none; on top until the console write failure. A
  // visible window stays visible where it was.
  void ApplyWindowFlags(bool frameless);
  // Whether `event`, delivered to `watched`, is a key press seen for the first time (Qt hands
  // an ignored key on to each parent in turn).
  bool IsFirstDelivery(QObject* watched, QEvent* event);

  Dialogs& dialogs_;
  ShellEnvironment environment_;
  bool stays_on_top_ = true;
  // Console failure handlings begun so far; read by threads that report a failure.
  std::atomic<int> console_failures_handled_{0};
  QMargins border_margins_;
  bool raised_since_deactivation_ = false;
  bool snapping_ = false;
  const QEvent* key_event_in_delivery_ = nullptr;
  int key_in_delivery_ = 0;
  QPointer<QWidget> key_receiver_;

  GatewayState state_;
  ObjectTable object_table_;
  QtEventDispatcher dispatcher_;
  // Used by the connection threads, so declared before the server: they outlive its threads.
  PollRequest poll_request_;
  NetworkRelay network_relay_;

 public:
  // Ports and server, declared after the state and dispatcher they use so that they go (and
  // their threads stop) first.
  ConsoleLink BComPort_Zorvan;
  SerialPort BComPort_CSD;
  TcpServer IdTCPServer1;

 private:
  // The work of the two timers and of the reserve line's receive event, after the ports and
  // the state they use.
  TestSupervision test_supervision_;
  LinkTest link_test_;
  ReserveRelay reserve_relay_;
};

}  // namespace gateway
