// The part of the Windows programming interface that the tuner and its frame
// library call, under the names they use, implemented over the backend
// (platform/services/backend.h): message queues, windows as objects, threads, a
// critical section, events, the millisecond clock and message boxes.
//
// Handles are plain typedefs of pointer types, so another header may repeat
// an identical typedef (`typedef void* HWND;`) without including this one.
// Message, key and message-box numbers are those of Windows.
//
// What the callers may rely on is said at each declaration; anything not said
// (Unicode window classes, window display, WM_CHAR generation, killing a
// thread) is not provided.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/winapi/thread_safety.h"

// Types ------------------------------------------------------------------------

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef WORD ATOM;
typedef void* LPVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const wchar_t* LPCWSTR;
typedef DWORD* LPDWORD;

typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* HMODULE;
typedef void* HICON;
typedef void* HCURSOR;
typedef void* HBRUSH;
typedef void* HMENU;

#define WINAPI
#define CALLBACK
#define APIENTRY

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct POINT {
  LONG x;
  LONG y;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
typedef RECT* LPRECT;

// Whether `pt` lies in `rc`: left and top edges inside, right and bottom
// edges outside.
BOOL PtInRect(const RECT* rc, POINT pt);

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xFFFF))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xFFFF))
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)(((WORD)(lo)) | (((DWORD)(WORD)(hi)) << 16)))

// Errors -------------------------------------------------------------------------

// The calling thread's last error, set by the functions below when they fail.
DWORD GetLastError();
void SetLastError(DWORD error);

#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INVALID_THREAD_ID 1444
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_CANNOT_FIND_WND_CLASS 1407
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_INVALID_INDEX 1413
#define ERROR_WINDOW_OF_OTHER_THREAD 1408
#define ERROR_ACCESS_DENIED 5

// Messages ------------------------------------------------------------------------

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_USER 0x0400
#define WM_APP 0x8000

// WM_ACTIVATE's low word of wParam.
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2

// Mouse key state in wParam of the mouse messages.
#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002

// Virtual keys (wParam of WM_KEYDOWN and WM_KEYUP). Letters and digits are
// their upper-case ASCII codes ('A' = 0x41, '0' = 0x30).
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F3 0x72
#define VK_F4 0x73
#define VK_F5 0x74
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_F8 0x77
#define VK_F9 0x78
#define VK_F10 0x79
#define VK_F11 0x7A
#define VK_F12 0x7B
#define VK_APP1 0xC1
#define VK_APP2 0xC2
#define VK_APP3 0xC3
#define VK_APP4 0xC4
#define VK_APP5 0xC5
#define VK_APP6 0xC6

struct MSG {
  HWND hwnd;  // null for a thread message
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // GetTickCount() when the message was posted
  POINT pt;
};
typedef MSG* LPMSG;

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

// Every thread has a message queue, made when the thread first touches this
// layer (a thread made by CreateThread has it before it runs). Posted
// messages are taken in the order they were posted; a message sent from
// another thread is handled, inside the receiver's GetMessage or
// PeekMessage, before any posted one; WM_QUIT comes only when nothing else
// is queued.
//
// The program's main thread is the GUI thread: its GetMessage and
// PeekMessage also pump the backend's events (platform/services/backend.h), and the
// first of them makes SIGINT, SIGTERM and SIGHUP requests to end: WM_CLOSE is
// then posted to each of the GUI thread's top-level windows, or WM_QUIT when
// it has none. A second signal ends the program the usual way.

// Queues a message for `hwnd`'s thread, or for the calling thread when
// `hwnd` is null. Any thread may call it. FALSE for an unknown window.
BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Queues a thread message (hwnd null). FALSE when no thread has that id (or
// it has ended).
BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

// Calls the window procedure of `hwnd` and returns its result. From another
// thread, the message waits until the window's thread takes it in
// GetMessage or PeekMessage, and the caller waits for the result; 0 when
// the window is unknown or its thread ends first.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Waits for a message of the calling thread's queue, removes it and returns
// TRUE, or FALSE for WM_QUIT. `hwnd` (null: any) and the range
// `filterMin`..`filterMax` (both 0: any) select which messages qualify.
BOOL GetMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);

// As GetMessage without waiting: TRUE with `msg` filled when a message
// qualifies (removed only with PM_REMOVE), FALSE when none does. Reports
// WM_QUIT like any other message.
BOOL PeekMessage(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);

// Callers pass every message through it as on Windows. No character
// messages are made from keys: nothing here reads WM_CHAR. TRUE for key
// messages, FALSE otherwise.
BOOL TranslateMessage(const MSG* msg);

// Calls the window procedure of `msg->hwnd` when it is a window of the
// calling thread and returns its result; 0 for thread messages.
LRESULT DispatchMessage(const MSG* msg);

// Asks the calling thread's message loop to end: its GetMessage returns
// FALSE (wParam = exitCode) once no other message is queued.
void PostQuitMessage(int exitCode);

// Waits until one of `handles` is signalled (WAIT_OBJECT_0 + index), a
// message is in the calling thread's queue (WAIT_OBJECT_0 + count), or
// `milliseconds` of real time have passed (WAIT_TIMEOUT). Unlike Windows it
// also returns for messages that were already queued when it was called, so
// a loop that drains its queue after each return never misses one.
// `waitAll` must be FALSE; `wakeMask` is accepted and every message counts.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);

#define QS_KEY 0x0001
#define QS_MOUSEMOVE 0x0002
#define QS_MOUSEBUTTON 0x0004
#define QS_POSTMESSAGE 0x0008
#define QS_TIMER 0x0010
#define QS_PAINT 0x0020
#define QS_SENDMESSAGE 0x0040
#define QS_ALLINPUT 0x04FF

// Windows ----------------------------------------------------------------------

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define CW_USEDEFAULT ((int)0x80000000)

struct WNDCLASS {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;  // bytes of zeroed extra memory in each window of the class
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct CREATESTRUCT {
  LPVOID lpCreateParams;  // the creation parameter given to CreateWindowEx
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};
typedef CREATESTRUCT* LPCREATESTRUCT;

// Registers a window class for this process; class names match without
// regard to case. Returns a non-zero atom, or 0 when the name is taken or
// the class is malformed (no procedure or name, negative extra bytes).
ATOM RegisterClass(const WNDCLASS* wc);
BOOL UnregisterClass(LPCSTR className, HINSTANCE instance);

// Makes a window of a registered class, owned by the calling thread: sends
// it WM_NCCREATE and then WM_CREATE with a CREATESTRUCT whose
// lpCreateParams is `param`. A procedure that answers WM_NCCREATE with 0
// or WM_CREATE with -1 gets WM_DESTROY and WM_NCDESTROY, and null is
// returned. The window here is the object only (procedure, title, style,
// extra bytes); putting it on a display is the display service's part.
HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                    LPVOID param);

// Sends WM_DESTROY, destroys the child windows (oldest first), sends
// WM_NCDESTROY, closes the window's display (if it has one) and forgets the
// window. Only the window's own thread may destroy it.
BOOL DestroyWindow(HWND hwnd);

BOOL IsWindow(HWND hwnd);

// Copies the window's title into `text` (at most maxCount - 1 characters and
// a terminating 0) and returns its length; 0 for an unknown window.
int GetWindowText(HWND hwnd, LPSTR text, int maxCount);

// The first window, of any thread, whose class and title match (a null
// argument matches anything); null when there is none.
HWND FindWindow(LPCSTR className, LPCSTR windowName);

// The window's extra bytes: a 32-bit value at byte `index` (GetWindowLong),
// a pointer-sized one (GetWindowLongPtr). An index that does not leave room
// for the value inside cbWndExtra fails: 0 is returned and the last error is
// ERROR_INVALID_INDEX. Set* return the previous value.
LONG GetWindowLong(HWND hwnd, int index);
LONG SetWindowLong(HWND hwnd, int index, LONG value);
LONG_PTR GetWindowLongPtr(HWND hwnd, int index);
LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value);

// The default answer: WM_CLOSE destroys the window, WM_NCCREATE returns
// TRUE, WM_ERASEBKGND returns 1; everything else returns 0.
LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Showing windows -----------------------------------------------------------------
//
// A window's display (platform/services/backend.h) opens when the window is first
// drawn into (wingdi.h, gx.h); until then showing and raising it changes
// only its WS_VISIBLE style. The display service places display windows
// itself (centred on the screen) and sizes them from what is drawn, so
// positions and sizes given here are not used.

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_RESTORE 9

// Sets or clears WS_VISIBLE (SW_HIDE clears it) and returns whether it was
// set before. A window with a display is brought to the front, restored,
// by SW_SHOWNORMAL and SW_RESTORE, and minimised by SW_MINIMIZE and
// SW_SHOWMINIMIZED. FALSE for an unknown window.
BOOL ShowWindow(HWND hwnd, int cmd);

#define HWND_TOP ((HWND)0)
#define HWND_BOTTOM ((HWND)1)
#define HWND_TOPMOST ((HWND)-1)
#define HWND_NOTOPMOST ((HWND)-2)

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040

// Changes the window's place among the screen's windows: HWND_TOP and
// HWND_TOPMOST bring its display to the front (unless SWP_NOZORDER; nothing
// stays on top for good), others change nothing. FALSE for an unknown
// window.
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

// Brings the window's display to the front with the keyboard focus. FALSE
// for an unknown window.
BOOL SetForegroundWindow(HWND hwnd);

// The window rectangle that holds a client rectangle: the same rectangle,
// since the window manager draws frames and captions outside the client
// area of display windows. FALSE for a null rectangle.
BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu);

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

// The width (SM_CXSCREEN) or height (SM_CYSCREEN) of the screen displays
// open on, from the backend; 0 for another index or when there is no
// screen.
int GetSystemMetrics(int index);

// Icons, cursors and brushes for window classes ----------------------------------------

#define IDC_ARROW ((LPCSTR)(uintptr_t)32512)
#define COLOR_BTNFACE 15

// The icon resource `name` (type ICON: an icon file, platform/services/icon.h),
// decoded once and kept for the whole run; a class's icon is given to the
// display of each of its windows. Null when there is no such resource or no
// image of it can be read. The instance is not used (one resource table).
HICON LoadIcon(HINSTANCE instance, LPCSTR name);

// A cursor handle, kept by a class only: display windows show the system's
// own pointer.
HCURSOR LoadCursor(HINSTANCE instance, LPCSTR name);

// A brush handle for a system colour, kept by a class only: the program
// draws every pixel of a display itself.
HBRUSH GetSysColorBrush(int index);

// Threads and synchronisation --------------------------------------------------

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000
#define WAIT_TIMEOUT 0x00000102
#define WAIT_FAILED 0xFFFFFFFF
#define STILL_ACTIVE 0x00000103

// Desktop thread priorities. The worker's nice value follows them: each
// step from normal is 5 nice levels (lowest +10, highest -10), idle is +19
// and time-critical -20, relative to the nice value of the process.
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15

// Starts `start(param)` on a new thread (std::thread underneath; stack size,
// attributes and flags are ignored) with its message queue already made.
// Returns its handle and stores its id in *threadId (when not null). The
// thread's result becomes its exit code. A thread cannot be killed: code
// that must stop one asks it to end and waits for it.
HANDLE CreateThread(void* attributes, size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD threadId);

// The calling thread's id, as used by PostThreadMessage. Ids are never
// reused while the program runs.
DWORD GetCurrentThreadId();

// STILL_ACTIVE while the thread runs, then its exit code.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

// Sets the priority of a running thread (values above). Linux lets an
// unprivileged program lower a thread's priority but not raise it again:
// a request the system refuses leaves the thread where it was and returns
// FALSE. GetThreadPriority reports the priority the thread actually has.
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// Events (auto-reset or manual-reset). Named events are not provided: a
// non-null name fails with ERROR_NOT_SUPPORTED.
HANDLE CreateEvent(void* attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits up to `milliseconds` of real time for an event to be signalled (an
// auto-reset event is then reset) or a thread to end. WAIT_OBJECT_0,
// WAIT_TIMEOUT, or WAIT_FAILED for an unknown handle or a thread waiting
// for itself.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Releases a thread or event handle. Closing a thread's handle does not
// stop the thread; a thread's resources go when it has ended and its handle
// is closed.
BOOL CloseHandle(HANDLE handle);

// A recursive lock (std::recursive_mutex). lock() and unlock() are the same
// as Enter and Leave, for ScopedLock (thread_safety.h).
struct CAPABILITY("mutex") CRITICAL_SECTION {
  std::recursive_mutex Mutex;
  void lock() ACQUIRE() { Mutex.lock(); }
  void unlock() RELEASE() { Mutex.unlock(); }
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs) ACQUIRE(cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs) RELEASE(cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Time -------------------------------------------------------------------------

// Milliseconds of the backend's monotonic clock, wrapping at 2^32. The
// headless backend's clock is virtual: it moves only when Sleep is called.
DWORD GetTickCount();

// Waits `milliseconds` by the backend's clock (real time, or a jump of the
// headless virtual clock). Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD milliseconds);

// Message boxes ----------------------------------------------------------------

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFMASK 0x00000F00L
#define MB_APPLMODAL 0x00000000L
#define MB_SETFOREGROUND 0x00010000L
#define MB_TOPMOST 0x00040000L

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// Shows `text` with `caption` through the backend and returns the button
// chosen (IDOK ...). A null text or caption shows as empty; the owner
// window is not used. Where nobody can answer (no display, headless) the
// default button (MB_DEFBUTTONn) is the answer. The wide form converts its
// texts to UTF-8.
int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
