// libFuzzer target: BMP decoding from memory, as a whole file image and as a
// packed bitmap (the resource form), in both pixel layouts. Every input must
// be either refused, leaving an empty surface, or decoded into a surface of
// the size its header gives.
#include <cstddef>
#include <cstdint>

#include "common_code/dib.h"
#include "platform/winapi/alert.h"

namespace {
void Quiet(const char*, const char*) {}

void Check(const CDib& d, int loaded) {
  if (loaded) {
    if (!d.m_Bits || d.W < 1 || d.H < 1 || d.W > 16384 || d.H > 16384) __builtin_trap();
    // Touch every pixel so that a short allocation shows.
    volatile PIXEL sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(d.W) * d.H; i++) sum = sum + d.m_Bits[i];
  } else if (d.m_Bits || d.W || d.H) {
    __builtin_trap();
  }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetAlertHandler(&Quiet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DisplayProperties.ffFormat = (size & 1) ? kfDirect565 : kfDirect555;
  CDib d;
  Check(d, d.LoadBMPImage(data, size));
  Check(d, d.LoadPackedDIB(data, size));
  if (size > 14) Check(d, d.LoadPackedDIB(data + 14, size - 14));
  return 0;
}
