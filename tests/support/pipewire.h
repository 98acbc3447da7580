// Test helper: a private PipeWire session as today's desktops run one:
// pipewire, optionally the WirePlumber session manager, and pipewire-pulse
// (the PulseAudio protocol), on a D-Bus session bus of their own
// (dbus-run-session) with their own runtime, configuration and state
// folders. Without WirePlumber nothing links a stream to a device: a
// capture stream opens and then never receives a sample.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/pulse.h"

namespace testing_support {

class PipeWireSession : public SoundServer {
 public:
  enum class Manager { WirePlumber, None };
  // Starts the session with its files in `dir`, which must outlive it.
  explicit PipeWireSession(const TempDir& dir, Manager manager = Manager::WirePlumber);
  // Stops the player, then each of the session's processes by its id.
  ~PipeWireSession() override;

  // Without WirePlumber there are no defaults to set: the null sink is
  // loaded and the PulseAudio protocol answers, nothing more.
  bool Ready() override;
  std::string Log() const override;

 private:
  pid_t ReadPid(const std::string& name) const;

  Manager m_Manager;
  pid_t m_Bus = -1;  // dbus-run-session, which ends once its shell has
};

}  // namespace testing_support
