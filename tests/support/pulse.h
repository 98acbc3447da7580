// Test helper: a PulseAudio server started for one test alone, with its own
// runtime folder and a null sink whose monitor is the default source, so a
// sound played into it with paplay is what a program records, without any
// sound card.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/wav.h"

namespace testing_support {

class PulseServer {
 public:
  // Starts the server with its files in `dir`, which must outlive it.
  explicit PulseServer(const TempDir& dir);
  // Stops the player and the server.
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // Waits for the server and makes the null sink's monitor the default
  // source and the null sink the default sink.
  bool Ready();
  // Plays a WAVE file into the null sink in the background.
  bool Play(const std::string& wav);
  // The environment a client needs to reach this server, as a list and as
  // shell words.
  const std::vector<std::string>& EnvList() const { return m_Env; }
  std::string Env() const;
  CommandResult Client(const std::string& command);
  std::string Log() const;

 private:
  const TempDir& m_Dir;
  std::vector<std::string> m_Env;
  pid_t m_Pid = -1;
  pid_t m_Player = -1;
};

}  // namespace testing_support
