// Message queues and windows: order, filtering, quitting, messages between
// threads, window procedures and extra bytes, the way backend events and
// stop signals reach the GUI thread.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/services/backend.h"
#include "platform/winapi/win32.h"
#include "support/headless.h"

namespace {

using testing_support::HeadlessTest;

class Messages : public HeadlessTest {
 protected:
  void TearDown() override {
    MSG m;
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
};

// A window procedure that records what it is given.
struct Seen {
  UINT Message;
  WPARAM WParam;
  LPARAM LParam;
  DWORD Thread;
};
std::vector<Seen> g_Seen;
std::mutex g_SeenMutex;
LRESULT g_CreateAnswer = 0;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lk(g_SeenMutex);
    g_Seen.push_back({message, wParam, lParam, GetCurrentThreadId()});
  }
  if (message == WM_CREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCT*>(lParam);
    SetWindowLongPtr(hwnd, 0, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return g_CreateAnswer;
  }
  if (message == WM_DESTROY) PostQuitMessage(7);
  if (message == WM_APP) return static_cast<LRESULT>(wParam * 2);
  return DefWindowProc(hwnd, message, wParam, lParam);
}

std::vector<UINT> SeenMessages() {
  std::lock_guard<std::mutex> lk(g_SeenMutex);
  std::vector<UINT> out;
  for (const Seen& s : g_Seen) out.push_back(s.Message);
  return out;
}

HWND MakeWindow(const char* cls, void* param, const char* title = "Zelvaro") {
  WNDCLASS wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.cbWndExtra = sizeof(void*);
  wc.lpszClassName = cls;
  RegisterClass(&wc);
  {
    std::lock_guard<std::mutex> lk(g_SeenMutex);
    g_Seen.clear();
  }
  g_CreateAnswer = 0;
  return CreateWindowEx(0, cls, title, WS_VISIBLE | WS_CAPTION, 0, 0, 240, 320, nullptr, nullptr,
                        nullptr, param);
}

TEST_F(Messages, PostedMessagesComeInOrderAndQuitOnlyWhenNothingElseWaits) {
  PostThreadMessage(GetCurrentThreadId(), WM_APP + 1, 1, 10);
  PostMessage(nullptr, WM_APP + 2, 2, 20);
  PostQuitMessage(3);
  PostThreadMessage(GetCurrentThreadId(), WM_APP + 3, 3, 30);
  MSG m;
  for (UINT i = 1; i <= 3; i++) {
    ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_APP + i);
    EXPECT_EQ(m.wParam, i);
    EXPECT_EQ(m.lParam, static_cast<LPARAM>(10 * i));
    EXPECT_EQ(m.hwnd, nullptr);
  }
  EXPECT_FALSE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(Messages, PeekLeavesOrRemovesAndFiltersByRange) {
  PostMessage(nullptr, WM_APP + 5, 0, 0);
  PostMessage(nullptr, WM_USER + 1, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_APP + 5));
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_USER, WM_USER + 10, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_APP + 5));
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  // The quit request is seen by a peek too, and taken away only when removed.
  PostQuitMessage(0);
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_FALSE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, MessagesFromManyThreadsArriveWholeAndInEachSendersOrder) {
  const DWORD me = GetCurrentThreadId();
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; t++)
    senders.emplace_back([=] {
      for (int i = 0; i < kEach; i++) PostThreadMessage(me, WM_APP, static_cast<WPARAM>(t), i);
    });
  std::vector<LPARAM> last(kThreads, -1);
  MSG m;
  for (int n = 0; n < kThreads * kEach; n++) {
    ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
    ASSERT_LT(m.wParam, static_cast<WPARAM>(kThreads));
    EXPECT_EQ(m.lParam, last[m.wParam] + 1);
    last[m.wParam] = m.lParam;
  }
  for (auto& s : senders) s.join();
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, PostingToAThreadThatHasEndedOrNeverWasFails) {
  DWORD id = 0;
  std::thread t([&] { id = GetCurrentThreadId(); });
  t.join();
  EXPECT_FALSE(PostThreadMessage(id, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  EXPECT_FALSE(PostThreadMessage(0x7FFFFFF0, WM_APP, 0, 0));
}

TEST_F(Messages, AWindowHasItsProcedureCreationParameterAndExtraBytes) {
  int object = 0;
  HWND hwnd = MakeWindow("PPCAPICLASS", &object);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(SeenMessages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  EXPECT_EQ(GetWindowLongPtr(hwnd, 0), reinterpret_cast<LONG_PTR>(&object));
  EXPECT_EQ(GetWindowLong(hwnd, 4), static_cast<LONG>(reinterpret_cast<LONG_PTR>(&object) >> 32));
  // Only the bytes the class asked for exist.
  SetLastError(0);
  EXPECT_EQ(GetWindowLongPtr(hwnd, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  EXPECT_EQ(SetWindowLong(hwnd, -4, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  EXPECT_EQ(FindWindow("ppcapiclass", nullptr), hwnd);
  EXPECT_EQ(FindWindow(nullptr, "ZELVARO"), hwnd);
  EXPECT_EQ(FindWindow("PPCAPICLASS", "other"), nullptr);

  // Posted to the window, dispatched to its procedure with the values given.
  PostMessage(hwnd, WM_COMMAND, 20, 0);
  MSG m;
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.hwnd, hwnd);
  TranslateMessage(&m);
  DispatchMessage(&m);
  EXPECT_EQ(g_Seen.back().Message, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(g_Seen.back().WParam, 20u);
  EXPECT_EQ(SendMessage(hwnd, WM_APP, 21, 0), 42);

  // Closing: the default answer destroys the window, whose procedure asks
  // the loop to end.
  EXPECT_EQ(SendMessage(hwnd, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(hwnd));
  auto seen = SeenMessages();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[seen.size() - 2], static_cast<UINT>(WM_DESTROY));
  EXPECT_EQ(seen.back(), static_cast<UINT>(WM_NCDESTROY));
  EXPECT_FALSE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_FALSE(PostMessage(hwnd, WM_APP, 0, 0));
  EXPECT_EQ(SendMessage(hwnd, WM_APP, 1, 0), 0);
}

TEST_F(Messages, WindowCreationFailsWhenTheProcedureRefusesOrTheClassIsUnknown) {
  WNDCLASS wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "Refusing";
  ASSERT_NE(RegisterClass(&wc), 0);
  EXPECT_EQ(RegisterClass(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  WNDCLASS bad{};
  bad.lpszClassName = "NoProcedure";
  EXPECT_EQ(RegisterClass(&bad), 0);

  {
    std::lock_guard<std::mutex> lk(g_SeenMutex);
    g_Seen.clear();
  }
  g_CreateAnswer = -1;
  EXPECT_EQ(CreateWindowEx(0, "Refusing", "x", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  g_CreateAnswer = 0;
  EXPECT_EQ(SeenMessages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_EQ(FindWindow("Refusing", nullptr), nullptr);
  EXPECT_EQ(CreateWindowEx(0, "Nowhere", "x", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  EXPECT_TRUE(UnregisterClass("Refusing", nullptr));
}

TEST_F(Messages, SendingFromAnotherThreadRunsTheProcedureOnTheWindowsThread) {
  HWND hwnd = MakeWindow("SendTarget", nullptr);
  ASSERT_NE(hwnd, nullptr);
  const DWORD owner = GetCurrentThreadId();
  std::atomic<LRESULT> result{0};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    result = SendMessage(hwnd, WM_APP, 50, 0);
    done = true;
    PostThreadMessage(owner, WM_APP + 9, 0, 0);
  });
  MSG m;
  // The sent message is handled inside GetMessage; the posted one that
  // follows it ends the loop.
  while (GetMessage(&m, nullptr, 0, 0) && m.message != WM_APP + 9) DispatchMessage(&m);
  sender.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(result, 100);
  {
    std::lock_guard<std::mutex> lk(g_SeenMutex);
    bool found = false;
    for (const Seen& s : g_Seen)
      if (s.Message == WM_APP) {
        found = true;
        EXPECT_EQ(s.Thread, owner);
      }
    EXPECT_TRUE(found);
  }
  DestroyWindow(hwnd);
}

TEST_F(Messages, BackendInputReachesTheWindowInScreenPixels) {
  HWND hwnd = MakeWindow("InputTarget", nullptr);
  ASSERT_NE(hwnd, nullptr);
  headless::InjectWindowMessage(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(239, 319));
  headless::InjectWindowMessage(hwnd, WM_KEYDOWN, VK_LEFT, 0);
  MSG m;
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_LBUTTONDOWN));
  EXPECT_EQ(LOWORD(m.lParam), 239);
  EXPECT_EQ(HIWORD(m.lParam), 319);
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_LEFT));
  EXPECT_TRUE(TranslateMessage(&m));
  DispatchMessage(&m);
  EXPECT_EQ(g_Seen.back().WParam, static_cast<WPARAM>(0x25));
  DestroyWindow(hwnd);
}

TEST_F(Messages, AQuitRequestClosesTheWindowsOrEndsAWindowlessLoop) {
  headless::InjectQuit();
  MSG m;
  EXPECT_FALSE(GetMessage(&m, nullptr, 0, 0));

  HWND hwnd = MakeWindow("QuitTarget", nullptr);
  ASSERT_NE(hwnd, nullptr);
  headless::InjectQuit();
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
  DispatchMessage(&m);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(Messages, AStopSignalAsksTheGuiThreadsWindowsToClose) {
  HWND hwnd = MakeWindow("SignalTarget", nullptr);
  ASSERT_NE(hwnd, nullptr);
  MSG m;
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));  // handlers now in place
  raise(SIGTERM);
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
  DispatchMessage(&m);
  EXPECT_FALSE(GetMessage(&m, nullptr, 0, 0));
}

TEST_F(Messages, PointInRectangleIncludesLeftAndTopEdgesOnly) {
  RECT r{125, 290, 225, 310};
  EXPECT_TRUE(PtInRect(&r, POINT{125, 290}));
  EXPECT_TRUE(PtInRect(&r, POINT{224, 309}));
  EXPECT_FALSE(PtInRect(&r, POINT{225, 300}));
  EXPECT_FALSE(PtInRect(&r, POINT{130, 310}));
  EXPECT_FALSE(PtInRect(nullptr, POINT{130, 300}));
}

TEST_F(Messages, MessageBoxesAreRecordedAndAnsweredWithTheDefaultButton) {
  EXPECT_EQ(MessageBox(nullptr, "Unable to start WAVEIN thread", "Debug", MB_OK), IDOK);
  EXPECT_EQ(MessageBox(nullptr, "Save?", "Zelvaro", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBox(nullptr, L"Insufficient Memory \u00e9", L"Debug", MB_OKCANCEL), IDOK);
  auto boxes = headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].Text, "Unable to start WAVEIN thread");
  EXPECT_EQ(boxes[0].Caption, "Debug");
  EXPECT_EQ(boxes[1].Type, static_cast<unsigned>(MB_YESNO | MB_DEFBUTTON2));
  EXPECT_EQ(boxes[2].Text, "Insufficient Memory \xc3\xa9");
}

TEST_F(Messages, AScriptedAnswerIsGivenByEveryBoxThatHasThatButton) {
  headless::AnswerMessageBoxes(IDCANCEL);
  EXPECT_EQ(MessageBox(nullptr, "An invalid address", "Memory Manager", MB_OKCANCEL | MB_ICONSTOP),
            IDCANCEL);
  EXPECT_EQ(MessageBox(nullptr, "Retry?", "Zelvaro", MB_RETRYCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBox(nullptr, "Save?", "Zelvaro", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBox(nullptr, "Done", "Zelvaro", MB_OK), IDOK);
  headless::AnswerMessageBoxes(0);
  EXPECT_EQ(MessageBox(nullptr, "Again", "Memory Manager", MB_OKCANCEL), IDOK);
  headless::AnswerMessageBoxes(IDYES);
  headless::Reset();
  EXPECT_EQ(MessageBox(nullptr, "Save?", "Zelvaro", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(headless::MessageBoxes().size(), 1u);
}

TEST(MessageBoxAnswers, AClosedBoxAnswersCancelWhereItHasCancelAsWindowsDoes) {
  EXPECT_EQ(platform::ClosedMessageBoxAnswer(MB_OKCANCEL | MB_ICONSTOP), IDCANCEL);
  EXPECT_EQ(platform::ClosedMessageBoxAnswer(MB_YESNOCANCEL | MB_DEFBUTTON1), IDCANCEL);
  EXPECT_EQ(platform::ClosedMessageBoxAnswer(MB_RETRYCANCEL), IDCANCEL);
  EXPECT_EQ(platform::ClosedMessageBoxAnswer(MB_OK), IDOK);
  EXPECT_EQ(platform::ClosedMessageBoxAnswer(MB_YESNO | MB_DEFBUTTON2), IDNO);
}

}  // namespace
