// Test helpers: sound servers started for one test alone, each with its own
// runtime folder and a null sink whose monitor is the default source, so a
// sound played into it with paplay is what a program records, without any
// sound card. PulseServer is a PulseAudio daemon; PipeWireSession (in
// support/pipewire.h) is PipeWire with pipewire-pulse on a private bus.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/wav.h"

namespace testing_support {

// What both servers offer a test: the environment that reaches them, a
// PulseAudio client command, a tone player, and their log.
class SoundServer {
 public:
  virtual ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Waits for the server and makes the null sink's monitor the default
  // source and the null sink the default sink.
  virtual bool Ready() = 0;
  // Plays a WAVE file into the default sink in the background.
  bool Play(const std::string& wav);
  // Stops the player started by Play.
  void StopPlaying();
  // The environment a client needs to reach this server, as a list and as
  // shell words.
  const std::vector<std::string>& EnvList() const { return m_Env; }
  std::string Env() const;
  CommandResult Client(const std::string& command);
  virtual std::string Log() const = 0;

 protected:
  explicit SoundServer(const TempDir& dir) : m_Dir(dir) {}
  // Loads a null sink through the PulseAudio protocol and makes it and its
  // monitor the defaults, once `pactl info` answers.
  bool MakeNullSinkDefault(bool load);

  const TempDir& m_Dir;
  std::vector<std::string> m_Env;
  pid_t m_Player = -1;
};

class PulseServer : public SoundServer {
 public:
  // Starts the server with its files in `dir`, which must outlive it.
  explicit PulseServer(const TempDir& dir);
  // Stops the player and the server.
  ~PulseServer() override;

  bool Ready() override;
  std::string Log() const override;
  pid_t Pid() const { return m_Pid; }

 private:
  pid_t m_Pid = -1;
};

}  // namespace testing_support
