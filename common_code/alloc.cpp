// The checking heap (see salloc.h for the layout and the size rules).
//
// Damaged nodes. A block overrun first hits its own trailing signature, then
// the leading signature of the node after it; a write after release hits a
// free node. Whenever the manager is about to trust a node (releasing it,
// handing it out again, walking a chunk to release it) it checks the
// signatures first. A node with an overwritten signature is taken out of
// service for good: it never returns to a free list, and its chunk counts it
// as used so that the chunk is never walked or released. Links of a node whose
// leading signature is gone are never followed; what hangs behind them (the
// rest of a hash bucket or free list) is given up rather than risked.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common_code/salloc.h"
#include "platform/winapi/debugger.h"
#include "platform/winapi/win32.h"

namespace {

const char kFreeText[] = "free";

unsigned UsedBucket(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p) >> 4) & (kUsedBuckets - 1);
}

// Size class of a node of `cbNode` bytes; a chunk's last node may be of any
// size from 128 up and joins the class below it.
unsigned FreeClass(unsigned cbNode) { return cbNode / kNodeGranule - 1; }

unsigned NodeSize(const NodeHeader* pNode) { return pNode->cbClientTotal + kNodeOverhead; }

bool FrontIntact(const NodeHeader* pNode) { return pNode->dwSigAtFront == kSigAtFront; }

bool BackIntact(NodeHeader* pNode) {
  uint32_t sig;
  std::memcpy(&sig, TrailingSignature(pNode), sizeof(sig));
  return sig == kSigAtBack;
}

bool Intact(NodeHeader* pNode) { return FrontIntact(pNode) && BackIntact(pNode); }

void MarkFree(NodeHeader* pNode) {
  pNode->iUsedList = kNotUsed;
  pNode->pszFile = kFreeText;
  pNode->pszExpr = kFreeText;
  pNode->iLine = 0;
  pNode->fTared = 0;
  pNode->pExtern = nullptr;
}

// A free node of `cbNode` bytes at `pMem`, unlinked, with both signatures.
NodeHeader* BuildNode(void* pMem, unsigned cbNode, MemChunk* pChunk) {
  NodeHeader* pNode = new (pMem) NodeHeader{};
  pNode->dwSigAtFront = kSigAtFront;
  pNode->pThisChunk = pChunk;
  pNode->cbClientTotal = cbNode - kNodeOverhead;
  pNode->pClient = reinterpret_cast<unsigned char*>(pNode + 1);
  MarkFree(pNode);
  std::memcpy(TrailingSignature(pNode), &kSigAtBack, sizeof(kSigAtBack));
  return pNode;
}

}  // namespace

MemMgr::MemMgr() = default;

MemMgr::~MemMgr() {
  for (NodeHeader* pHead : m_t.aUsedList) {
    for (NodeHeader* pNode = pHead; pNode && FrontIntact(pNode);) {
      NodeHeader* pNext = pNode->pUsedNext;
      if (pNode->fIsHuge) PlatformFree(pNode);
      pNode = pNext;
    }
  }
  while (MemChunk* pChunk = m_t.pChunkFirst) {
    m_t.pChunkFirst = pChunk->pChunkNext;
    PlatformFree(pChunk);
  }
}

void MemMgr::Enter() { m_t.cs.lock(); }
void MemMgr::Leave() { m_t.cs.unlock(); }

void* MemMgr::PlatformAlloc(size_t cb) {
  return m_pfnPlatformAlloc ? m_pfnPlatformAlloc(cb) : std::malloc(cb);
}

void MemMgr::PlatformFree(void* p) {
  if (m_pfnPlatformFree) {
    m_pfnPlatformFree(p);
  } else {
    std::free(p);
  }
}

void MemMgr::CreateChunk() {
  void* pMem = PlatformAlloc(kMemChunkSize);
  if (!pMem) return;
  MemChunk* pChunk = new (pMem) MemChunk{};
  pChunk->pChunkNext = m_t.pChunkFirst;
  if (m_t.pChunkFirst) m_t.pChunkFirst->pChunkPrev = pChunk;
  m_t.pChunkFirst = pChunk;
  m_t.cFreeChunks++;
  pChunk->cbClientArea = pChunk->cbClientFree = kMemChunkSize - sizeof(MemChunk);
  pChunk->pClient = reinterpret_cast<unsigned char*>(pChunk + 1);
}

NodeHeader* MemMgr::CarveChunk(unsigned cbReq, int fPutOnFreeList) {
  cbReq = std::max(cbReq, kNodeGranule);
  MemChunk* pChunk = m_t.pChunkFirst;
  if (!pChunk || size_t{cbReq} + kNodeExtra > pChunk->cbClientFree) return nullptr;
  unsigned char* pAt = pChunk->pClient + (pChunk->cbClientArea - pChunk->cbClientFree);
  pChunk->cbClientFree -= cbReq + kNodeExtra;
  pChunk->cNodesCreated++;
  NodeHeader* pNode = BuildNode(pAt, cbReq, pChunk);
  if (fPutOnFreeList) PushFree(pNode);
  return pNode;
}

void* MemMgr::Allocate(void* pExtern, size_t cbClientReq, const char* pszExpr, const char* pszFile,
                       int iLine, NodeType Type) {
  if (cbClientReq >= kMaxClientReq) return nullptr;
  unsigned cbNode = (pExtern ? 0 : static_cast<unsigned>(cbClientReq)) + kNodeOverhead;
  cbNode += kNodeGranule - cbNode % kNodeGranule;
  const bool fHuge = cbNode > kHugeNodeSize;

  ScopedLock lock(m_t.cs);
  NodeHeader* pNode = nullptr;
  if (fHuge) {
    void* pMem = PlatformAlloc(size_t{cbNode} + kNodeExtra);
    if (pMem) pNode = BuildNode(pMem, cbNode, nullptr);
  } else {
    pNode = TakeFreeNode(FreeClass(cbNode), pszFile, iLine);
    if (!pNode) {
      if (!m_t.pChunkFirst) {
        CreateChunk();
      } else if (cbNode + kNodeExtra > m_t.pChunkFirst->cbClientFree) {
        // The rest of the newest chunk becomes one free node (when it can
        // hold one) before a new chunk takes over the carving.
        unsigned cbLeft = m_t.pChunkFirst->cbClientFree;
        if (cbLeft >= kNodeExtra) CarveChunk(cbLeft - kNodeExtra, 1);
        CreateChunk();
      }
      pNode = CarveChunk(cbNode, 0);
    }
  }

  void* pResult = nullptr;
  if (pNode) {
    pResult = pExtern ? pExtern : pNode->pClient;
    unsigned iBucket = UsedBucket(pResult);
    pNode->iUsedList = iBucket;
    pNode->pUsedPrev = nullptr;
    pNode->pUsedNext = m_t.aUsedList[iBucket];
    if (pNode->pUsedNext) pNode->pUsedNext->pUsedPrev = pNode;
    m_t.aUsedList[iBucket] = pNode;
    pNode->Type = Type;
    pNode->fIsHuge = fHuge;
    pNode->cbClientThisReq = static_cast<unsigned>(cbClientReq);
    pNode->pszFile = pszFile;
    pNode->pszExpr = pszExpr;
    pNode->iLine = iLine;
    pNode->fTared = 0;
    pNode->pExtern = pExtern;
    if (MemChunk* pChunk = pNode->pThisChunk; pChunk && ++pChunk->cNodesUsed == 1) {
      m_t.cFreeChunks--;
    }
  }
  return pResult;
}

// Takes the head of the first non-empty free list from `iClass` up to
// kFreeListSearch classes above it, withholding damaged heads on the way.
NodeHeader* MemMgr::TakeFreeNode(unsigned iClass, const char* pszFile, int iLine) {
  const unsigned iLast = std::min(iClass + kFreeListSearch, kFreeClasses - 1);
  for (unsigned k = iClass; k <= iLast; k++) {
    while (NodeHeader* pNode = m_t.aFreeList[k]) {
      if (Intact(pNode)) {
        UnlinkFree(pNode);
        return pNode;
      }
      VerifySignatures(pNode, pszFile, iLine);
      m_t.cNodesWithheld++;
      if (FrontIntact(pNode)) {
        UnlinkFree(pNode);
        PinChunk(pNode->pThisChunk);
      } else {
        m_t.aFreeList[k] = nullptr;
        PinChunk(ChunkHolding(pNode));
      }
    }
  }
  return nullptr;
}

void MemMgr::PushFree(NodeHeader* pNode) {
  NodeHeader*& pHead = m_t.aFreeList[FreeClass(NodeSize(pNode))];
  pNode->pFreePrev = nullptr;
  pNode->pFreeNext = pHead;
  if (pHead) pHead->pFreePrev = pNode;
  pHead = pNode;
}

// Also safe for a node no longer reachable from its list's head (one given up
// behind a damaged node): the list head is only moved when it is this node.
void MemMgr::UnlinkFree(NodeHeader* pNode) {
  NodeHeader*& pHead = m_t.aFreeList[FreeClass(NodeSize(pNode))];
  if (pNode->pFreePrev) {
    pNode->pFreePrev->pFreeNext = pNode->pFreeNext;
  } else if (pHead == pNode) {
    pHead = pNode->pFreeNext;
  }
  if (pNode->pFreeNext) pNode->pFreeNext->pFreePrev = pNode->pFreePrev;
  pNode->pFreePrev = pNode->pFreeNext = nullptr;
}

// Counts one more node of `pChunk` as used for good, so the chunk is never
// released.
void MemMgr::PinChunk(MemChunk* pChunk) {
  if (pChunk && pChunk->cNodesUsed++ == 0) m_t.cFreeChunks--;
}

MemChunk* MemMgr::ChunkHolding(const void* p) {
  const unsigned char* pByte = static_cast<const unsigned char*>(p);
  for (MemChunk* pChunk = m_t.pChunkFirst; pChunk; pChunk = pChunk->pChunkNext) {
    if (pByte >= pChunk->pClient && pByte < pChunk->pClient + pChunk->cbClientArea) return pChunk;
  }
  return nullptr;
}

// The live node at `pData` and the node before it in its bucket. The walk
// stops at a damaged header, whose links cannot be trusted.
NodeHeader* MemMgr::FindUsed(const void* pData, NodeHeader** ppPrev) {
  *ppPrev = nullptr;
  if (!pData) return nullptr;
  for (NodeHeader* pNode = m_t.aUsedList[UsedBucket(pData)]; pNode; pNode = pNode->pUsedNext) {
    if (pNode->pClient == pData || pNode->pExtern == pData) return pNode;
    if (!FrontIntact(pNode)) break;
    *ppPrev = pNode;
  }
  return nullptr;
}

NodeHeader* MemMgr::FindNodeHeader(const void* pData) {
  NodeHeader* pPrev;
  return FindUsed(pData, &pPrev);
}

int MemMgr::VerifySignatures(NodeHeader* pNode, const char* pszFile, int iLine) {
  if (!FrontIntact(pNode)) {
    MemMgr_ShowWarning(pNode, pszFile, iLine,
                       "The leading signature on a memory block was overwritten.");
    return 0;
  }
  if (!BackIntact(pNode)) {
    MemMgr_ShowWarning(pNode, pszFile, iLine,
                       "The trailing signature on a memory block was overwritten.");
    return 0;
  }
  return 1;
}

void MemMgr::Free(void* pAddress, const char* pszFile, int iLine, int fIsDeleteFree) {
  {
    ScopedLock lock(m_t.cs);
    NodeHeader* pPrev;
    if (NodeHeader* pNode = FindUsed(pAddress, &pPrev)) {
      FreeNode(pNode, pPrev, pAddress, pszFile, iLine, fIsDeleteFree);
      return;
    }
  }
  // The box waits for the user: the other threads keep the heap meanwhile.
  MemMgr_ShowWarning(pAddress, pszFile, iLine, "An invalid address was deleted.");
}

void MemMgr::FreeNode(NodeHeader* pNode, NodeHeader* pPrev, void* pAddress, const char* pszFile,
                      int iLine, int fIsDeleteFree) {
  if (fIsDeleteFree && pNode->Type != OBJECT_NODE) {
    MemMgr_ShowWarning(pNode, pszFile, iLine, "A non-object memory address was deleted.");
  } else if (!fIsDeleteFree && pNode->Type == OBJECT_NODE) {
    MemMgr_ShowWarning(pNode, pszFile, iLine,
                       "A C++ object was deleted using the \"free\" method.");
  }
  const bool fIntact = VerifySignatures(pNode, pszFile, iLine);

  NodeHeader* pNext = FrontIntact(pNode) ? pNode->pUsedNext : nullptr;
  if (pPrev) {
    pPrev->pUsedNext = pNext;
  } else {
    m_t.aUsedList[UsedBucket(pAddress)] = pNext;
  }
  if (pNext) pNext->pUsedPrev = pPrev;

  if (!fIntact) {
    // Out of service: still counted as used by its chunk.
    m_t.cNodesWithheld++;
    return;
  }
  pNode->pUsedPrev = pNode->pUsedNext = nullptr;
  pNode->iUsedList = kNotUsed;

  if (pNode->fIsHuge) {
    PlatformFree(pNode);
    return;
  }

  MarkFree(pNode);
  PushFree(pNode);
  MemChunk* pChunk = pNode->pThisChunk;
  if (--pChunk->cNodesUsed == 0 && ++m_t.cFreeChunks > kEmptyChunksKept) ReleaseChunk(pChunk);
}

// Returns an empty chunk to the platform after taking its nodes off their
// free lists. The walk steps by each node's size and follows its links, so
// every header must be intact first; a chunk with a damaged header is kept
// for good instead. (A damaged trailing signature does not matter here: the
// node's memory is not used again.)
void MemMgr::ReleaseChunk(MemChunk* pChunk) {
  const unsigned char* pEnd = pChunk->pClient + (pChunk->cbClientArea - pChunk->cbClientFree);
  unsigned char* pAt = pChunk->pClient;
  for (unsigned i = 0; i < pChunk->cNodesCreated; i++) {
    NodeHeader* pNode = reinterpret_cast<NodeHeader*>(pAt);
    const size_t cbLeft = static_cast<size_t>(pEnd - pAt);
    if (cbLeft < sizeof(NodeHeader) || !FrontIntact(pNode) ||
        size_t{NodeSize(pNode)} + kNodeExtra > cbLeft) {
      PinChunk(pChunk);
      return;
    }
    pAt += NodeSize(pNode) + kNodeExtra;
  }
  pAt = pChunk->pClient;
  for (unsigned i = 0; i < pChunk->cNodesCreated; i++) {
    NodeHeader* pNode = reinterpret_cast<NodeHeader*>(pAt);
    pAt += NodeSize(pNode) + kNodeExtra;
    UnlinkFree(pNode);
  }
  if (pChunk->pChunkPrev) {
    pChunk->pChunkPrev->pChunkNext = pChunk->pChunkNext;
  } else {
    m_t.pChunkFirst = pChunk->pChunkNext;
  }
  if (pChunk->pChunkNext) pChunk->pChunkNext->pChunkPrev = pChunk->pChunkPrev;
  m_t.cFreeChunks--;
  PlatformFree(pChunk);
}

void MemMgr::Tare(void* pAddress, const char* pszFile, int iLine) {
  {
    ScopedLock lock(m_t.cs);
    if (NodeHeader* pNode = FindNodeHeader(pAddress)) {
      VerifySignatures(pNode, pszFile, iLine);
      pNode->fTared = 1;
      return;
    }
  }
  MemMgr_ShowWarning(pAddress, pszFile, iLine, "An invalid address was tared.");
}

void MemMgr::ReportLeaks() {}

MemMgr* GetGlobalMemMgr() {
  // Never destroyed: static destructors may still release blocks.
  static MemMgr* const s_pMgr = new MemMgr;
  return s_pMgr;
}

void* MemMgr_Alloc(size_t cb, const char* pszExpr, const char* pszFile, int iLine) {
  return GetGlobalMemMgr()->Allocate(nullptr, cb, pszExpr, pszFile, iLine, NORMAL_NODE);
}

void* MemMgr_New(void* pExtern, size_t cb, const char* pszExpr, const char* pszFile, int iLine) {
  return GetGlobalMemMgr()->Allocate(pExtern, cb, pszExpr, pszFile, iLine, OBJECT_NODE);
}

void* MemMgr_Track(void* p, const char* pszExpr, const char* pszFile, int iLine) {
  return GetGlobalMemMgr()->Allocate(p, 0, pszExpr, pszFile, iLine, RESOURCE_NODE);
}

void MemMgr_Free(void* p, const char* pszFile, int iLine) {
  GetGlobalMemMgr()->Free(p, pszFile, iLine, 0);
}

void MemMgr_Delete(void* p, const char* pszFile, int iLine) {
  GetGlobalMemMgr()->Free(p, pszFile, iLine, 1);
}

void MemMgr_Tare(void* p, const char* pszFile, int iLine) {
  GetGlobalMemMgr()->Tare(p, pszFile, iLine);
}

int MemMgr_Realloc(size_t cbElement, void** ppOld, unsigned* pcOld, unsigned cReq, unsigned cInc,
                   int chFill, const char* pszFile, int iLine) {
  const unsigned cOld = *pcOld;
  if (cReq <= cOld) return 1;
  // With no growth the new array would be one element short of cReq.
  const uint64_t cAlloc = uint64_t{cReq} + std::max(cInc, 1u) - 1;
  if (cAlloc > UINT32_MAX || (cbElement && cAlloc > SIZE_MAX / cbElement)) return 0;
  const size_t cbNew = cbElement * cAlloc;
  unsigned char* pNew =
      static_cast<unsigned char*>(MemMgr_Alloc(cbNew, "MemRealloc", pszFile, iLine));
  if (!pNew) return 0;
  // Without an old array every element is new, whatever *pcOld said.
  const size_t cbKept = *ppOld ? cbElement * cOld : 0;
  if (cbKept) std::memcpy(pNew, *ppOld, cbKept);
  std::memset(pNew + cbKept, chFill, cbNew - cbKept);
  if (*ppOld) MemMgr_Free(*ppOld, pszFile, iLine);
  *ppOld = pNew;
  *pcOld = static_cast<unsigned>(cAlloc);
  return 1;
}

void MemMgr_ReportLeaks() { GetGlobalMemMgr()->ReportLeaks(); }

void MemMgr_ShowWarning(const void* pAddr, const char* pszThisFile, int iThisLine,
                        const char* pszDesc) {
  char szText[1024];
  std::snprintf(szText, sizeof(szText),
                "%s\n\n   Address: 0x%08lX\n   Current: %s line %ld\n\n"
                "Click OK to dismiss\nClick X to debug",
                pszDesc, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pAddr)),
                pszThisFile ? pszThisFile : "?", static_cast<long>(iThisLine));
  // The platform reports a box closed without a choice as Cancel.
  if (MessageBox(nullptr, szText, "Memory Manager", MB_OKCANCEL | MB_ICONSTOP) == IDCANCEL &&
      DebuggerAttached()) {
    BreakIntoDebugger();
  }
}

void MemMgr_ShowWarning(NodeHeader*, const char*, int, const char*) {}
