#include "support/pulse.h"

#include <signal.h>
#include <sys/stat.h>

namespace testing_support {

namespace {
std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
}  // namespace

SoundServer::~SoundServer() { StopPlaying(); }

bool SoundServer::Play(const std::string& wav) {
  m_Player = StartProcess({"paplay", wav}, m_Env, "", m_Dir.File("paplay.log"));
  return m_Player > 0;
}

void SoundServer::StopPlaying() {
  StopProcess(m_Player, SIGTERM, 5000);
  m_Player = -1;
}

std::string SoundServer::Env() const {
  std::string e;
  for (const std::string& x : m_Env) e += ShellQuote(x) + " ";
  return e;
}

CommandResult SoundServer::Client(const std::string& command) {
  return RunCommand("env " + Env() + command);
}

bool SoundServer::MakeNullSinkDefault(bool load) {
  bool up = WaitFor([&] { return Client("pactl info").Status == 0; }, 20000);
  if (up && load)
    up = Client("pactl load-module module-null-sink sink_name=zelvaro_null").Status == 0;
  return up && Client("pactl set-default-source zelvaro_null.monitor").Status == 0 &&
         Client("pactl set-default-sink zelvaro_null").Status == 0;
}

PulseServer::PulseServer(const TempDir& dir) : SoundServer(dir) {
  WriteFile(dir.File("client.conf"), Bytes("autospawn = no\n"));
  mkdir(dir.File("runtime").c_str(), 0700);
  m_Env = {"HOME=" + dir.Path(),
           "XDG_RUNTIME_DIR=" + dir.File("runtime"),
           "PULSE_RUNTIME_PATH=" + dir.File("runtime/pulse"),
           "PULSE_STATE_PATH=" + dir.File("state"),
           "PULSE_CLIENTCONFIG=" + dir.File("client.conf"),
           "PULSE_SERVER=unix:" + dir.File("native")};
  m_Pid = StartProcess(
      {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
       "--system=no", "--disable-shm=yes", "--log-target=stderr", "-L",
       "module-native-protocol-unix socket=" + dir.File("native") + " auth-anonymous=1", "-L",
       "module-null-sink sink_name=zelvaro_null"},
      m_Env, "", dir.File("pulse.log"));
}

PulseServer::~PulseServer() {
  StopPlaying();
  // A server a test stopped with SIGSTOP must run again to see SIGTERM.
  if (m_Pid > 0) kill(m_Pid, SIGCONT);
  StopProcess(m_Pid, SIGTERM, 10000);
}

bool PulseServer::Ready() { return m_Pid > 0 && MakeNullSinkDefault(false); }

std::string PulseServer::Log() const { return ReadFileText(m_Dir.File("pulse.log")); }

}  // namespace testing_support
