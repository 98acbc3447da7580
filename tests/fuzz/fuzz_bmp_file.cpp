// libFuzzer target: CDib::LoadBMP from a file (the pocket build, whose file
// loader adds its own refusals), followed by a save and a reload of what
// was decoded.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common_code/dib.h"
#include "platform/winapi/alert.h"

namespace {
std::string g_Input, g_Output;
void Quiet(const char*, const char*) {}
void RemoveFiles() {
  std::remove(g_Input.c_str());
  std::remove(g_Output.c_str());
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetAlertHandler(&Quiet);
  std::atexit(&RemoveFiles);
  std::string base = "/tmp/zelvaro-fuzz-bmp-" + std::to_string(getpid());
  g_Input = base + "-in.bmp";
  g_Output = base + "-out.bmp";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(g_Input.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  CDib d;
  if (d.LoadBMP(g_Input.c_str())) {
    if (!SaveBitmap(&d, g_Output.c_str())) __builtin_trap();
    CDib again;
    if (!again.LoadBMP(g_Output.c_str()) || again.W != d.W || again.H != d.H ||
        std::memcmp(again.m_Bits, d.m_Bits, sizeof(PIXEL) * d.W * d.H) != 0)
      __builtin_trap();
  } else if (d.m_Bits || d.W || d.H) {
    __builtin_trap();
  }
  return 0;
}
