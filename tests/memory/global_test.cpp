// The process-wide manager through the MemMgr_ functions: node types and the
// caller's record, growing arrays, the warning box, and stopping in a debugger.
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "common_code/salloc.h"
#include "heap_check.h"
#include "platform/backends/headless/headless.h"
#include "platform/winapi/debugger.h"
#include "platform/winapi/win32.h"

namespace {

using namespace memtest;

NodeHeader* Node(const void* p) {
  MemMgr* m = GetGlobalMemMgr();
  m->Enter();
  NodeHeader* n = m->FindNodeHeader(p);
  m->Leave();
  return n;
}

TEST(GlobalMemMgr, IsOneManagerThatRecordsEachCallersNodeType) {
  ASSERT_EQ(GetGlobalMemMgr(), GetGlobalMemMgr());
  BoxRecorder boxes;
  void* a = MemMgr_Alloc(56, "abSignal", "sound.cpp", 12);
  NodeHeader* n = Node(a);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->Type, NORMAL_NODE);
  // Earlier users of the shared manager may leave larger free nodes to reuse.
  EXPECT_GE(n->cbClientTotal, 56u);
  EXPECT_EQ(n->cbClientThisReq, 56u);
  EXPECT_STREQ(n->pszExpr, "abSignal");
  EXPECT_STREQ(n->pszFile, "sound.cpp");
  EXPECT_EQ(n->iLine, 12);

  void* o = MemMgr_New(nullptr, 55, "SOUND", "sound.cpp", 13);
  EXPECT_EQ(Node(o)->Type, OBJECT_NODE);
  EXPECT_GE(Node(o)->cbClientTotal, 55u);
  int object = 0;
  EXPECT_EQ(MemMgr_New(&object, sizeof(object), "SOUND", "sound.cpp", 14), &object);
  EXPECT_EQ(Node(&object)->Type, OBJECT_NODE);
  EXPECT_EQ(Node(&object)->pExtern, &object);

  std::vector<char> external(64, 'e');
  EXPECT_EQ(MemMgr_Track(external.data(), "buffer", "sound.cpp", 15), external.data());
  EXPECT_EQ(Node(external.data())->Type, RESOURCE_NODE);
  MemMgr_Tare(external.data(), "sound.cpp", 16);
  EXPECT_EQ(Node(external.data())->fTared, 1);

  MemMgr_Free(a, "sound.cpp", 20);
  MemMgr_Delete(o, "sound.cpp", 21);
  MemMgr_Delete(&object, "sound.cpp", 22);
  MemMgr_Free(external.data(), "sound.cpp", 23);
  for (const void* p : std::vector<const void*>{a, o, &object, external.data()}) {
    EXPECT_EQ(Node(p), nullptr);
  }
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(external, std::vector<char>(64, 'e'));
  MemMgr_ReportLeaks();
  EXPECT_EQ(HeapProblems(*GetGlobalMemMgr()), std::vector<std::string>{});
}

TEST(GlobalMemMgr, UnknownAddressesShowTheBoxWithTheCallersPlace) {
  BoxRecorder boxes;
  int local = 0;
  MemMgr_Free(&local, "mixer.cpp", 300);
  MemMgr_Delete(nullptr, "mixer.cpp", 301);
  MemMgr_Tare(&local, "mixer.cpp", 302);
  ASSERT_EQ(boxes.Boxes().size(), 3u);
  char address[32];
  std::snprintf(address, sizeof(address), "0x%08lX",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&local)));
  EXPECT_EQ(boxes.Boxes()[0].Text, std::string("An invalid address was deleted.\n\n   Address: ") +
                                       address +
                                       "\n   Current: mixer.cpp line 300\n\n"
                                       "Click OK to dismiss\nClick X to debug");
  EXPECT_NE(boxes.Boxes()[1].Text.find("Address: 0x00000000\n   Current: mixer.cpp line 301\n"),
            std::string::npos);
  EXPECT_EQ(boxes.Boxes()[2].Text.rfind("An invalid address was tared.\n", 0), 0u);
  for (const auto& box : boxes.Boxes()) {
    EXPECT_EQ(box.Caption, "Memory Manager");
    EXPECT_EQ(box.Type, static_cast<unsigned>(MB_OKCANCEL | MB_ICONSTOP));
  }
}

TEST(GlobalMemMgr, ALongDescriptionIsCutToTheBoxBuffer) {
  BoxRecorder boxes;
  std::string longText(3000, 'd');
  MemMgr_ShowWarning(static_cast<const void*>(nullptr), "f.cpp", 1, longText.c_str());
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, std::string(1023, 'd'));
}

TEST(MemMgrRealloc, GrowsAnEmptyArrayToTheRequestPlusGrowthAllFilled) {
  short* a = nullptr;
  unsigned count = 0;
  ASSERT_EQ(MemMgr_Realloc(2, &a, &count, 5, 4, 0x5A, "mixer.cpp", 40), 1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(count, 8u);
  std::vector<unsigned char> bytes(reinterpret_cast<unsigned char*>(a),
                                   reinterpret_cast<unsigned char*>(a) + 16);
  EXPECT_EQ(bytes, std::vector<unsigned char>(16, 0x5A));
  NodeHeader* n = Node(a);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->cbClientThisReq, 16u);
  EXPECT_STREQ(n->pszExpr, "MemRealloc");
  EXPECT_STREQ(n->pszFile, "mixer.cpp");
  EXPECT_EQ(n->iLine, 40);

  // Big enough already: nothing changes.
  short* before = a;
  EXPECT_EQ(MemMgr_Realloc(2, &a, &count, 8, 128, 0, "mixer.cpp", 41), 1);
  EXPECT_EQ(a, before);
  EXPECT_EQ(count, 8u);

  // Growing keeps the elements, fills the new ones and releases the old block.
  for (unsigned i = 0; i < count; i++) a[i] = static_cast<short>(1000 + i);
  ASSERT_EQ(MemMgr_Realloc(2, &a, &count, 9, 128, 0, "mixer.cpp", 42), 1);
  EXPECT_EQ(count, 136u);
  EXPECT_EQ(Node(before), nullptr);
  for (unsigned i = 0; i < 8; i++) EXPECT_EQ(a[i], static_cast<short>(1000 + i));
  for (unsigned i = 8; i < count; i++) ASSERT_EQ(a[i], 0) << i;
  MemMgr_Free(a, "mixer.cpp", 43);
}

TEST(MemMgrRealloc, NoGrowthStillHoldsTheRequest) {
  char* a = nullptr;
  unsigned count = 0;
  ASSERT_EQ(MemMgr_Realloc(40, &a, &count, 1, 0, 0, "f", 1), 1);
  EXPECT_EQ(count, 1u);
  EXPECT_GE(Node(a)->cbClientThisReq, 40u);
  MemMgr_Free(a, "f", 2);
}

TEST(MemMgrRealloc, FailureKeepsTheOldArray) {
  BoxRecorder boxes;
  char* a = nullptr;
  unsigned count = 0;
  ASSERT_EQ(MemMgr_Realloc(1, &a, &count, 10, 1, 'x', "f", 1), 1);
  char* old = a;
  // Sizes that do not fit in memory at all.
  EXPECT_EQ(MemMgr_Realloc(SIZE_MAX / 2, &a, &count, 11, 1, 0, "f", 2), 0);
  EXPECT_EQ(MemMgr_Realloc(1, &a, &count, 0xFFFFFFFF, 2, 0, "f", 3), 0);
  EXPECT_EQ(MemMgr_Realloc(1 << 20, &a, &count, 5000, 1, 0, "f", 4), 0);  // 5 GiB
  // The platform refusing memory.
  MemMgr* m = GetGlobalMemMgr();
  m->Enter();
  m->m_pfnPlatformAlloc = [](size_t) -> void* { return nullptr; };
  m->Leave();
  EXPECT_EQ(MemMgr_Realloc(1, &a, &count, 600000, 1, 0, "f", 5), 0);
  m->Enter();
  m->m_pfnPlatformAlloc = nullptr;
  m->Leave();
  EXPECT_EQ(a, old);
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(std::string(a, 10), std::string(10, 'x'));
  EXPECT_NE(Node(a), nullptr);
  EXPECT_TRUE(boxes.Boxes().empty());
  MemMgr_Free(a, "f", 6);
}

// Runs `child` in a forked process, optionally traced by this one, and
// returns how it ended; a traced child's SIGTRAP stops are counted and
// continued without the signal, as a debugger would.
struct ChildEnd {
  int ExitCode = -1;  // -1: killed by a signal
  int Signal = 0;
  int Traps = 0;
};
ChildEnd RunChild(bool traced, void (*child)()) {
  ChildEnd end;
  pid_t pid = fork();
  if (pid == 0) {
    if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(77);
    child();
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) == pid) {
    if (WIFSTOPPED(status)) {
      if (WSTOPSIG(status) == SIGTRAP) end.Traps++;
      int pass = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
      ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(pass)));
      continue;
    }
    if (WIFEXITED(status)) end.ExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.Signal = WTERMSIG(status);
    break;
  }
  return end;
}

// In the child: exit 3 unless a debugger is seen as expected, then free an
// unknown address and answer its box with `kAnswer`; exit 4 unless exactly
// that one "Memory Manager" box was shown.
template <bool kExpectDebugger, int kAnswer>
void AnswerTheBox() {
  if (DebuggerAttached() != kExpectDebugger) _exit(3);
  headless::Use();
  headless::AnswerMessageBoxes(kAnswer);
  const size_t before = headless::MessageBoxes().size();
  int local = 0;
  MemMgr_Free(&local, "child.cpp", 1);
  std::vector<headless::RecordedMessageBox> boxes = headless::MessageBoxes();
  if (boxes.size() != before + 1 || boxes.back().Caption != "Memory Manager") _exit(4);
}

TEST(WarningBox, CancelWithoutADebuggerCountsAsOk) {
  ChildEnd end = RunChild(false, &AnswerTheBox<false, IDCANCEL>);
  EXPECT_EQ(end.Signal, 0);
  EXPECT_EQ(end.ExitCode, 0);
}

TEST(WarningBox, CancelStopsInAnAttachedDebuggerWhichCanContinue) {
  ChildEnd end = RunChild(true, &AnswerTheBox<true, IDCANCEL>);
  if (end.ExitCode == 77) GTEST_SKIP() << "ptrace is not permitted here";
  EXPECT_EQ(end.Traps, 1);
  EXPECT_EQ(end.Signal, 0);
  EXPECT_EQ(end.ExitCode, 0);
}

TEST(WarningBox, OkWithADebuggerAttachedDoesNotStop) {
  ChildEnd end = RunChild(true, &AnswerTheBox<true, IDOK>);
  if (end.ExitCode == 77) GTEST_SKIP() << "ptrace is not permitted here";
  EXPECT_EQ(end.Traps, 0);
  EXPECT_EQ(end.ExitCode, 0);
}

}  // namespace
