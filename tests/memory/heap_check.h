// Helpers for the memory manager's tests: a full consistency check of a
// manager's structures, a byte snapshot of them, the warning boxes shown,
// and platform memory functions that count calls or refuse.
#pragma once

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common_code/salloc.h"
#include "platform/backends/headless/headless.h"
#include "platform/winapi/win32.h"

namespace memtest {

inline unsigned Bucket(const void* p) { return (reinterpret_cast<uintptr_t>(p) >> 4) & 0x3FFF; }

inline std::vector<MemChunk*> Chunks(MemMgr& m) {
  std::vector<MemChunk*> chunks;
  for (MemChunk* c = m.m_t.pChunkFirst; c; c = c->pChunkNext) chunks.push_back(c);
  return chunks;
}

inline std::vector<NodeHeader*> FreeList(MemMgr& m, unsigned k) {
  std::vector<NodeHeader*> nodes;
  for (NodeHeader* n = m.m_t.aFreeList[k]; n; n = n->pFreeNext) nodes.push_back(n);
  return nodes;
}

inline uint32_t Trailer(NodeHeader* n) {
  uint32_t sig;
  std::memcpy(&sig, TrailingSignature(n), sizeof(sig));
  return sig;
}

// Every way the manager's structures can disagree with each other, as text;
// empty when they are consistent. With `allowDamage` (tests that overwrite
// signatures on purpose) a node with a damaged header ends the walk of its
// chunk, and a chunk may count more used nodes than are listed as used: the
// nodes taken out of service.
inline std::vector<std::string> HeapProblems(MemMgr& m, bool allowDamage = false) {
  std::vector<std::string> bad;
  auto fail = [&](const std::string& s) { bad.push_back(s); };
  m.Enter();
  std::set<NodeHeader*> used, onFree;
  for (unsigned b = 0; b < kUsedBuckets; b++) {
    NodeHeader* prev = nullptr;
    for (NodeHeader* n = m.m_t.aUsedList[b]; n; prev = n, n = n->pUsedNext) {
      if (n->dwSigAtFront != kSigAtFront || Trailer(n) != kSigAtBack) fail("used node damaged");
      if (n->iUsedList != b) fail("used node records the wrong bucket");
      if (Bucket(n->pExtern ? n->pExtern : n->pClient) != b) fail("used node in the wrong bucket");
      if (n->pUsedPrev != prev) fail("used back link wrong");
      if (!used.insert(n).second) fail("used node listed twice");
    }
  }
  for (unsigned k = 0; k < kFreeClasses; k++) {
    NodeHeader* prev = nullptr;
    for (NodeHeader* n = m.m_t.aFreeList[k]; n; prev = n, n = n->pFreeNext) {
      if (n->dwSigAtFront != kSigAtFront || Trailer(n) != kSigAtBack) fail("free node damaged");
      if ((n->cbClientTotal + kNodeOverhead) / kNodeGranule - 1 != k)
        fail("free node in wrong class");
      if (n->iUsedList != kNotUsed || std::strcmp(n->pszFile, "free") != 0 ||
          std::strcmp(n->pszExpr, "free") != 0 || n->iLine != 0 || n->pExtern || n->fTared) {
        fail("free node bookkeeping not reset");
      }
      if (n->pFreePrev != prev) fail("free back link wrong");
      if (!onFree.insert(n).second) fail("free node listed twice");
      if (used.count(n)) fail("node both used and free");
    }
  }
  unsigned emptyChunks = 0;
  size_t chunkNodesSeen = 0;
  MemChunk* newer = nullptr;
  for (MemChunk* c = m.m_t.pChunkFirst; c; newer = c, c = c->pChunkNext) {
    if (c->pChunkPrev != newer) fail("chunk back link wrong");
    if (c->pClient != reinterpret_cast<unsigned char*>(c) + sizeof(MemChunk)) fail("chunk client");
    if (c->cbClientArea != kMemChunkSize - sizeof(MemChunk)) fail("chunk area");
    unsigned char* at = c->pClient;
    unsigned usedHere = 0, unlisted = 0;
    bool walked = true;
    for (unsigned i = 0; i < c->cNodesCreated; i++) {
      NodeHeader* n = reinterpret_cast<NodeHeader*>(at);
      if (n->dwSigAtFront != kSigAtFront) {
        if (!allowDamage) fail("node in chunk has a damaged header");
        walked = false;
        break;
      }
      if (n->pThisChunk != c || n->fIsHuge) fail("node does not name its chunk");
      if (n->pClient != at + sizeof(NodeHeader)) fail("node client address");
      if (used.count(n)) {
        usedHere++;
        chunkNodesSeen++;
      } else if (onFree.count(n)) {
        chunkNodesSeen++;
      } else {
        unlisted++;
      }
      at += n->cbClientTotal + kNodeOverhead + kNodeExtra;
    }
    if (walked && at != c->pClient + (c->cbClientArea - c->cbClientFree)) {
      fail("carved bytes do not add up");
    }
    if (usedHere > c->cNodesUsed) fail("chunk counts fewer used nodes than it holds");
    if (!allowDamage && (unlisted || usedHere != c->cNodesUsed)) fail("chunk use count wrong");
    if (c->cNodesUsed == 0) emptyChunks++;
  }
  size_t hugeUsed = 0;
  for (NodeHeader* n : used) hugeUsed += n->fIsHuge ? 1 : 0;
  if (!allowDamage && chunkNodesSeen != used.size() - hugeUsed + onFree.size()) {
    fail("listed node outside every chunk");
  }
  if (emptyChunks != m.m_t.cFreeChunks) fail("cFreeChunks wrong");
  if (emptyChunks > kEmptyChunksKept + 1) fail("more than three empty chunks kept");
  m.Leave();
  return bad;
}

// The bytes of everything the manager keeps: its lists and counts, every
// chunk header and every node header in the chunks.
inline std::string Snapshot(MemMgr& m) {
  std::string s;
  auto add = [&](const void* p, size_t n) { s.append(static_cast<const char*>(p), n); };
  m.Enter();
  add(&m.m_t.pChunkFirst, sizeof(m.m_t.pChunkFirst));
  add(m.m_t.aUsedList, sizeof(m.m_t.aUsedList));
  add(m.m_t.aFreeList, sizeof(m.m_t.aFreeList));
  add(&m.m_t.cFreeChunks, sizeof(m.m_t.cFreeChunks));
  add(&m.m_t.cNodesWithheld, sizeof(m.m_t.cNodesWithheld));
  for (MemChunk* c : Chunks(m)) {
    add(c, sizeof(MemChunk));
    unsigned char* at = c->pClient;
    for (unsigned i = 0; i < c->cNodesCreated; i++) {
      NodeHeader* n = reinterpret_cast<NodeHeader*>(at);
      add(n, sizeof(NodeHeader));
      at += n->cbClientTotal + kNodeOverhead + kNodeExtra;
    }
  }
  m.Leave();
  return s;
}

// The warning boxes shown while alive, as the headless backend records them
// (it becomes the current backend), each answered with `answer` (IDOK or
// IDCANCEL).
class BoxRecorder {
 public:
  struct Box {
    std::string Text, Caption;
    unsigned Type = 0;
  };
  explicit BoxRecorder(int answer = IDOK) {
    headless::Use();
    m_First = headless::MessageBoxes().size();
    headless::AnswerMessageBoxes(answer);
  }
  ~BoxRecorder() { headless::AnswerMessageBoxes(0); }
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;
  std::vector<Box> Boxes() const {
    std::vector<Box> boxes;
    std::vector<headless::RecordedMessageBox> all = headless::MessageBoxes();
    for (size_t i = m_First; i < all.size(); i++)
      boxes.push_back({all[i].Text, all[i].Caption, all[i].Type});
    return boxes;
  }

 private:
  size_t m_First = 0;
};

// Platform memory that counts what it hands out and takes back, and can
// refuse.
struct PlatformCounter {
  static inline int Allocs = 0, Frees = 0;
  static inline bool Refuse = false;
  static inline std::set<void*> Released;
  static void Reset() {
    Allocs = Frees = 0;
    Refuse = false;
    Released.clear();
  }
  static void* Alloc(size_t n) {
    if (Refuse) return nullptr;
    Allocs++;
    return std::malloc(n);
  }
  static void Free(void* p) {
    Frees++;
    Released.insert(p);
    std::free(p);
  }
  static void Install(MemMgr& m) {
    Reset();
    m.m_pfnPlatformAlloc = &Alloc;
    m.m_pfnPlatformFree = &Free;
  }
};

// The request size whose node falls in size class k (the largest such size).
inline size_t RequestForClass(unsigned k) {
  return (k + 1) * size_t{kNodeGranule} - kNodeOverhead - 1;
}

}  // namespace memtest
