// On-screen buttons: a fixed set of up to 12 rectangular buttons drawn into
// a surface by their owner each frame, hit-tested by the tap point, and
// either posting their command to a window (ProcessEvent) or ending a modal
// wait (WaitOnButtonPress). Captions are drawn with one shared font,
// `buttonfont`, loaded by InitButtons.
#pragma once

#include "common_code/dib.h"
#include "common_code/font.h"
#include "common_code/xdib.h"

// Flag bits of Button::Flags.
enum : unsigned char {
  BUTTON_HIDDEN = 0x01,     // not drawn; taps through ProcessEvent ignored
  BUTTON_DISABLED = 0x02,   // caption in GrayText; taps ignored
  BUTTON_FLAT = 0x08,       // no bevel
  BUTTON_NOFACE = 0x10,     // caption only
  BUTTON_ROUNDED = 0x20,    // a shaded capsule (DrawButton) instead of a rectangle
  BUTTON_SMALLTEXT = 0x40,  // caption in the built-in 8-pixel character set
};

// Command identifiers the modal waits return for the handheld's game keys.
inline constexpr int kGameKeyUp = 1000;
inline constexpr int kGameKeyDown = 1001;
inline constexpr int kGameKeyLeft = 1002;
inline constexpr int kGameKeyRight = 1003;

// The shared caption font ("FONT2").
extern Font buttonfont;
void InitButtons();

class Button {
 public:
  // Leaves every field as it is; AddButton fills them.
  Button() {}

  // Face (unless hidden or faceless): a rounded capsule, or a filled
  // rectangle with its outline and, unless flat, a bevel lit from the top
  // left; then the caption centred (unless hidden), in GrayText when
  // disabled.
  void Draw(CDib* dib);

  RECT r;  // right = left + width, bottom = top + height
  unsigned char Flags;
  unsigned short ID;
  PIXEL TextColor;
  PIXEL BtnColor;
  PIXEL BorderColor;
  PIXEL GrayText;
  // Not copied: the caller keeps the text alive and may change it in place.
  const char* Text;
};

class ButtonArray {
 public:
  static constexpr int kMaxButtons = 12;

  ButtonArray() : NoButtons(0) {}

  // Forgets every button.
  void DeleteButtons() { NoButtons = 0; }
  // Adds a button with the default colours (black text and border, grey 192
  // face, grey 128 disabled text). 0 when 12 buttons exist.
  int AddButton(unsigned short ID, const char* text, int x, int y, int width, int height,
                unsigned short flags);
  // The 1-based index of the first button, in adding order, whose rectangle
  // holds (x, y) (left and top edges in, right and bottom edges out); hidden
  // and disabled buttons count. 0 when none does.
  int GetSelectedIndex(int x, int y) const;
  // The 1-based index of the first button with that ID, else 0.
  int GetIndexFromID(unsigned short ID) const;
  // The setters change the first button with that ID, or nothing. A colour
  // of -1 is left as it is.
  void SetButtonText(unsigned short ID, const char* text);
  void SetButtonColor(unsigned short ID, int textcol, int btncol, int bordercol, int graytext);
  void SetButtonFlags(unsigned short ID, unsigned char flags);
  void EnableButton(unsigned short ID, int enable);

  // Draws every button in adding order.
  void Paint(CDib* dib);

  // For WM_LBUTTONDOWN on a button that is neither hidden nor disabled: posts
  // WM_COMMAND (wParam its ID, lParam 0) to `hwnd` and returns 1. Else 0.
  int ProcessEvent(void* hwnd, int message, unsigned wParam, long lParam);

  // Modal waits, each a message loop of its own on the GUI thread that
  // dispatches every message it does not use. WaitOnButtonPress ends when
  // the stylus goes down and up on the same button and returns its ID; the
  // screen is not redrawn meanwhile. WaitOnButtonPress2 also restores the
  // screen as it was, draws the buttons and the particles over it and shows
  // it every 40 ms (handheld: 20 ms), and ends on the stylus coming up on a
  // button that is not disabled (1 at once when the screen cannot be
  // copied). Both return 0 when the program is quitting, and post the quit
  // request again for the outer loop. On the handheld, WaitOnButtonPress
  // also ends on the game keys: the pad with kGameKeyUp ... kGameKeyRight,
  // A, B, C and Start with 0.
  int WaitOnButtonPress();
  int WaitOnButtonPress2(CScreen* screen);

  Button button[kMaxButtons];
  int NoButtons;
};
