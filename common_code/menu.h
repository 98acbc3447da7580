// The pop-up menu: a modal list of choices drawn over the current screen, a
// translucent panel with an optional title and one button per item, opened
// and closed with a short zoom. A menu is made on the caller's stack for
// one question.
//
// Items come in one string, separated by commas: each item is two decimal
// digits, its value (00 to 99), followed by its caption, which may be empty
// and holds no comma. "01Off,021,032,043" gives (1, "Off"), (2, "1"),
// (3, "2"), (4, "3"). Empty items are skipped, and so is anything shorter
// than the two digits; items after the 12th are ignored, and a string or a
// title longer than its buffer is cut.
#pragma once

#include "common_code/button.h"
#include "common_code/dib.h"
#include "common_code/font.h"
#include "common_code/xdib.h"

// Flag bits of Menu::Go.
enum : int {
  MENU_OPEN = 1,   // the opening zoom
  MENU_CLOSE = 2,  // the closing zoom
  MENU_WAIT = 4,   // show the menu and wait for a choice
};

class Menu {
 public:
  static constexpr int kMaxItems = 12;
  static constexpr int kItemStringSize = 255;
  static constexpr int kTitleSize = 64;

  // Loads the title font, "MENUFONT".
  Menu();
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  // Reads the items and lays the menu out, from scratch each time: item
  // buttons 160 wide from x 40 (pocket: 190 wide, centred), 21 high every 28
  // pixels for up to 8 items, else 19 high every 25; the block centred on
  // the screen's height and moved down by half the title's 20 pixels.
  // Returns the number of items.
  int Init(const char* title, const char* items);

  // Runs the menu on `screen` (flags: MENU_OPEN, MENU_WAIT, MENU_CLOSE; the
  // tuner passes all three) and returns the chosen item's value, or 0 when
  // nothing was chosen: no items (the screen untouched), no wait, the
  // program quitting, or (pocket) a game key. The screen is put back as it
  // was before, without being shown: the caller's next frame shows it.
  int Go(CScreen* screen, const char* title, const char* items, int flags);

  int NoItems = 0;
  Font f2;    // the title's font
  CDib tdib;  // spare
  ButtonArray ba;
  int StartY = 0;  // top of the first item button
  int StartX = 0;  // left of the item buttons
  int Height = 0;  // of an item button
  int Width = 0;
  int Pitch = 0;     // from one item button to the next
  int TitleHgt = 0;  // 20 with a title, else 0
  CDib Screen;       // the screen as it was before the menu
  RECT MenuRect = {};
  char* Args[kMaxItems] = {};  // captions, into ItemString
  unsigned char Val[kMaxItems] = {};
  char ItemString[kItemStringSize] = {};
  char Title[kTitleSize] = {};

 private:
  // One zoom step over the background: the translucent bar, shown, at
  // least the step's time after the previous one began.
  void Step(CScreen* screen, CDib& background, int x1, int y1, int x2, int y2);
};
