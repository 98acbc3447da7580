// Test helper: programs started in the background and stopped by process
// id, for whole-program tests that need a service running beside them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Starts `argv` with `env` added to (or replacing entries of) this
// process's environment, standard output and error going to the files
// `out` and `err` (empty: /dev/null), in the folder `cwd` (empty: this
// process's). Returns the process id, or -1.
pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& out, const std::string& err, const std::string& cwd = "");

// Whether the process is still running (it is reaped if it has ended).
bool ProcessRunning(pid_t pid, int* status = nullptr);

// Sends `sig` and waits up to `timeoutMs` for the process to end, then
// kills it. Returns its exit status as RunCommand reports one (128 + signal
// for a signal), or -1 if it was not ours to wait for.
int StopProcess(pid_t pid, int sig, int timeoutMs);

// Waits up to `timeoutMs` for the process to end by itself and returns its
// status as StopProcess does; kills it and returns -1 when it does not.
int WaitProcess(pid_t pid, int timeoutMs);

// Polls `ready` every 20 ms until it returns true or `timeoutMs` pass.
bool WaitFor(const std::function<bool()>& ready, int timeoutMs);

}  // namespace testing_support
