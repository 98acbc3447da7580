// Display power over the current backend.
#include "platform/power.h"

#include "platform/backend.h"

void KeepDisplayAwake(bool on) { platform::CurrentBackend().HoldDisplayAwake(on); }

void SystemIdleTimerReset() { platform::CurrentBackend().ResetIdleTimer(); }
