// Buttons: drawing, hit testing, commands and the modal waits.
#include "common_code/button.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common_code/particle.h"
#include "common_code/shader.h"
#include "platform/winapi/gx.h"

Font buttonfont;

namespace {

// Per-build constants.
constexpr DWORD kRedrawInterval = kPocket ? 20 : 40;  // WaitOnButtonPress2, ms

// The tap point of a mouse message's lParam: x in the low word, y in the
// high word, both unsigned; the handheld scales y by the stylus factor.
void TapPoint(LPARAM lParam, int& x, int& y) {
  x = LOWORD(lParam);
  y = HIWORD(lParam);
  if constexpr (kPocket) y = static_cast<int>(static_cast<float>(y) * StylusScale);
}

int Clip(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

}  // namespace

void InitButtons() { buttonfont.LoadFont(nullptr, "FONT2"); }

// Button ------------------------------------------------------------------------------------

void Button::Draw(CDib* dib) {
  if (!dib || (Flags & BUTTON_HIDDEN)) return;
  const int L = r.left, T = r.top, R = r.right, B = r.bottom;
  const long long W = static_cast<long long>(R) - L, H = static_cast<long long>(B) - T;
  if (!(Flags & BUTTON_NOFACE)) {
    if (Flags & BUTTON_ROUNDED) {
      int radius = static_cast<int>(H / 2);
      DrawButton(dib, Clip(static_cast<long long>(L) + radius),
                 Clip(static_cast<long long>(T) + radius), radius, Clip(W - H), nullptr);
    } else {
      dib->Fill(L, T, R, B, BtnColor);
      dib->Box(L, T, R, B, BorderColor);
      if (!(Flags & BUTTON_FLAT)) {
        const unsigned short grey64 = ColorValue(64, 64, 64), grey128 = ColorValue(128, 128, 128),
                             white = ColorValue(255, 255, 255);
        dib->hLine(Clip(L + 1LL), Clip(B - 1LL), Clip(W - 1), grey64);
        dib->vLine(Clip(R - 1LL), Clip(T + 1LL), Clip(H - 1), grey64);
        dib->hLine(Clip(L + 2LL), Clip(B - 2LL), Clip(W - 3), grey128);
        dib->vLine(Clip(R - 2LL), Clip(T + 2LL), Clip(H - 3), grey128);
        dib->hLine(Clip(L + 1LL), Clip(T + 1LL), Clip(W - 2), white);
        dib->vLine(Clip(L + 1LL), Clip(T + 1LL), Clip(H - 2), white);
      }
    }
  }
  if (!Text) return;
  const unsigned short colour = (Flags & BUTTON_DISABLED) ? GrayText : TextColor;
  if (Flags & BUTTON_SMALLTEXT) {
    // The horizontal half is taken unsigned: a caption wider than the button
    // lands far to the right and is not drawn.
    unsigned spare = static_cast<unsigned>(W - 8LL * static_cast<long long>(std::strlen(Text)));
    long long x = static_cast<long long>(L) + spare / 2u;
    long long y = static_cast<long long>(T) + (H - 8) / 2;
    if (x > INT_MAX || y < INT_MIN || y > INT_MAX) return;
    dib->Print(Text, static_cast<int>(x), static_cast<int>(y), colour);
  } else {
    long long x = static_cast<long long>(L) + (W - buttonfont.GetTextLength(Text)) / 2;
    long long y = static_cast<long long>(T) + (H - buttonfont.Height) / 2;
    // Font::Print centres on the surface for a negative x: a caption wider
    // than a button at the left edge starts at the edge instead.
    buttonfont.Print(dib, Clip(std::max(x, 0LL)), Clip(y), Text, colour, kCopySilhouette);
  }
}

// ButtonArray ----------------------------------------------------------------------------

int ButtonArray::AddButton(unsigned short ID, const char* text, int x, int y, int width, int height,
                           unsigned short flags) {
  if (NoButtons >= kMaxButtons) return 0;
  Button& b = button[NoButtons];
  b.r =
      RECT{x, y, Clip(static_cast<long long>(x) + width), Clip(static_cast<long long>(y) + height)};
  b.ID = ID;
  b.Flags = static_cast<unsigned char>(flags);
  b.Text = text;
  b.TextColor = ColorValue(0, 0, 0);
  b.BtnColor = ColorValue(192, 192, 192);
  b.BorderColor = ColorValue(0, 0, 0);
  b.GrayText = ColorValue(128, 128, 128);
  NoButtons++;
  return 1;
}

int ButtonArray::GetSelectedIndex(int x, int y) const {
  const POINT pt{x, y};
  for (int i = 0; i < NoButtons; i++)
    if (PtInRect(&button[i].r, pt)) return i + 1;
  return 0;
}

int ButtonArray::GetIndexFromID(unsigned short ID) const {
  for (int i = 0; i < NoButtons; i++)
    if (button[i].ID == ID) return i + 1;
  return 0;
}

void ButtonArray::SetButtonText(unsigned short ID, const char* text) {
  if (int i = GetIndexFromID(ID)) button[i - 1].Text = text;
}

void ButtonArray::SetButtonColor(unsigned short ID, int textcol, int btncol, int bordercol,
                                 int graytext) {
  int i = GetIndexFromID(ID);
  if (!i) return;
  Button& b = button[i - 1];
  if (textcol != -1) b.TextColor = static_cast<PIXEL>(textcol);
  if (btncol != -1) b.BtnColor = static_cast<PIXEL>(btncol);
  if (bordercol != -1) b.BorderColor = static_cast<PIXEL>(bordercol);
  if (graytext != -1) b.GrayText = static_cast<PIXEL>(graytext);
}

void ButtonArray::SetButtonFlags(unsigned short ID, unsigned char flags) {
  if (int i = GetIndexFromID(ID)) button[i - 1].Flags = flags;
}

void ButtonArray::EnableButton(unsigned short ID, int enable) {
  int i = GetIndexFromID(ID);
  if (!i) return;
  unsigned char& f = button[i - 1].Flags;
  f = static_cast<unsigned char>(enable ? f & ~BUTTON_DISABLED : f | BUTTON_DISABLED);
}

void ButtonArray::Paint(CDib* dib) {
  for (int i = 0; i < NoButtons; i++) button[i].Draw(dib);
}

int ButtonArray::ProcessEvent(void* hwnd, int message, unsigned, long lParam) {
  if (message != WM_LBUTTONDOWN) return 0;
  int x, y;
  TapPoint(static_cast<LPARAM>(lParam), x, y);
  int i = GetSelectedIndex(x, y);
  if (!i || (button[i - 1].Flags & (BUTTON_HIDDEN | BUTTON_DISABLED))) return 0;
  PostMessage(static_cast<HWND>(hwnd), WM_COMMAND, button[i - 1].ID, 0);
  return 1;
}

int ButtonArray::WaitOnButtonPress() {
  int pressed = 0;
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0)) {
    int x, y;
    switch (msg.message) {
      case WM_KEYDOWN:
        if constexpr (kPocket) {
          const GXKeyList keys = GXGetDefaultKeys(GX_NORMALKEYS);
          const auto vk = static_cast<short>(msg.wParam);
          if (vk == keys.vkUp) return kGameKeyUp;
          if (vk == keys.vkDown) return kGameKeyDown;
          if (vk == keys.vkLeft) return kGameKeyLeft;
          if (vk == keys.vkRight) return kGameKeyRight;
          if (vk == keys.vkA || vk == keys.vkB || vk == keys.vkC || vk == keys.vkStart) return 0;
        }
        break;
      case WM_KEYUP:
        if constexpr (kPocket) {
          TranslateMessage(&msg);
          DispatchMessage(&msg);
        }
        break;
      case WM_MOUSEMOVE:
        break;
      case WM_LBUTTONDOWN:
        TapPoint(msg.lParam, x, y);
        pressed = GetSelectedIndex(x, y);
        break;
      case WM_LBUTTONUP: {
        TapPoint(msg.lParam, x, y);
        int released = GetSelectedIndex(x, y);
        if (released && released == pressed) return button[released - 1].ID;
        break;
      }
      default:
        TranslateMessage(&msg);
        DispatchMessage(&msg);
        break;
    }
  }
  PostQuitMessage(static_cast<int>(msg.wParam));
  return 0;
}

int ButtonArray::WaitOnButtonPress2(CScreen* screen) {
  CDib picture;
  if (!screen || !screen->m_Bits || !CopyDib(&picture, screen)) return 1;
  // The first pass redraws at once.
  DWORD last = GetTickCount() - kRedrawInterval - 1;
  for (;;) {
    DWORD now = GetTickCount();
    if (now - last > kRedrawInterval) {
      screen->BitBlt(0, 0, picture.W, picture.H, &picture, 0, 0, kCopyBlock);
      Paint(screen);
      particlesystem.Update(screen, 1);
      screen->Refresh();
      last = now;
    }
    Sleep(1);
    MSG msg;
    if (!PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) continue;
    switch (msg.message) {
      case WM_QUIT:
        PostQuitMessage(static_cast<int>(msg.wParam));
        return 0;
      case WM_KEYDOWN:
      case WM_KEYUP:
      case WM_MOUSEMOVE:
      case WM_LBUTTONDOWN:
        break;
      case WM_LBUTTONUP: {
        int x, y;
        TapPoint(msg.lParam, x, y);
        int i = GetSelectedIndex(x, y);
        if (i && !(button[i - 1].Flags & BUTTON_DISABLED)) return button[i - 1].ID;
        break;
      }
      default:
        TranslateMessage(&msg);
        DispatchMessage(&msg);
        break;
    }
  }
}
