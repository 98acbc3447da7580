// libFuzzer target: menu item strings and titles. The input, split at its
// first zero byte into a title and an item string, is read and laid out
// by Menu::Init; every caption must then lie within the menu's own copy,
// every value have come from two characters, and the buttons match.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common_code/menu.h"
#include "platform/winapi/alert.h"

namespace {
void Quiet(const char*, const char*) {}
Menu* g_Menu = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetAlertHandler(&Quiet);
  g_Menu = new Menu;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t zero = input.find('\0');
  std::string title = zero == std::string::npos ? "" : input.substr(0, zero);
  std::string items = zero == std::string::npos ? input : input.substr(zero + 1);
  Menu& m = *g_Menu;
  int n = m.Init(title.c_str(), items.c_str());
  if (n < 0 || n > Menu::kMaxItems || n != m.NoItems || m.ba.NoButtons != n) std::abort();
  if (std::strlen(m.Title) >= sizeof m.Title) std::abort();
  for (int i = 0; i < n; i++) {
    const char* caption = m.Args[i];
    if (caption < m.ItemString + 2 || caption >= m.ItemString + sizeof m.ItemString) std::abort();
    if (std::strchr(caption, ',')) std::abort();
    if (static_cast<unsigned char>(10 * (caption[-2] - '0') + (caption[-1] - '0')) != m.Val[i])
      std::abort();
    if (m.ba.button[i].Text != caption || m.ba.button[i].ID != i + 1) std::abort();
  }
  return 0;
}
