#include "supervision/object_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace gateway {
namespace {

void NoPump() {}

// An object list line: ':', the object number, twelve unread characters, the limit.
std::string ListLine(const std::string& object, const std::string& limit) {
  return ":" + object + "-unread-text" + limit;
}

TEST(ObjectTableLoad, TakesColonLinesInFileOrderAsStored) {
  // Headings, comments and blank lines are skipped; duplicates give two records; bytes of the
  // single-byte code page are kept as they are; characters past the limit are not read.
  const std::string text =
      "Objects of the station\r\n"
      "\r\n" +
      ListLine("1234", "180") + " trailing comment\r\n" + "; :0001 commented out\r\n" +
      ListLine("0027", "03C") + "\r\n" + ListLine("1234", "\xC0\xC1\xC2") + "\r\n";
  ObjectTable table;
  table.Load(text, NoPump);
  EXPECT_EQ(
      "1234000000180"
      "002700000003C"
      "1234000000\xC0\xC1\xC2",
      table.Text());
  ASSERT_EQ(3u, table.RecordCount());
  const ObjectRecord second = table.Record(1);
  EXPECT_EQ("0027", second.ObjectNumber());
  EXPECT_EQ("000", second.MinuteCounter());
  EXPECT_EQ("000", second.FaultState());
  EXPECT_EQ("03C", second.Limit());
}

TEST(ObjectTableLoad, LinesEndAtCrLfLfOrCr) {
  const std::string a = ListLine("0001", "001");
  const std::string b = ListLine("0002", "002");
  const std::string expected =
      "0001000000001"
      "0002000000002";
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"CR LF", a + "\r\n" + b + "\r\n"},
      {"LF", a + "\n" + b + "\n"},
      {"CR", a + "\r" + b + "\r"},
      {"mixed, no final break", a + "\r\n\n\r" + b},
  };
  for (const Case& c : cases) {
    ObjectTable table;
    table.Load(c.text, NoPump);
    EXPECT_EQ(expected, table.Text()) << c.name;
  }
}

TEST(ObjectTableLoad, NoColonLinesGiveAnEmptyTable) {
  ObjectTable table;
  table.Load("1234 no colon\r\n 1234000000000000180\r\n\r\n", NoPump);
  EXPECT_EQ(0u, table.RecordCount());
  EXPECT_EQ("", table.Text());
}

TEST(ObjectTableLoad, ShortColonLinesArePaddedSoLaterRecordsStayAligned) {
  ObjectTable table;
  table.Load(":12\n:\n:1234-unread-text18\n" + ListLine("0005", "0A0") + "\n", NoPump);
  EXPECT_EQ(
      "12  000000   "
      "    000000   "
      "123400000018 "
      "00050000000A0",
      table.Text());
  ASSERT_EQ(4u, table.RecordCount());
  EXPECT_EQ("0005", table.Record(3).ObjectNumber());
}

TEST(ObjectTableLoad, ReplacesThePreviousContent) {
  ObjectTable table;
  table.Load(ListLine("0001", "001") + "\n" + ListLine("0002", "002"), NoPump);
  table.Load(ListLine("0003", "003"), NoPump);
  EXPECT_EQ("0003000000003", table.Text());
  table.Load("", NoPump);
  EXPECT_EQ(0u, table.RecordCount());
}

TEST(ObjectTableLoad, PumpRunsBeforeEveryLineAndMayUseTheTable) {
  ObjectTable table;
  int pumps = 0;
  std::vector<std::size_t> records_seen;
  // Pumped events can carry a counter reset; the load must not hold the table meanwhile.
  table.Load("heading\n" + ListLine("0001", "001") + "\n\n" + ListLine("0002", "002") + "\n", [&] {
    ++pumps;
    records_seen.push_back(table.RecordCount());
    table.ResetCounter("0001");
  });
  EXPECT_EQ(4, pumps);
  EXPECT_EQ((std::vector<std::size_t>{0, 0, 1, 1}), records_seen);
  EXPECT_EQ(2u, table.RecordCount());
}

TEST(ObjectTableReset, ResetsEveryMatchingRecordAndKeepsFaultStates) {
  ObjectTable table;
  table.Load(ListLine("1234", "180") + "\n" + ListLine("0027", "03C") + "\n" +
                 ListLine("1234", "00A") + "\n",
             NoPump);
  for (std::size_t i = 0; i < table.RecordCount(); ++i) {
    table.UpdateRecord(i, [](ObjectRecord& record) {
      record.SetMinuteCounter("0B7");
      record.SetFaultState("001");
    });
  }
  table.ResetCounter("1234");
  EXPECT_EQ(
      "1234000001180"
      "00270B700103C"
      "123400000100A",
      table.Text());
}

TEST(ObjectTableReset, MatchesOnlyTheWholeFourCharacterAccount) {
  const std::string loaded = ListLine("1234", "180") + "\n" + ListLine("0027", "03C") + "\n";
  const std::vector<std::string> accounts = {"9999", "123", "12345", "", "1234 ", " 027", "0027\n"};
  for (const std::string& account : accounts) {
    ObjectTable table;
    table.Load(loaded, NoPump);
    for (std::size_t i = 0; i < table.RecordCount(); ++i) {
      table.UpdateRecord(i, [](ObjectRecord& record) { record.SetMinuteCounter("0B7"); });
    }
    const std::string before = table.Text();
    table.ResetCounter(account);
    EXPECT_EQ(before, table.Text()) << "account '" << account << "'";
  }
}

TEST(ObjectTableUpdate, RefusesMissingRecordsAndLengthChanges) {
  ObjectTable table;
  table.Load(ListLine("0001", "001"), NoPump);
  EXPECT_THROW(table.Record(1), std::out_of_range);
  EXPECT_THROW(table.UpdateRecord(1, [](ObjectRecord&) {}), std::out_of_range);
  EXPECT_THROW(table.UpdateRecord(0, [](ObjectRecord& record) { record.SetMinuteCounter("1"); }),
               std::logic_error);
  EXPECT_EQ("0001000000001", table.Text());
}

// Runs each test in a fresh temporary working folder and restores the previous one.
class ObjectListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "object-list-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    folder_ = pattern;
    std::filesystem::current_path(folder_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
  }

  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

TEST_F(ObjectListFileTest, MissingFileLeavesTableAndTextAlone) {
  ObjectTable table;
  table.Load(ListLine("0001", "001"), NoPump);
  std::string file_text = "before";
  EXPECT_EQ(ObjectListLoad::kMissing, LoadObjectList(table, file_text, NoPump));
  EXPECT_EQ("before", file_text);
  EXPECT_EQ("0001000000001", table.Text());
}

TEST_F(ObjectListFileTest, LoadsTheFileOfTheWorkingFolderAsStored) {
  const std::string stored = "\xCE\xE1\xFA\xE5\xEA\xF2\xFB\r\n" + ListLine("1234", "180") + "\r\n";
  {
    std::ofstream file(kObjectListFileName, std::ios::binary);
    file << stored;
  }
  ObjectTable table;
  std::string file_text;
  int pumps = 0;
  EXPECT_EQ(ObjectListLoad::kLoaded, LoadObjectList(table, file_text, [&] { ++pumps; }));
  EXPECT_EQ(stored, file_text);
  EXPECT_EQ("1234000000180", table.Text());
  EXPECT_EQ(2, pumps);
}

TEST_F(ObjectListFileTest, UnreadableFileThrowsAndLeavesTheTableAlone) {
  std::filesystem::create_directory(kObjectListFileName);
  ObjectTable table;
  table.Load(ListLine("0001", "001"), NoPump);
  std::string file_text = "before";
  try {
    LoadObjectList(table, file_text, NoPump);
    FAIL() << "a folder in place of the object list was read";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string::npos, std::string(error.what()).find(kObjectListFileName))
        << error.what();
  }
  EXPECT_EQ("before", file_text);
  EXPECT_EQ("0001000000001", table.Text());
}

TEST(ObjectTableThreads, ResetsAndUpdatesFromSeveralThreadsKeepRecordsWhole) {
  // Updates write the counter and the fault state as a pair; a reader that saw one without
  // the other, or a record shifted out of place, caught an interleaving.
  ObjectTable table;
  table.Load(ListLine("0001", "0F1") + "\n" + ListLine("0002", "0F2") + "\n" +
                 ListLine("0001", "0F3") + "\n" + ListLine("0002", "0F4") + "\n",
             NoPump);
  constexpr int kRounds = 2000;
  std::atomic<bool> torn = false;
  std::vector<std::jthread> threads;
  for (int updater = 0; updater < 2; ++updater) {
    threads.emplace_back([&, updater] {
      for (int round = 0; round < kRounds; ++round) {
        const std::size_t index = static_cast<std::size_t>((round + updater) % 4);
        table.UpdateRecord(index, [](ObjectRecord& record) {
          record.SetMinuteCounter("ABC");
          record.SetFaultState("001");
        });
        table.UpdateRecord(index, [](ObjectRecord& record) {
          record.SetFaultState("000");
          record.SetMinuteCounter("DEF");
        });
      }
    });
  }
  for (const char* account : {"0001", "0002"}) {
    threads.emplace_back([&, account] {
      for (int round = 0; round < kRounds; ++round) table.ResetCounter(account);
    });
  }
  threads.emplace_back([&] {
    const char* objects[] = {"0001", "0002", "0001", "0002"};
    const char* limits[] = {"0F1", "0F2", "0F3", "0F4"};
    for (int round = 0; round < kRounds; ++round) {
      const std::size_t index = static_cast<std::size_t>(round % 4);
      const ObjectRecord record = table.Record(index);
      const std::string_view counter = record.MinuteCounter();
      const std::string_view state = record.FaultState();
      const bool whole = record.text.size() == kObjectRecordLength &&
                         record.ObjectNumber() == objects[index] &&
                         record.Limit() == limits[index] &&
                         (counter == "000" || (counter == "ABC" && state == "001") ||
                          (counter == "DEF" && state == "000"));
      if (!whole) torn = true;
    }
  });
  threads.clear();
  EXPECT_FALSE(torn);
  const std::string text = table.Text();
  ASSERT_EQ(4 * kObjectRecordLength, text.size());
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(i % 2 == 0 ? "0001" : "0002", table.Record(i).ObjectNumber());
  }
}

}  // namespace
}  // namespace gateway
