// Two threads allocate, grow, tare, track and release at random through the
// process-wide manager, each checking its blocks against its own record:
// no two live blocks overlap, contents survive, signatures stay intact, and
// the manager's structures are consistent afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "common_code/salloc.h"
#include "heap_check.h"

namespace {

using namespace memtest;

// Every live block of both threads, by start address, with its end.
class LiveRanges {
 public:
  // False when [p, p + size) overlaps a live block.
  bool Add(const void* p, size_t size) {
    std::lock_guard<std::mutex> lock(m_Lock);
    uintptr_t begin = reinterpret_cast<uintptr_t>(p), end = begin + std::max<size_t>(size, 1);
    auto next = m_Ranges.lower_bound(begin);
    if (next != m_Ranges.end() && next->first < end) return false;
    if (next != m_Ranges.begin() && std::prev(next)->second > begin) return false;
    m_Ranges[begin] = end;
    return true;
  }
  void Remove(const void* p) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Ranges.erase(reinterpret_cast<uintptr_t>(p));
  }

 private:
  std::mutex m_Lock;
  std::map<uintptr_t, uintptr_t> m_Ranges;
};

struct Block {
  unsigned char* p;
  size_t size;
  unsigned char seed;
};

unsigned char PatternByte(unsigned char seed, size_t i) {
  return static_cast<unsigned char>(seed + i * 31 + (i >> 8));
}

// Checks the node of a live block under the manager's lock; empty when sound.
std::string NodeProblem(const Block& b) {
  MemMgr* m = GetGlobalMemMgr();
  std::string problem;
  m->Enter();
  NodeHeader* n = m->FindNodeHeader(b.p);
  if (!n) {
    problem = "live block not found";
  } else if (n->dwSigAtFront != kSigAtFront || Trailer(n) != kSigAtBack) {
    problem = "signature overwritten";
  } else if (n->pClient != b.p || n->cbClientTotal < b.size || n->cbClientThisReq != b.size) {
    problem = "node does not describe the block";
  }
  m->Leave();
  return problem;
}

struct Worker {
  unsigned Seed;
  LiveRanges* Ranges;
  std::atomic<int>* Ready;
  std::vector<std::string> Problems;

  void Fail(const std::string& s) {
    if (Problems.size() < 20) Problems.push_back(s);
  }

  bool Intact(const Block& b) {
    for (size_t i = 0; i < b.size; i++) {
      if (b.p[i] != PatternByte(b.seed, i)) return false;
    }
    return true;
  }

  void Release(std::vector<Block>& live, size_t k) {
    Block b = live[k];
    if (!Intact(b)) Fail("contents changed");
    std::string problem = NodeProblem(b);
    if (!problem.empty()) Fail(problem);
    Ranges->Remove(b.p);
    MemMgr_Free(b.p, __FILE__, __LINE__);
    live[k] = live.back();
    live.pop_back();
  }

  void Run(int operations) {
    std::mt19937 rng(Seed);
    auto uniform = [&](size_t lo, size_t hi) {
      return std::uniform_int_distribution<size_t>(lo, hi)(rng);
    };
    std::vector<Block> live;
    std::vector<unsigned char> external(256, 0xE7);
    int* grown = nullptr;
    unsigned grownCount = 0;

    Ready->fetch_add(1);
    while (Ready->load() < 2) std::this_thread::yield();
    GetGlobalMemMgr();  // both threads race to create the manager when it is new

    for (int op = 0; op < operations; op++) {
      size_t choice = uniform(0, 99);
      if (choice < 50 || live.empty()) {
        size_t size = uniform(0, 99) < 90     ? uniform(0, 600)
                      : uniform(0, 999) < 998 ? uniform(600, 40000)
                                              : uniform(524217, 900000);
        auto* p = static_cast<unsigned char*>(MemMgr_Alloc(size, "stress", __FILE__, __LINE__));
        if (!p) {
          Fail("allocation failed");
          continue;
        }
        if (!Ranges->Add(p, size)) Fail("block overlaps a live block");
        Block b{p, size, static_cast<unsigned char>(uniform(0, 255))};
        for (size_t i = 0; i < size; i++) p[i] = PatternByte(b.seed, i);
        live.push_back(b);
      } else if (choice < 90) {
        Release(live, uniform(0, live.size() - 1));
      } else if (choice < 94) {
        Block& b = live[uniform(0, live.size() - 1)];
        MemMgr_Tare(b.p, __FILE__, __LINE__);
      } else if (choice < 97) {
        if (MemMgr_Track(external.data(), "external", __FILE__, __LINE__) != external.data()) {
          Fail("tracking failed");
        }
        MemMgr_Free(external.data(), __FILE__, __LINE__);
      } else {
        unsigned old = grownCount;
        if (!MemMgr_Realloc(sizeof(int), &grown, &grownCount, grownCount + 1 + uniform(0, 40), 16,
                            0, __FILE__, __LINE__)) {
          Fail("growing failed");
          continue;
        }
        for (unsigned i = 0; i < old; i++) {
          if (grown[i] != static_cast<int>(i * 7 + Seed)) {
            Fail("grown array lost an element");
            break;
          }
        }
        for (unsigned i = old; i < grownCount; i++) {
          if (grown[i] != 0) Fail("grown array not filled");
          grown[i] = static_cast<int>(i * 7 + Seed);
        }
      }
    }
    while (!live.empty()) Release(live, live.size() - 1);
    if (grown) MemMgr_Free(grown, __FILE__, __LINE__);
    if (external != std::vector<unsigned char>(256, 0xE7)) Fail("tracked memory changed");
  }
};

TEST(MemMgrStress, TwoThreadsAgreeWithTheirRecords) {
  BoxRecorder boxes;  // any box would mean a block went astray
  LiveRanges ranges;
  std::atomic<int> ready{0};
  Worker a{1234, &ranges, &ready, {}}, b{98765, &ranges, &ready, {}};
  std::thread ta([&] { a.Run(30000); });
  std::thread tb([&] { b.Run(30000); });
  ta.join();
  tb.join();
  EXPECT_EQ(a.Problems, std::vector<std::string>{});
  EXPECT_EQ(b.Problems, std::vector<std::string>{});
  EXPECT_TRUE(boxes.Boxes().empty());
  MemMgr* m = GetGlobalMemMgr();
  EXPECT_EQ(HeapProblems(*m), std::vector<std::string>{});
  EXPECT_LE(m->m_t.cFreeChunks, kEmptyChunksKept);
  EXPECT_EQ(m->m_t.cNodesWithheld, 0u);
}

}  // namespace
