#include "support/pipewire.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace testing_support {

namespace {
// The processes of the session, in the order they are stopped.
const char* const kDaemons[] = {"pipewire-pulse", "wireplumber", "pipewire"};

bool Alive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }
}  // namespace

PipeWireSession::PipeWireSession(const TempDir& dir, Manager manager)
    : SoundServer(dir), m_Manager(manager) {
  const std::string runtime = dir.File("pw-runtime");
  mkdir(runtime.c_str(), 0700);
  m_Env = {"HOME=" + dir.Path(),
           "XDG_RUNTIME_DIR=" + runtime,
           "XDG_CONFIG_HOME=" + dir.File("pw-config"),
           "XDG_STATE_HOME=" + dir.File("pw-state"),
           "PIPEWIRE_RUNTIME_DIR=" + runtime,
           "PULSE_RUNTIME_PATH=" + runtime + "/pulse",
           "PULSE_SERVER=unix:" + runtime + "/pulse/native",
           "DISPLAY="};
  // Each daemon writes its process id, so that each is stopped by its id.
  std::string script = "cd " + ShellQuote(dir.Path()) + " && pipewire & echo $! > " +
                       ShellQuote(dir.File("pipewire.pid")) + "; ";
  // The others connect to pipewire once, at their start: they wait for its
  // socket (ten seconds at the most).
  script += "i=0; while [ ! -S " + ShellQuote(runtime + "/pipewire-0") +
            " ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; ";
  if (manager == Manager::WirePlumber)
    script += "wireplumber & echo $! > " + ShellQuote(dir.File("wireplumber.pid")) + "; ";
  script += "pipewire-pulse & echo $! > " + ShellQuote(dir.File("pipewire-pulse.pid")) + "; wait";
  m_Bus = StartProcess({"dbus-run-session", "--", "sh", "-c", script}, m_Env, "",
                       dir.File("pipewire.log"));
}

pid_t PipeWireSession::ReadPid(const std::string& name) const {
  std::string text = ReadFileText(m_Dir.File(name + ".pid"));
  return text.empty() ? -1 : static_cast<pid_t>(std::atol(text.c_str()));
}

PipeWireSession::~PipeWireSession() {
  StopPlaying();
  for (const char* name : kDaemons) {
    pid_t pid = ReadPid(name);
    if (!Alive(pid)) continue;
    kill(pid, SIGCONT);
    kill(pid, SIGTERM);
    if (!WaitFor([&] { return !Alive(pid); }, 5000)) kill(pid, SIGKILL);
  }
  // With its shell gone, dbus-run-session stops the bus and ends.
  StopProcess(m_Bus, SIGTERM, 5000);
}

bool PipeWireSession::Ready() {
  if (m_Bus <= 0) return false;
  if (m_Manager == Manager::WirePlumber) return MakeNullSinkDefault(true);
  return WaitFor([&] { return Client("pactl info").Status == 0; }, 20000) &&
         Client("pactl load-module module-null-sink sink_name=zelvaro_null").Status == 0;
}

std::string PipeWireSession::Log() const { return ReadFileText(m_Dir.File("pipewire.log")); }

}  // namespace testing_support
