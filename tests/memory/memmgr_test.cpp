// The checking heap on managers of the tests' own: node sizes and layout,
// huge nodes, free-list reuse, carving and chunk release, misuse reports and
// damaged signatures.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "common_code/salloc.h"
#include "heap_check.h"

namespace {

using namespace memtest;

class Heap : public ::testing::Test {
 protected:
  void SetUp() override { PlatformCounter::Install(*mgr); }
  void TearDown() override {
    EXPECT_EQ(HeapProblems(*mgr, allowDamage), std::vector<std::string>{});
  }

  void* Alloc(size_t cb) { return mgr->Allocate(nullptr, cb, "expr", "here.cpp", 7, NORMAL_NODE); }
  void Free(void* p) { mgr->Free(p, "there.cpp", 9, 0); }
  NodeHeader* Node(void* p) { return mgr->FindNodeHeader(p); }
  unsigned NodeSizeOf(void* p) { return Node(p)->cbClientTotal + kNodeOverhead; }

  std::unique_ptr<MemMgr> mgr = std::make_unique<MemMgr>();
  bool allowDamage = false;  // set by tests that overwrite signatures on purpose
};

TEST_F(Heap, RequestSizesMapToNodeSizesWithTheSeventyTwoByteOverhead) {
  struct Case {
    size_t Req;
    unsigned Node;
  } cases[] = {{56, 256}, {55, 128}, {0, 128}, {1, 128}, {184, 384}, {183, 256}, {1000, 1152}};
  for (const Case& c : cases) {
    void* p = Alloc(c.Req);
    ASSERT_NE(p, nullptr);
    NodeHeader* n = Node(p);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->cbClientTotal + kNodeOverhead, c.Node) << c.Req << " bytes";
    EXPECT_EQ(n->cbClientThisReq, c.Req);
  }
  EXPECT_EQ(Node(Alloc(56))->cbClientTotal, 184u);
  EXPECT_EQ(Node(Alloc(55))->cbClientTotal, 56u);
}

TEST_F(Heap, NodeLayoutRecordsTheCallerAndKeepsBlocksAligned) {
  char* a =
      static_cast<char*>(mgr->Allocate(nullptr, 55, "new char[55]", "file.cpp", 42, OBJECT_NODE));
  char* b = static_cast<char*>(Alloc(10));
  NodeHeader* n = Node(a);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(reinterpret_cast<char*>(n) + sizeof(NodeHeader), a);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  EXPECT_EQ(n->dwSigAtFront, kSigAtFront);
  EXPECT_EQ(std::memcmp(&n->dwSigAtFront, "Mem!", 4), 0);
  EXPECT_EQ(std::memcmp(TrailingSignature(n), "Okay", 4), 0);
  EXPECT_EQ(TrailingSignature(n), reinterpret_cast<unsigned char*>(a) + 56);
  EXPECT_EQ(n->iUsedList, Bucket(a));
  EXPECT_EQ(n->Type, OBJECT_NODE);
  EXPECT_STREQ(n->pszFile, "file.cpp");
  EXPECT_STREQ(n->pszExpr, "new char[55]");
  EXPECT_EQ(n->iLine, 42);
  EXPECT_EQ(n->fIsHuge, 0);
  EXPECT_EQ(n->pThisChunk, mgr->m_t.pChunkFirst);
  // Carving runs from the front of the chunk; a 128-byte node takes 176 bytes of it.
  EXPECT_EQ(reinterpret_cast<unsigned char*>(n), mgr->m_t.pChunkFirst->pClient);
  EXPECT_EQ(b - a, static_cast<ptrdiff_t>(128 + kNodeExtra));
  // Every usable byte can be written without touching a signature.
  std::memset(a, 0xEE, 56);
  std::memset(b, 0xEE, Node(b)->cbClientTotal);
  EXPECT_EQ(HeapProblems(*mgr), std::vector<std::string>{});
  mgr->Free(a, "f", 1, 1);
  Free(b);
}

TEST_F(Heap, HugeNodesLiveOutsideTheChunksAndGoBackAtOnce) {
  // 524,215 + 72 rounds up to 524,288, the largest chunk node; one byte more
  // needs 524,416 bytes.
  void* big = Alloc(524215);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(Node(big)->fIsHuge, 0);
  EXPECT_EQ(NodeSizeOf(big), 524288u);
  int allocsBefore = PlatformCounter::Allocs;
  std::string before = Snapshot(*mgr);
  void* huge = Alloc(524216);
  ASSERT_NE(huge, nullptr);
  NodeHeader* n = Node(huge);
  EXPECT_EQ(n->fIsHuge, 1);
  EXPECT_EQ(n->pThisChunk, nullptr);
  EXPECT_EQ(n->cbClientTotal, 524416u - kNodeOverhead);
  EXPECT_EQ(PlatformCounter::Allocs, allocsBefore + 1);
  std::memset(huge, 1, n->cbClientTotal);
  Free(huge);
  EXPECT_EQ(PlatformCounter::Frees, 1);
  EXPECT_TRUE(PlatformCounter::Released.count(n));
  EXPECT_EQ(Node(huge), nullptr);
  EXPECT_EQ(Snapshot(*mgr), before);  // no free list or chunk saw it
  Free(big);
}

TEST_F(Heap, ReleasedNodesAreReusedLastInFirstOut) {
  void* a = Alloc(100);
  void* b = Alloc(100);
  void* keep = Alloc(100);
  NodeHeader* na = Node(a);
  NodeHeader* nb = Node(b);
  Free(a);
  Free(b);
  EXPECT_EQ(FreeList(*mgr, 1), (std::vector<NodeHeader*>{nb, na}));
  EXPECT_EQ(Alloc(100), b);
  EXPECT_EQ(Alloc(90), a);  // any request of the same class
  EXPECT_TRUE(FreeList(*mgr, 1).empty());
  Free(keep);
}

TEST_F(Heap, AnEmptyClassIsServedByTheFirstFreeNodeUpToSixteenClassesLarger) {
  void* c16 = Alloc(RequestForClass(16));
  void* c17 = Alloc(RequestForClass(17));
  void* c3 = Alloc(RequestForClass(3));
  void* c2 = Alloc(RequestForClass(2));
  void* spacer = Alloc(1);
  Free(c3);
  Free(c2);
  // Class 1 is empty: the search goes up in order and takes class 2 first, and
  // the node keeps its own size.
  EXPECT_EQ(Alloc(RequestForClass(1)), c2);
  EXPECT_EQ(NodeSizeOf(c2), 3u * 128);
  EXPECT_EQ(Alloc(RequestForClass(1)), c3);

  Free(c17);
  Free(c16);
  EXPECT_EQ(Alloc(0), c16);  // exactly sixteen classes above class 0
  EXPECT_EQ(Node(c16)->cbClientTotal, 17u * 128 - 72);
  unsigned carvedBefore = mgr->m_t.pChunkFirst->cNodesCreated;
  void* fresh = Alloc(0);  // class 17 is out of reach: carved
  EXPECT_NE(fresh, c17);
  EXPECT_EQ(mgr->m_t.pChunkFirst->cNodesCreated, carvedBefore + 1);
  EXPECT_EQ(FreeList(*mgr, 17).size(), 1u);
  for (void* p : {c16, c3, c2, spacer, fresh}) Free(p);
}

// Carves nodes of the given sizes (in 128-byte granules) from a fresh manager.
std::vector<void*> CarveGranules(MemMgr& m, const std::vector<unsigned>& granules) {
  std::vector<void*> blocks;
  for (unsigned g : granules) {
    blocks.push_back(m.Allocate(nullptr, RequestForClass(g - 1), "e", "f", 1, NORMAL_NODE));
  }
  return blocks;
}

TEST_F(Heap, ARequestThatDoesNotFitTurnsTheChunksRestIntoAFreeNodeAndStartsANewChunk) {
  // Six nodes leave exactly 176 bytes uncarved: room for one 128-byte node.
  std::vector<void*> blocks = CarveGranules(*mgr, {4096, 4088, 1, 1, 1, 1});
  MemChunk* first = mgr->m_t.pChunkFirst;
  ASSERT_EQ(first->cbClientFree, 128u + kNodeExtra);
  void* next = Alloc(RequestForClass(1));
  ASSERT_NE(next, nullptr);
  MemChunk* second = mgr->m_t.pChunkFirst;
  EXPECT_NE(second, first);
  EXPECT_EQ(second->pChunkNext, first);
  EXPECT_EQ(first->pChunkPrev, second);
  EXPECT_EQ(first->cbClientFree, 0u);
  EXPECT_EQ(first->cNodesCreated, 7u);
  ASSERT_EQ(FreeList(*mgr, 0).size(), 1u);
  NodeHeader* rest = FreeList(*mgr, 0)[0];
  EXPECT_EQ(rest->pThisChunk, first);
  EXPECT_EQ(rest->cbClientTotal, 56u);
  EXPECT_EQ(Node(next)->pThisChunk, second);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(Node(next)), second->pClient);
  // The free node serves the next small request.
  EXPECT_EQ(Alloc(3), rest->pClient);
  EXPECT_EQ(PlatformCounter::Allocs, 2);
}

TEST_F(Heap, ARestTooSmallForANodeIsLeftUncarved) {
  // Nine nodes leave 160 bytes: less than the 176 a 128-byte node takes.
  CarveGranules(*mgr, {4096, 4084, 1, 1, 1, 1, 1, 1, 1});
  MemChunk* first = mgr->m_t.pChunkFirst;
  ASSERT_EQ(first->cbClientFree, 160u);
  void* next = Alloc(0);
  EXPECT_NE(mgr->m_t.pChunkFirst, first);
  EXPECT_EQ(Node(next)->pThisChunk, mgr->m_t.pChunkFirst);
  EXPECT_EQ(first->cbClientFree, 160u);
  EXPECT_EQ(first->cNodesCreated, 9u);
  for (unsigned k = 0; k < kFreeClasses; k++) EXPECT_EQ(mgr->m_t.aFreeList[k], nullptr);
}

TEST_F(Heap, TheFourthChunkToBecomeEmptyIsReleasedAndThreeStay) {
  // The largest chunk node fills more than half a chunk: one per chunk, and
  // each chunk's rest becomes a free node of a class they never search.
  std::vector<void*> blocks = CarveGranules(*mgr, {4096, 4096, 4096, 4096, 4096});
  std::vector<MemChunk*> chunks = Chunks(*mgr);  // newest first
  ASSERT_EQ(chunks.size(), 5u);
  EXPECT_EQ(mgr->m_t.cFreeChunks, 0u);
  // The rest: 1,048,528 - 524,336 bytes, less the 48 extra: 524,144 -> class 4093.
  const unsigned restClass = 4093;
  EXPECT_EQ(FreeList(*mgr, restClass).size(), 4u);

  for (int i = 0; i < 3; i++) Free(blocks[i]);  // the three oldest chunks empty
  EXPECT_EQ(mgr->m_t.cFreeChunks, 3u);
  EXPECT_EQ(Chunks(*mgr).size(), 5u);
  EXPECT_EQ(PlatformCounter::Frees, 0);

  Free(blocks[3]);
  EXPECT_EQ(mgr->m_t.cFreeChunks, 3u);
  EXPECT_EQ(Chunks(*mgr), (std::vector<MemChunk*>{chunks[0], chunks[2], chunks[3], chunks[4]}));
  EXPECT_EQ(PlatformCounter::Frees, 1);
  EXPECT_TRUE(PlatformCounter::Released.count(chunks[1]));
  // Its nodes left the free lists with it (the check in TearDown walks them all).
  EXPECT_EQ(FreeList(*mgr, restClass).size(), 3u);
  EXPECT_EQ(FreeList(*mgr, 4095).size(), 3u);

  // The newest chunk goes too: carving moves on to the next one.
  Free(blocks[4]);
  EXPECT_EQ(mgr->m_t.pChunkFirst, chunks[2]);
  EXPECT_EQ(chunks[2]->pChunkPrev, nullptr);
  EXPECT_EQ(Chunks(*mgr).size(), 3u);
  EXPECT_EQ(mgr->m_t.cFreeChunks, 3u);
  EXPECT_EQ(PlatformCounter::Frees, 2);

  // Reuse needs no platform memory.
  EXPECT_NE(Alloc(RequestForClass(4095)), nullptr);
  EXPECT_EQ(PlatformCounter::Allocs, 5);
  EXPECT_EQ(mgr->m_t.cFreeChunks, 2u);
}

TEST_F(Heap, AnUnknownAddressShowsTheBoxOnceAndChangesNothing) {
  void* live = Alloc(30);
  void* gone = Alloc(30);
  Free(gone);
  std::string before = Snapshot(*mgr);
  {
    BoxRecorder boxes;
    int local = 0;
    mgr->Free(reinterpret_cast<void*>(0x1234), "caller.cpp", 77, 0);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].Caption, "Memory Manager");
    EXPECT_EQ(boxes.Boxes()[0].Text,
              "An invalid address was deleted.\n\n   Address: 0x00001234\n"
              "   Current: caller.cpp line 77\n\nClick OK to dismiss\nClick X to debug");
    mgr->Free(gone, "caller.cpp", 78, 0);  // released twice
    mgr->Free(&local, "caller.cpp", 79, 1);
    mgr->Free(static_cast<char*>(live) + 1, "caller.cpp", 80, 0);  // inside a block
    mgr->Tare(gone, "caller.cpp", 81);
    ASSERT_EQ(boxes.Boxes().size(), 5u);
    EXPECT_EQ(boxes.Boxes()[3].Text.substr(0, 32), "An invalid address was deleted.\n");
    EXPECT_EQ(boxes.Boxes()[4].Text.substr(0, 30), "An invalid address was tared.\n");
    EXPECT_NE(boxes.Boxes()[4].Text.find("   Current: caller.cpp line 81\n"), std::string::npos);
  }
  EXPECT_EQ(Snapshot(*mgr), before);
  Free(live);
}

TEST_F(Heap, TheWrongReleaseCallIsReportedQuietlyAndStillReleases) {
  BoxRecorder boxes;
  void* object = mgr->Allocate(nullptr, 40, "new T", "f", 1, OBJECT_NODE);
  void* plain = Alloc(40);
  NodeHeader* no = Node(object);
  NodeHeader* np = Node(plain);
  mgr->Free(object, "f", 2, 0);
  mgr->Free(plain, "f", 3, 1);
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(FreeList(*mgr, 0), (std::vector<NodeHeader*>{np, no}));
}

TEST_F(Heap, TrackedMemoryIsForgottenOnReleaseNeverFreed) {
  std::vector<char> external(300, 'x');
  BoxRecorder boxes;
  void* p = mgr->Allocate(external.data(), 0, "buffer", "f", 1, RESOURCE_NODE);
  EXPECT_EQ(p, external.data());
  NodeHeader* n = Node(external.data());
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->pExtern, external.data());
  EXPECT_EQ(n->cbClientTotal + kNodeOverhead, 128u);
  EXPECT_EQ(n->iUsedList, Bucket(external.data()));
  mgr->Tare(external.data(), "f", 2);
  EXPECT_EQ(n->fTared, 1);
  mgr->Free(external.data(), "f", 3, 0);
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(Node(external.data()), nullptr);
  EXPECT_EQ(FreeList(*mgr, 0), std::vector<NodeHeader*>{n});
  EXPECT_EQ(n->pExtern, nullptr);
  EXPECT_EQ(PlatformCounter::Frees, 0);
  EXPECT_EQ(external, std::vector<char>(300, 'x'));
  // A registered object records its size but still takes a 128-byte node.
  void* o = mgr->Allocate(external.data(), 5000, "obj", "f", 4, OBJECT_NODE);
  EXPECT_EQ(o, external.data());
  EXPECT_EQ(Node(o)->cbClientThisReq, 5000u);
  EXPECT_EQ(Node(o), n);
  mgr->Free(o, "f", 5, 1);
}

TEST_F(Heap, TareMarksALiveBlock) {
  void* p = Alloc(10);
  EXPECT_EQ(Node(p)->fTared, 0);
  mgr->Tare(p, "f", 1);
  EXPECT_EQ(Node(p)->fTared, 1);
  Free(p);
  EXPECT_EQ(Alloc(10), p);
  EXPECT_EQ(Node(p)->fTared, 0);
}

TEST_F(Heap, PlatformRefusalMakesAllocationFailAndLaterOnesRecover) {
  PlatformCounter::Refuse = true;
  EXPECT_EQ(Alloc(10), nullptr);
  EXPECT_EQ(Alloc(1 << 20), nullptr);
  EXPECT_EQ(mgr->m_t.pChunkFirst, nullptr);
  PlatformCounter::Refuse = false;
  void* a = Alloc(RequestForClass(4095));
  ASSERT_NE(a, nullptr);
  PlatformCounter::Refuse = true;
  EXPECT_EQ(Alloc(RequestForClass(4095)), nullptr);  // needs a second chunk
  EXPECT_EQ(Alloc(10), nullptr);                     // class 0 cannot reach the rest
  EXPECT_NE(Alloc(RequestForClass(4080)), nullptr);  // class 4093, the rest, can
  EXPECT_EQ(mgr->Allocate(nullptr, kMaxClientReq, "e", "f", 1, NORMAL_NODE), nullptr);
  EXPECT_EQ(mgr->Allocate(nullptr, SIZE_MAX, "e", "f", 1, NORMAL_NODE), nullptr);
  PlatformCounter::Refuse = false;
}

TEST_F(Heap, AnOverrunBlockIsNeverHandedOutAgain) {
  allowDamage = true;
  BoxRecorder boxes;
  char* a = static_cast<char*>(Alloc(50));
  void* b = Alloc(50);
  MemChunk* chunk = Node(a)->pThisChunk;
  a[56] = 0;  // one byte past the usable bytes: the trailing signature
  Free(a);
  EXPECT_EQ(mgr->m_t.cNodesWithheld, 1u);
  EXPECT_EQ(Node(a), nullptr);
  EXPECT_TRUE(FreeList(*mgr, 0).empty());
  void* c = Alloc(50);
  EXPECT_NE(c, a);
  Free(b);
  Free(c);
  // The damaged node keeps its chunk in use: it is never walked or released.
  EXPECT_EQ(chunk->cNodesUsed, 1u);
  EXPECT_EQ(mgr->m_t.cFreeChunks, 0u);
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(Heap, AFreeNodeWrittenAfterReleaseIsNotReused) {
  allowDamage = true;
  char* a = static_cast<char*>(Alloc(50));
  void* keep = Alloc(50);
  Free(a);
  a[56] = 0;  // write after release, over the trailing signature
  void* b = Alloc(50);
  EXPECT_NE(b, a);
  EXPECT_EQ(mgr->m_t.cNodesWithheld, 1u);
  EXPECT_TRUE(FreeList(*mgr, 0).empty());
  Free(b);
  Free(keep);
  EXPECT_EQ(mgr->m_t.cFreeChunks, 0u);
}

TEST_F(Heap, AnOverrunIntoTheNextHeaderIsCaughtBeforeItsLinksAreFollowed) {
  allowDamage = true;
  char* a = static_cast<char*>(Alloc(50));
  char* b = static_cast<char*>(Alloc(50));
  char* c = static_cast<char*>(Alloc(50));
  void* d = Alloc(50);
  Free(c);
  Free(b);  // free list 0: b, c
  // Overrun a through its trailer, the padding and all of b's header.
  std::memset(a + 56, 0xAB, kNodeTrailer + sizeof(NodeHeader));
  void* e = Alloc(50);
  // b's links are garbage: the list behind it is given up, so e is fresh.
  EXPECT_NE(e, b);
  EXPECT_NE(e, c);
  EXPECT_EQ(mgr->m_t.aFreeList[0], nullptr);
  EXPECT_EQ(mgr->m_t.cNodesWithheld, 1u);
  Free(a);  // its own trailer is gone too
  EXPECT_EQ(mgr->m_t.cNodesWithheld, 2u);
  Free(d);
  Free(e);
  MemChunk* chunk = mgr->m_t.pChunkFirst;
  EXPECT_EQ(chunk->cNodesUsed, 2u);
}

TEST_F(Heap, AChunkWithADamagedFreeNodeIsKeptRatherThanWalked) {
  allowDamage = true;
  // Four chunks are emptied; the fourth holds a free node whose header was
  // overwritten, so releasing it would trust a bad size: it is kept for good.
  std::vector<void*> blocks = CarveGranules(*mgr, {4096, 4096, 4096, 4096, 4096});
  char* small = static_cast<char*>(Alloc(10));  // in the newest chunk
  NodeHeader* victim = Node(small);
  for (int i = 0; i < 3; i++) Free(blocks[i]);
  Free(small);
  victim->dwSigAtFront = 0;
  Free(blocks[4]);  // the newest chunk would be the fourth empty one
  EXPECT_EQ(Chunks(*mgr).size(), 5u);
  EXPECT_EQ(PlatformCounter::Frees, 0);
  EXPECT_EQ(mgr->m_t.cFreeChunks, 3u);
  Free(blocks[3]);  // the next one to empty is released as usual
  EXPECT_EQ(Chunks(*mgr).size(), 4u);
  EXPECT_EQ(PlatformCounter::Frees, 1);
  // Met again at the head of its free list, it is taken out of service.
  EXPECT_NE(Alloc(10), victim->pClient);
  EXPECT_EQ(mgr->m_t.cNodesWithheld, 1u);
  EXPECT_EQ(mgr->m_t.aFreeList[0], nullptr);
}

}  // namespace
