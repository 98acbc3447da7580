// libFuzzer target: font records and strips. The input is read as a
// width-list record (from memory and as the .INF file beside a fixed
// strip) and as a marked-cell strip image; each font then measures and
// prints every character code onto a small surface.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common_code/dib.h"
#include "common_code/font.h"
#include "platform/winapi/alert.h"

namespace {
std::string g_Strip, g_Record, g_Marked;
char g_Text[256];
void Quiet(const char*, const char*) {}
void RemoveFiles() {
  std::remove(g_Record.c_str());
  std::remove(g_Strip.c_str());
  std::remove(g_Marked.c_str());
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void Exercise(Font& font, int maxwid) {
  CDib screen;
  if (!screen.Create(64, 24)) return;
  screen.Clear(0);
  font.GetTextLength(g_Text);
  font.GetMaxLineLength(g_Text, maxwid);
  font.Print(&screen, 0, 0, g_Text, 0xFFFF, 8);
  font.Print(&screen, -3, 5, g_Text + 32, 0xFFFF, 1);
  font.SetOpacity(100);
  font.Print(&screen, -1, -4, g_Text + 200, 0, 3);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetAlertHandler(&Quiet);
  std::atexit(&RemoveFiles);
  for (int i = 0; i < 255; i++) g_Text[i] = static_cast<char>(i + 1);
  std::string base = "/tmp/zelvaro-fuzz-font-" + std::to_string(getpid());
  g_Strip = base + ".BMP";
  g_Record = base + ".INF";
  g_Marked = base + "-marked.BMP";
  // A 300 x 12 strip of stripes for the records to index.
  CDib strip;
  if (!strip.Create(300, 12)) return 0;
  for (int x = 0; x < 300; x++) strip.Fill(x, 0, x + 1, 12, static_cast<unsigned short>(x * 97));
  SaveBitmap(&strip, g_Strip.c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int maxwid = size ? data[0] * 4 - 100 : 0;
  Font memory;
  memory.SetCharMap(data, size);
  Exercise(memory, maxwid);

  Write(g_Record, data, size);
  Font file;
  file.LoadFont(g_Strip.c_str());
  Exercise(file, maxwid);

  Write(g_Marked, data, size);
  Font marked;
  marked.LoadGAPIFont(nullptr, g_Marked.c_str());
  Exercise(marked, maxwid);
  return 0;
}
