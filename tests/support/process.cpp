#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace testing_support {

pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& out, const std::string& err, const std::string& cwd) {
  std::vector<std::string> envs;
  for (char** e = environ; *e; e++) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& x : env)
      if (x.substr(0, x.find('=')) == key) replaced = true;
    if (!replaced) envs.push_back(entry);
  }
  for (const std::string& x : env) envs.push_back(x);

  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : envs) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.empty() ? "/dev/null" : err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

namespace {
int Decode(int raw) {
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
}
}  // namespace

bool ProcessRunning(pid_t pid, int* status) {
  int raw = 0;
  pid_t r = waitpid(pid, &raw, WNOHANG);
  if (r == 0) return true;
  if (r == pid && status) *status = Decode(raw);
  return false;
}

int StopProcess(pid_t pid, int sig, int timeoutMs) {
  if (pid <= 0) return -1;
  kill(pid, sig);
  int status = -1;
  if (WaitFor([&] { return !ProcessRunning(pid, &status); }, timeoutMs)) return status;
  kill(pid, SIGKILL);
  int raw = 0;
  if (waitpid(pid, &raw, 0) == pid) return Decode(raw);
  return -1;
}

int WaitProcess(pid_t pid, int timeoutMs) {
  if (pid <= 0) return -1;
  int status = -1;
  if (WaitFor([&] { return !ProcessRunning(pid, &status); }, timeoutMs)) return status;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

bool WaitFor(const std::function<bool()>& ready, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace testing_support
