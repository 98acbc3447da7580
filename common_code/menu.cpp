// The pop-up menu (menu.h).
#include "common_code/menu.h"

#include <algorithm>
#include <cstring>

#include "platform/winapi/resources.h"

namespace {

// Per-build constants.
constexpr int kMenuWidth = kPocket ? 190 : 160;
constexpr int kDeskLeft = 40;
constexpr int kDeskHeight = 320;                  // the desk centres on its 320 rows
constexpr int kZoomStep = kPocket ? 10 : 5;       // pixels the zoom grows by per step
constexpr unsigned kStepTime = kPocket ? 5 : 10;  // ms at least per zoom step
constexpr int kPanelAlpha = 128;

// Copies `from` into the `size`-byte buffer `to`, cut to fit.
void CopyCut(char* to, size_t size, const char* from) {
  size_t n = from ? std::min(std::strlen(from), size - 1) : 0;
  if (n) std::memcpy(to, from, n);
  to[n] = '\0';
}

// The screen's size as the application draws it (pocket: turned for a
// landscape screen).
int ScreenWidth() {
  return static_cast<int>(ScreenOrientation ? DisplayProperties.cyHeight
                                            : DisplayProperties.cxWidth);
}
int ScreenHeight() {
  return static_cast<int>(ScreenOrientation ? DisplayProperties.cxWidth
                                            : DisplayProperties.cyHeight);
}

}  // namespace

Menu::Menu() { f2.LoadGAPIFont(GetModuleHandle(nullptr), "MENUFONT"); }

int Menu::Init(const char* title, const char* items) {
  CopyCut(ItemString, sizeof ItemString, items);
  CopyCut(Title, sizeof Title, title);
  NoItems = 0;
  for (char* next = ItemString; next;) {
    char* item = next;
    char* comma = std::strchr(item, ',');
    if (comma) *comma = '\0';
    next = comma ? comma + 1 : nullptr;
    // Without both digits there is no value, and the caption would start
    // beyond the item's end.
    if (NoItems == kMaxItems || item[0] == '\0' || item[1] == '\0') continue;
    Val[NoItems] = static_cast<unsigned char>(10 * (item[0] - '0') + (item[1] - '0'));
    Args[NoItems] = item + 2;
    NoItems++;
  }

  StartX = kPocket ? (ScreenWidth() - kMenuWidth) / 2 : kDeskLeft;
  Width = kMenuWidth;
  if (NoItems <= 8) {
    Height = 21;
    Pitch = 28;
  } else {
    Height = 19;
    Pitch = 25;
  }
  TitleHgt = Title[0] ? 20 : 0;
  const int h = NoItems * Pitch - (Pitch - Height);
  StartY = ((kPocket ? ScreenHeight() : kDeskHeight) - h) / 2 + TitleHgt / 2;

  ba.DeleteButtons();
  for (int i = 0; i < NoItems; i++) {
    const auto id = static_cast<unsigned short>(i + 1);
    if constexpr (kPocket) {
      ba.AddButton(id, Args[i], StartX, StartY + i * Pitch, Width, Height, 0);
    } else {
      ba.AddButton(id, Args[i], StartX, StartY + i * Pitch, Width, Height, BUTTON_ROUNDED);
      ba.SetButtonColor(id, ColorValue(255, 255, 255), -1, -1, -1);
    }
  }
  MenuRect = RECT{StartX - 10, StartY - TitleHgt - 10, StartX + Width + 10, StartY + h + 10};
  return NoItems;
}

void Menu::Step(CScreen* screen, CDib& background, int x1, int y1, int x2, int y2) {
  resettimer();
  CopyDib(screen, &background);
  screen->Fill2(x1, y1, x2, y2, ColorValue(255, 255, 255), kPanelAlpha);
  screen->Refresh();
  // msecs moves only with the clock, which Sleep moves on the headless
  // backend: the wait sleeps rather than spins.
  while (msecs() < kStepTime) Sleep(1);
}

int Menu::Go(CScreen* screen, const char* title, const char* items, int flags) {
  if (!Init(title, items) || !screen || !screen->m_Bits) return 0;
  // The background the menu is drawn over: the screen, darkened on the desk.
  CDib background;
  if (!CopyDib(&Screen, screen) || !CopyDib(&background, screen)) return 0;
  if constexpr (!kPocket) background.Darken(0, 0, background.W, background.H, 0);
  CopyDib(screen, &background);

  const RECT r = MenuRect;
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int cx = r.left + w / 2, cy = r.top + h / 2;
  if (flags & MENU_OPEN) {
    for (int i = 1; i < w / 2; i += kZoomStep)
      Step(screen, background, cx - i, cy - 1, cx + i, cy + 1);
    for (int i = 1; i < h / 2; i += kZoomStep)
      Step(screen, background, r.left, cy - i, r.right, cy + i);
  }
  int choice = 0;
  if (flags & MENU_WAIT) {
    CopyDib(screen, &background);
    screen->Box(r.left - 1, r.top - 1, r.right, r.bottom, ColorValue(0, 255, 255));
    screen->Box(r.left - 2, r.top - 2, r.right + 1, r.bottom + 1, ColorValue(0, 0, 255));
    screen->Fill2(r.left, r.top, r.right, r.bottom, ColorValue(255, 255, 255), kPanelAlpha);
    if (Title[0]) f2.Print(screen, -1, StartY - TitleHgt - 6, Title, 0, kCopyTransparent);
    ba.Paint(screen);
    screen->Refresh();
    choice = ba.WaitOnButtonPress();
  }
  if (flags & MENU_CLOSE) {
    for (int i = h / 2; i > 0; i -= kZoomStep)
      Step(screen, background, r.left, cy - i, r.right, cy + i);
    for (int i = w / 2; i >= 0; i -= kZoomStep)
      Step(screen, background, cx - i, cy - 1, cx + i, cy + 1);
  }
  CopyDib(screen, &Screen);
  return choice >= 1 && choice <= NoItems ? Val[choice - 1] : 0;
}
