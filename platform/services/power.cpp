// Display power over the current backend.
#include "platform/services/power.h"

#include "platform/services/backend.h"

void KeepDisplayAwake(bool on) { platform::CurrentBackend().HoldDisplayAwake(on); }

void SystemIdleTimerReset() { platform::CurrentBackend().ResetIdleTimer(); }
