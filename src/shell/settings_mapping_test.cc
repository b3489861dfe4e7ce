#include "shell/settings_mapping.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <map>

#include "shell/settings_store.h"
#include "shell/shell_test_support.h"

namespace gateway {
namespace {

using SettingsTest = ShellTest;

// A store in memory that records the order of writes and can refuse one value.
class MemoryStore : public SettingsStore {
 public:
  std::optional<QVariant> Value(const QString& name) override {
    auto found = values.find(name);
    if (found == values.end()) return std::nullopt;
    return found->second;
  }
  bool SetValue(const QString& name, const QVariant& value) override {
    if (name == refused) return false;
    written.push_back(name);
    values[name] = value;
    return true;
  }

  std::map<QString, QVariant> values;
  std::vector<QString> written;
  QString refused;
};

std::vector<QString> AllNames() { return {kSettingNames.begin(), kSettingNames.end()}; }

TEST_F(SettingsTest, FirstStartKeepsTheDefaultsAndTheFirstCloseStoresAllFifteen) {
  PtyPair first, second, third;
  AddPort("ttyV0", first);
  AddPort("ttyV1", second);
  AddPort("ttyV2", third);
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_EQ(form->cbPort->currentText(), QStringLiteral("ttyV1"));
  EXPECT_EQ(form->sComboBox_PortCSD->currentText(), QStringLiteral("ttyV1"));
  EXPECT_EQ(form->cbBaudRate->currentText(), QStringLiteral("9600"));
  EXPECT_EQ(form->sComboBox_BoudCSD->currentText(), QStringLiteral("115200"));
  EXPECT_FALSE(form->Connected());
  EXPECT_TRUE(dialogs_.shown.empty());

  ASSERT_TRUE(form->close());
  std::unique_ptr<QSettings> stored = StoredSettings();
  for (const QString& name : kSettingNames)
    EXPECT_TRUE(stored->contains(name)) << name.toStdString();
  const std::pair<const char*, const char*> kStored[] = {
      {"cbPort.ItemIndex", "1"},
      {"sCheck_UseCsdComPort.Checked", "0"},
      {"sComboBox_PortCSD.ItemIndex", "1"},
      {"cbBaudRate.ItemIndex", "6"},
      {"sComboBox_BoudCSD.ItemIndex", "12"},
      {"AdvMaskEdit_IP_ADR.Text", "0.0.0.0"},
      {"AdvEdit_PortServer.Text", "5551"},
      {"Edit_TstFaults.Text", "180"},
      {"sCheckHeartEn.Checked", "0"},
      {"sCheckBox_AutoConnect.Checked", "0"},
      {"AdvEditPerHeart.Text", "11234"},
      {"AdvEditTextImitPref.Text", "5010 18"},
      {"AdvEditHeartData.Text", "1011           @    ?"},
  };
  for (const auto& [name, value] : kStored) {
    EXPECT_EQ(stored->value(QString::fromUtf8(name)).toString(), QString::fromUtf8(value)) << name;
  }
}

TEST_F(SettingsTest, StoredValuesComeBackAndAreWrittenInTheirOrder) {
  PtyPair first, second, third;
  AddPort("ttyV0", first);
  AddPort("ttyV1", second);
  AddPort("ttyV2", third);
  WriteSettingsFile(
      "[General]\n"
      "MainForm.Left=140\n"
      "MainForm.Top=230\n"
      "cbPort.ItemIndex=2\n"
      "sCheck_UseCsdComPort.Checked=1\n"
      "sComboBox_PortCSD.ItemIndex=0\n"
      "cbBaudRate.ItemIndex=12\n"
      "sComboBox_BoudCSD.ItemIndex=3\n"
      "AdvMaskEdit_IP_ADR.Text=127.0.0.1\n"
      "AdvEdit_PortServer.Text=6000\n"
      "Edit_TstFaults.Text=240\n"
      "sCheckHeartEn.Checked=2\n"
      "sCheckBox_AutoConnect.Checked=0\n"
      "AdvEditPerHeart.Text=30000\n"
      "AdvEditTextImitPref.Text=\"5010, 18\"\n"
      "AdvEditHeartData.Text=\"  1E 01 ??\"\n");
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_EQ(form->pos(), QPoint(140, 230));
  EXPECT_EQ(form->cbPort->currentText(), QStringLiteral("ttyV2"));
  EXPECT_TRUE(form->sCheck_UseCsdComPort->isChecked());
  EXPECT_EQ(form->sComboBox_PortCSD->currentText(), QStringLiteral("ttyV0"));
  EXPECT_EQ(form->cbBaudRate->currentText(), QStringLiteral("115200"));
  EXPECT_EQ(form->sComboBox_BoudCSD->currentText(), QStringLiteral("1200"));
  EXPECT_EQ(form->AdvMaskEdit_IP_ADR->text(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(form->AdvEdit_PortServer->text(), QStringLiteral("6000"));
  EXPECT_EQ(form->Edit_TstFaults->text(), QStringLiteral("240"));
  EXPECT_TRUE(form->sCheckHeartEn->isChecked());
  EXPECT_FALSE(form->sCheckBox_AutoConnect->isChecked());
  EXPECT_EQ(form->AdvEditPerHeart->text(), QStringLiteral("30000"));
  EXPECT_EQ(form->AdvEditTextImitPref->text(), QStringLiteral("5010, 18"));
  EXPECT_EQ(form->AdvEditHeartData->text(), QStringLiteral("  1E 01 ?"));

  MemoryStore order;
  WriteSettings(order, *form);
  EXPECT_EQ(order.written, AllNames());
  EXPECT_EQ(order.values["sCheckHeartEn.Checked"], QVariant(1));

  ASSERT_TRUE(form->close());
  std::unique_ptr<QSettings> stored = StoredSettings();
  EXPECT_EQ(stored->value("MainForm.Left").toInt(), 140);
  EXPECT_EQ(stored->value("cbPort.ItemIndex").toInt(), 2);
  EXPECT_EQ(stored->value("sCheckHeartEn.Checked").toString(), QStringLiteral("1"));
  EXPECT_EQ(stored->value("AdvEditTextImitPref.Text").toString(), QStringLiteral("5010, 18"));
  // Each write of the settings adds one '?'; reading takes one away again.
  EXPECT_EQ(stored->value("AdvEditHeartData.Text").toString(), QStringLiteral("  1E 01 ???"));
}

TEST_F(SettingsTest, AnIndexBeyondTheListSelectsNothingAndIsStoredAsMinusOne) {
  PtyPair only;
  AddPort("ttyV0", only);
  Store("cbPort.ItemIndex", 5);
  Store("cbBaudRate.ItemIndex", 15);
  host_resolves_ = false;
  {
    std::unique_ptr<TMainForm> form = MakeForm();
    EXPECT_EQ(form->cbPort->currentIndex(), -1);
    EXPECT_EQ(form->cbPort->currentText(), QString());
    EXPECT_EQ(form->cbBaudRate->currentIndex(), -1);
    // The reserve list had its default, index 1, which a single port cannot give.
    EXPECT_EQ(form->sComboBox_PortCSD->currentIndex(), -1);
    ASSERT_TRUE(form->close());
  }
  EXPECT_EQ(StoredSettings()->value("cbPort.ItemIndex").toInt(), -1);
  EXPECT_EQ(StoredSettings()->value("cbBaudRate.ItemIndex").toInt(), -1);
  std::unique_ptr<TMainForm> again = MakeForm();
  EXPECT_EQ(again->cbPort->currentIndex(), -1);
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SettingsTest, AValueOfTheWrongTypeEndsTheStartUpThere) {
  const struct {
    const char* line;
    const char* name;
  } kCases[] = {
      {"cbBaudRate.ItemIndex=abc", "cbBaudRate.ItemIndex"},
      {"cbBaudRate.ItemIndex=", "cbBaudRate.ItemIndex"},
      {"cbBaudRate.ItemIndex=1.5", "cbBaudRate.ItemIndex"},
      {"cbBaudRate.ItemIndex=\" 7\"", "cbBaudRate.ItemIndex"},
      {"cbBaudRate.ItemIndex=99999999999", "cbBaudRate.ItemIndex"},
      {"cbBaudRate.ItemIndex=2, 3", "cbBaudRate.ItemIndex"},
      {"sCheckHeartEn.Checked=yes", "sCheckHeartEn.Checked"},
      {"AdvEditPerHeart.Text=1000, 2000", "AdvEditPerHeart.Text"},
      {"AdvEditPerHeart.Text=@ByteArray(12)", "AdvEditPerHeart.Text"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line);
    dialogs_.shown.clear();
    // A value before the bad one, and one after it.
    WriteSettingsFile(std::string("[General]\nMainForm.Left=150\n") + c.line +
                      "\nAdvEditHeartData.Text=ABC\n");
    std::unique_ptr<TMainForm> form = MakeForm();
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0],
              (ShownDialog{DialogKind::kError, QStringLiteral("Zorvan_Server"),
                           QStringLiteral("Invalid data type for '%1'").arg(c.name)}));
    EXPECT_EQ(form->x(), 150);
    EXPECT_NE(form->AdvEditHeartData->text(), QStringLiteral("ABC"));
    // Start-up went no further: the Disconnect button was never disabled.
    EXPECT_TRUE(form->ButtonDisconnect->isEnabled());
    EXPECT_EQ(form->TextTerminal->toPlainText(), QStringLiteral("TextTerminal"));
  }
}

TEST_F(SettingsTest, IntegersTakeASignAndLeadingZeros) {
  host_resolves_ = false;
  for (const auto& [text, left] : {std::pair{"-40", -40}, {"0", 0}, {"00012", 12}}) {
    SCOPED_TRACE(text);
    WriteSettingsFile(std::string("[General]\nMainForm.Left=") + text + "\nMainForm.Top=300\n");
    EXPECT_EQ(MakeForm()->pos(), QPoint(left, 300));
  }
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SettingsTest, HeartDataLosesOneFinalQuestionMarkWhenRead) {
  const struct {
    const char* stored;  // nullptr: nothing stored
    const char* shown;
  } kCases[] = {
      {nullptr, "1011           @    "},
      {"1E010124?", "1E010124"},
      {"?", ""},
      {"", ""},
      {"AB??", "AB?"},
      {"AB", "AB"},
  };
  host_resolves_ = false;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stored == nullptr ? "(nothing)" : c.stored);
    std::filesystem::remove(SettingsPath().toStdString());
    if (c.stored != nullptr) Store("AdvEditHeartData.Text", QString::fromUtf8(c.stored));
    std::unique_ptr<TMainForm> form = MakeForm();
    EXPECT_EQ(form->AdvEditHeartData->text(), QString::fromUtf8(c.shown));
    ASSERT_TRUE(form->close());
    EXPECT_EQ(form->AdvEditHeartData->text(), QString::fromUtf8(c.shown) + QLatin1Char('?'));
    EXPECT_EQ(StoredSettings()->value("AdvEditHeartData.Text").toString(),
              QString::fromUtf8(c.shown) + QLatin1Char('?'));
  }
}

TEST_F(SettingsTest, HeartDataIsReplacedWhenTheHostResolves) {
  Store("AdvEditHeartData.Text", QStringLiteral("ABC?"));
  WriteObjectList("");
  std::unique_ptr<TMainForm> form = MakeForm();
  EXPECT_EQ(form->AdvEditHeartData->text(), QStringLiteral("1E010124"));
  ASSERT_TRUE(form->close());
  EXPECT_EQ(StoredSettings()->value("AdvEditHeartData.Text").toString(),
            QStringLiteral("1E010124?"));
}

TEST_F(SettingsTest, NumericFieldsShowAnEmptyTextAsZeroAndShortPeriodsAreReplaced) {
  const struct {
    const char* stored_period;
    bool host_resolves;
    const char* period;
  } kCases[] = {
      {"", false, "0"},     // empty reads as "0" ...
      {"", true, "12345"},  // ... which the start-up rule then replaces
      {"248", true, "12345"}, {"249", true, "249"}, {"0", true, "12345"},
      {"248", false, "248"},  // the rule belongs to a start-up whose host resolves
  };
  WriteObjectList("");
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.stored_period) +
                 (c.host_resolves ? " resolving" : " not resolving"));
    WriteSettingsFile(std::string("[General]\nAdvEdit_PortServer.Text=\nEdit_TstFaults.Text=\n"
                                  "AdvEditTextImitPref.Text=\nAdvEditPerHeart.Text=") +
                      c.stored_period + "\n");
    host_resolves_ = c.host_resolves;
    std::unique_ptr<TMainForm> form = MakeForm();
    EXPECT_EQ(form->AdvEditPerHeart->text(), QString::fromUtf8(c.period));
    EXPECT_EQ(form->AdvEdit_PortServer->text(), QStringLiteral("0"));
    EXPECT_EQ(form->Edit_TstFaults->text(), QStringLiteral("0"));
    EXPECT_EQ(form->AdvEditTextImitPref->text(), QString());
  }
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(SettingsTest, LinkTestsAreSwitchedOnAtEveryStartWhoseHostResolves) {
  WriteObjectList("");
  Store("sCheckHeartEn.Checked", 0);
  EXPECT_TRUE(MakeForm()->sCheckHeartEn->isChecked());
  host_resolves_ = false;
  EXPECT_FALSE(MakeForm()->sCheckHeartEn->isChecked());
  Store("sCheckHeartEn.Checked", 7);
  EXPECT_TRUE(MakeForm()->sCheckHeartEn->isChecked());
}

TEST_F(SettingsTest, APeriodThatIsNoNumberEndsTheStartUpBeforeTheLinkTests) {
  WriteObjectList(":1234            03C\n");
  Store("AdvEditPerHeart.Text", QStringLiteral("12x"));
  Store("sCheckBox_AutoConnect.Checked", 1);
  std::unique_ptr<TMainForm> form = MakeForm();
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].kind, DialogKind::kError);
  EXPECT_EQ(dialogs_.shown[0].text, QStringLiteral("'12x' is not a valid integer value"));
  EXPECT_FALSE(form->sCheckHeartEn->isChecked());
  EXPECT_EQ(form->Objects().RecordCount(), 0u);
  EXPECT_EQ(dialogs_.beeps, 0);
  EXPECT_FALSE(form->Connected());
}

TEST_F(SettingsTest, AFailedWriteAbandonsTheCloseAfterClosingEverything) {
  WriteObjectList("");
  std::ofstream(SettingsPath().toStdString() + ".file") << "not a folder";
  ShellEnvironment environment = Environment();
  const QString unreachable = SettingsPath() + ".file/Zorvan_Server.conf";
  environment.open_settings = [unreachable] {
    return std::make_unique<IniSettingsStore>(unreachable);
  };
  TMainForm form(dialogs_, std::move(environment));
  form.show();
  EXPECT_FALSE(form.close());
  EXPECT_TRUE(form.isVisible());
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0],
            (ShownDialog{DialogKind::kError, QStringLiteral("Zorvan_Server"),
                         QStringLiteral("Failed to set data for 'MainForm.Left'")}));
  EXPECT_FALSE(form.IdTCPServer1.Active());
  EXPECT_FALSE(form.BComPort_Zorvan.IsOpen());
  // The next attempt runs the whole close query again.
  EXPECT_FALSE(form.close());
  EXPECT_EQ(dialogs_.shown.size(), 2u);
}

TEST_F(SettingsTest, TheFirstValueThatCannotBeStoredStopsTheWriting) {
  host_resolves_ = false;
  std::unique_ptr<TMainForm> form = MakeForm();
  MemoryStore store;
  store.refused = QStringLiteral("AdvEdit_PortServer.Text");
  try {
    WriteSettings(store, *form);
    FAIL() << "the refused value was not reported";
  } catch (const SettingsError& failure) {
    EXPECT_STREQ(failure.what(), "Failed to set data for 'AdvEdit_PortServer.Text'");
  }
  const std::vector<QString> names = AllNames();
  EXPECT_EQ(store.written, std::vector<QString>(names.begin(), names.begin() + 8));
  // The '?' comes with value 15, which was never reached.
  EXPECT_EQ(form->AdvEditHeartData->text(), QStringLiteral("1011           @    "));
}

TEST(SettingsFileTest, FollowsXdgConfigHomeAtEveryCall) {
  const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", "/tmp/first");
  EXPECT_EQ(SettingsFilePath("Zorvan_Server"), QStringLiteral("/tmp/first/Zorvan_Server.conf"));
  qputenv("XDG_CONFIG_HOME", "/tmp/second");
  EXPECT_EQ(SettingsFilePath("Zorvan_Server"), QStringLiteral("/tmp/second/Zorvan_Server.conf"));
  for (const char* unusable : {"", "relative/folder"}) {
    qputenv("XDG_CONFIG_HOME", unusable);
    EXPECT_EQ(SettingsFilePath("Gate"), QDir::homePath() + QStringLiteral("/.config/Gate.conf"));
  }
  qputenv("XDG_CONFIG_HOME", previous);
}

}  // namespace
}  // namespace gateway
