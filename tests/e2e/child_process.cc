#include "e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace gateway::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// The test's environment with `additions` laid over it, as execve wants it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& additions) {
  std::map<std::string, std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    entries[text.substr(0, text.find('='))] = text;
  }
  for (const std::string& text : additions) entries[text.substr(0, text.find('='))] = text;
  std::vector<std::string> merged;
  for (auto& [name, text] : entries) merged.push_back(std::move(text));
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Forks and executes; `output_fd` becomes the child's standard output and error (-1: /dev/null).
// Between fork and exec the child makes system calls only.
pid_t Spawn(std::vector<std::string> argv, const std::vector<std::string>& environment,
            const std::filesystem::path& working_folder, int output_fd) {
  if (argv.empty()) throw std::runtime_error("no program to start");
  std::vector<std::string> merged = MergedEnvironment(environment);
  std::vector<char*> argv_pointers = Pointers(argv);
  std::vector<char*> env_pointers = Pointers(merged);
  const std::string folder = working_folder.string();
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd < 0) _exit(126);
    const int out = output_fd >= 0 ? output_fd : null_fd;
    if (dup2(null_fd, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
    close_range(3, ~0U, 0);
    execve(argv_pointers[0], argv_pointers.data(), env_pointers.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

ChildProcess::ChildProcess(const ChildOptions& launch) {
  int output_fd = -1;
  if (!launch.output.empty()) {
    output_fd = open(launch.output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (output_fd < 0) {
      throw std::runtime_error("cannot open " + launch.output.string() + ": " +
                               std::strerror(errno));
    }
  }
  try {
    pid_ = Spawn(launch.argv, launch.environment, launch.working_folder, output_fd);
  } catch (...) {
    if (output_fd >= 0) close(output_fd);
    throw;
  }
  if (output_fd >= 0) close(output_fd);
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Running() {
  if (status_) return false;
  int status = 0;
  const pid_t reaped = waitpid(pid_, &status, WNOHANG);
  if (reaped == pid_) {
    status_ = status;
    return false;
  }
  return true;
}

bool ChildProcess::WaitExit(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Running()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return 0;
  if (Running()) {
    kill(pid_, SIGTERM);
    if (!WaitExit(grace)) {
      kill(pid_, SIGKILL);
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      status_ = status;
    }
  }
  return *status_;
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                         const std::vector<std::string>& environment) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  pid_t pid = -1;
  try {
    pid = Spawn(argv, environment, {}, pipe_fds[1]);
  } catch (...) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    throw;
  }
  close(pipe_fds[1]);

  CommandResult result;
  const auto deadline = Clock::now() + limit;
  bool killed = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd watched{pipe_fds[0], POLLIN, 0};
    const int ready = poll(&watched, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // every copy of the write end is closed: the command has ended
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.finished = !killed;
  result.exit_code = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string DescribeWaitStatus(int status) {
  if (WIFEXITED(status)) return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

}  // namespace gateway::e2e
