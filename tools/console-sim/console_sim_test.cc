// The built simulator, run as the gateway meets it: through a link in a folder, opened by the
// gateway's own console link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channels/console_link.h"
#include "channels/port_list.h"
#include "fixtures/pty_pair.h"
#include "fixtures/temp_dir.h"
#include "supervision/console_exchange.h"

namespace gateway {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The simulator as a child process, its output read line by line.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& arguments) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> all = {CONSOLE_SIM_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int failed =
        posix_spawn(&pid_, CONSOLE_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (failed != 0) pid_ = -1;
  }

  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }

  std::optional<std::string> OutputLine(std::chrono::milliseconds timeout) {
    return LineFrom(out_, out_buffer_, timeout);
  }
  std::optional<std::string> ErrorLine(std::chrono::milliseconds timeout) {
    return LineFrom(err_, err_buffer_, timeout);
  }

  void Signal(int number) { kill(pid_, number); }

  // The exit code, or -1 when the process has not ended within `timeout` (it is then killed).
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) return -1;
      std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  static std::optional<std::string> LineFrom(int fd, std::string& buffer,
                                             std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
      const std::size_t end = buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd pfd{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char chunk[512];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_buffer_;
  std::string err_buffer_;
};

bool Contains(const std::optional<std::string>& line, const std::string& part) {
  return line && line->find(part) != std::string::npos;
}

class ConsoleSimTest : public ::testing::Test {
 protected:
  // Starts the simulator linked as folder/ttyV0 and waits until it is ready.
  std::unique_ptr<SimProcess> Start(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--link=" + link_.string());
    auto sim = std::make_unique<SimProcess>(arguments);
    const std::optional<std::string> ready = sim->ErrorLine(10s);
    EXPECT_TRUE(Contains(ready, "console-sim: console on /dev/pts/")) << ready.value_or("");
    return sim;
  }

  TempDir folder_;
  const fs::path link_ = folder_ / "ttyV0";
};

TEST_F(ConsoleSimTest, AnswersEachFrameAsToldAndRecordsItAsJson) {
  std::unique_ptr<SimProcess> sim = Start({"--format=json", "--reply=ack,none,short,long"});
  ConsoleLink link(folder_.path().string() + "/");
  link.SetPortName("ttyV0");
  ASSERT_TRUE(link.Open());
  const Bytes alarm = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0};
  for (std::size_t expected : {4u, 0u, 3u, 5u}) {
    std::unique_ptr<ConsoleSession> session = link.BeginExchange();
    WriteFrame(*session, alarm);
    EXPECT_EQ(session->Read(100).size(), expected);
  }
  const std::optional<std::string> first = sim->OutputLine(5s);
  EXPECT_TRUE(Contains(first, R"("bytes":"1E 06 02 D1 04 01 50 14 B0","kind":"event",)"
                              R"("checksum_ok":true,"object":1234,"type":"01","payload":"50 14",)"))
      << first.value_or("");
  EXPECT_TRUE(Contains(first, R"(E130/)")) << first.value_or("");
  EXPECT_TRUE(Contains(first, R"("reply":"ack","reply_bytes":"06 06 06 06","reply_delay_ms":0})"));
  EXPECT_TRUE(Contains(sim->OutputLine(5s), R"("reply":"none")"));
  EXPECT_TRUE(Contains(sim->OutputLine(5s), R"("reply":"short")"));
  EXPECT_TRUE(Contains(sim->OutputLine(5s), R"("reply":"long")"));
  ASSERT_TRUE(link.Close());

  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->Wait(5s), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
}

TEST_F(ConsoleSimTest, EndsAfterItsFramesAndRemovesItsLink) {
  std::unique_ptr<SimProcess> sim = Start({"--frames=1", "--delay=20"});
  ConsoleLink link(folder_.path().string() + "/");
  link.SetPortName("ttyV0");
  ASSERT_TRUE(link.Open());
  std::unique_ptr<ConsoleSession> session = link.BeginExchange();
  WriteFrame(*session, Bytes{0x1E, 0x01, 0x01, 0x24});
  EXPECT_EQ(session->Read(100), (Bytes{0x06, 0x06, 0x06, 0x06}));
  EXPECT_TRUE(Contains(sim->OutputLine(5s), "1E 01 01 24  crc ok  link test  -> ack"));
  EXPECT_EQ(sim->Wait(5s), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
}

TEST_F(ConsoleSimTest, ReplacesOnlyAStaleLinkOfItsKind) {
  fs::create_symlink("/dev/pts/999999", link_);  // its pseudo-terminal has gone
  {
    std::unique_ptr<SimProcess> sim = Start({});
    EXPECT_TRUE(fs::exists(link_));  // now leads to a live pseudo-terminal
    EXPECT_NE(fs::read_symlink(link_), "/dev/pts/999999");
    sim->Signal(SIGINT);
    EXPECT_EQ(sim->Wait(5s), 0);
  }

  PtyPair other;  // a live line linked by someone else, as socat does
  fs::create_symlink(other.SlavePath(), link_);
  {
    SimProcess sim({"--link=" + link_.string()});
    EXPECT_TRUE(Contains(sim.ErrorLine(10s), "in use"));
    EXPECT_EQ(sim.Wait(5s), 1);
    EXPECT_EQ(fs::read_symlink(link_), other.SlavePath());
  }
  fs::remove(link_);

  std::ofstream(link_) << "operator's notes";
  {
    SimProcess sim({"--link=" + link_.string()});
    EXPECT_TRUE(Contains(sim.ErrorLine(10s), "no link"));
    EXPECT_EQ(sim.Wait(5s), 1);
  }
  std::ifstream kept(link_);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "operator's notes");
}

TEST(ConsoleSimUsageTest, HelpSucceedsAndBadOptionsFail) {
  {
    SimProcess sim({"--help"});
    EXPECT_TRUE(Contains(sim.OutputLine(10s), "Usage: console-sim"));
    EXPECT_EQ(sim.Wait(5s), 0);
  }
  {
    SimProcess sim({"--reply=sometimes"});
    EXPECT_TRUE(Contains(sim.ErrorLine(10s), "\"sometimes\""));
    EXPECT_EQ(sim.Wait(5s), 2);
  }
}

// Scripts find the index that the gateway stores for a port ("cbPort.ItemIndex") in this list, so
// it must be the gateway's own list, in its order, with the simulators' links in /dev.
TEST(ConsoleSimUsageTest, ListPortsPrintsTheGatewaysPortListOneNameALine) {
  // Linking into /dev needs root; without it the list is still compared, just without a line of
  // the simulator's own.
  std::unique_ptr<SimProcess> linked;
  const std::string link_name = "ttyVlist" + std::to_string(getpid());
  if (access("/dev", W_OK) == 0) {
    linked = std::make_unique<SimProcess>(std::vector<std::string>{"--link=/dev/" + link_name});
    ASSERT_TRUE(Contains(linked->ErrorLine(10s), "linked as /dev/" + link_name));
  }

  // Other programs may add or remove ports meanwhile: a listing counts only when the lists
  // taken just before and just after it agree.
  std::vector<std::string> printed;
  std::vector<std::string> expected;
  for (int attempt = 0; attempt < 5; ++attempt) {
    expected = ListSerialPorts();
    SimProcess lister({"--list-ports"});
    printed.clear();
    while (std::optional<std::string> line = lister.OutputLine(10s)) printed.push_back(*line);
    EXPECT_EQ(lister.Wait(5s), 0);
    if (ListSerialPorts() == expected) break;
  }
  EXPECT_EQ(printed, expected);
  if (linked) {
    EXPECT_NE(std::find(printed.begin(), printed.end(), link_name), printed.end());
    linked->Signal(SIGTERM);
    EXPECT_EQ(linked->Wait(5s), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status("/dev/" + link_name)));
  }
}

}  // namespace
}  // namespace gateway
