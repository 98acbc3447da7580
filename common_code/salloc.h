// The checking heap. Small blocks are carved from 1 MiB chunks as nodes whose
// sizes are multiples of 128 bytes; every node wraps its block in a header that
// starts with a signature and a trailing signature after the block, and records
// the source file, line and expression that asked for it. Every live block is
// found by its address through a hash of 16384 buckets; released nodes wait on
// one free list per size class. Nodes above 512 KiB are obtained on their own.
// Memory obtained elsewhere can be registered ("tracked") so that it is released
// through the same calls, without the manager ever freeing it.
//
// Misuse is reported, never fatal: releasing or taring an unknown address shows
// the "Memory Manager" box; releasing with the wrong call for the node's type
// and overwritten signatures go to the node-level report, which shows nothing.
// A node whose signatures were overwritten is never handed out again.
//
// One process-wide manager serves every caller through the MemMgr_ functions;
// each allocating, releasing or taring call takes the caller's own source file
// and line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/winapi/thread_safety.h"

enum NodeType { NORMAL_NODE = 0, OBJECT_NODE = 1, RESOURCE_NODE = 2 };

// Sizes.
//
// The size rules charge every node 72 bytes of overhead: a header of seventeen
// 32-bit words and the 4-byte trailing signature, as the node is laid out with
// 32-bit pointers. A request of R bytes takes a node of R + 72 bytes rounded up
// to the next multiple of 128 (a sum that is already a multiple still grows by
// 128), so it gets R + 1 .. R + 128 usable bytes (`cbClientTotal` = node size - 72).
// So 55 bytes take a 128-byte node with 56 usable bytes, 56 and 0 bytes take
// 256- and 128-byte nodes, the same on every machine.
//
// With 64-bit pointers NodeHeader holds 9 pointers and 8 32-bit words, 104
// bytes, padded to 112 so that every block is 16-byte aligned, and the trailing
// signature is followed by 4 bytes of padding. A node therefore occupies its
// size plus kNodeExtra = 48 bytes of its chunk (a 128-byte node takes 176; the
// real overhead is 120 bytes). MemChunk grows from 28 to 40 bytes, padded to
// 48, which leaves 1,048,528 bytes of each chunk for nodes.
inline constexpr unsigned kMemChunkSize = 1048576;
inline constexpr unsigned kNodeGranule = 128;
inline constexpr unsigned kNodeOverhead = 72;
inline constexpr unsigned kHugeNodeSize = 0x80000;  // larger nodes are obtained on their own
inline constexpr unsigned kUsedBuckets = 16384;
inline constexpr unsigned kFreeClasses = 4096;
inline constexpr unsigned kFreeListSearch = 16;  // classes above the asked one that may serve it
inline constexpr unsigned kEmptyChunksKept = 3;
inline constexpr uint32_t kSigAtFront = 0x216D654D;  // "Mem!" in memory order
inline constexpr uint32_t kSigAtBack = 0x79616B4F;   // "Okay"
inline constexpr unsigned kNotUsed = 0xFFFFFFFF;     // `iUsedList` of a free node
// Requests of this many bytes or more fail: node sizes are kept in 32 bits.
inline constexpr size_t kMaxClientReq = 0xFFFF0000;

struct alignas(16) MemChunk {
  MemChunk* pChunkNext;    // older chunk
  MemChunk* pChunkPrev;    // newer chunk
  unsigned cbClientArea;   // bytes after the header
  unsigned cbClientFree;   // bytes of the client area not carved yet (carving runs from the front)
  unsigned cNodesUsed;     // live nodes in this chunk
  unsigned cNodesCreated;  // nodes ever carved from this chunk, live or free
  unsigned char* pClient;  // start of the client area, right after the header
};

struct alignas(16) NodeHeader {
  uint32_t dwSigAtFront;  // kSigAtFront
  unsigned iUsedList;     // used-hash bucket, or kNotUsed while free
  NodeHeader* pUsedPrev;
  NodeHeader* pUsedNext;
  NodeHeader* pFreePrev;
  NodeHeader* pFreeNext;
  MemChunk* pThisChunk;  // null for a huge node
  NodeType Type;
  int fIsHuge;
  unsigned cbClientTotal;    // usable bytes: node size - kNodeOverhead
  unsigned cbClientThisReq;  // bytes the caller asked for
  const char* pszFile;       // caller's source file, "free" while free
  const char* pszExpr;       // caller's expression, "free" while free
  int iLine;                 // caller's line, 0 while free
  int fTared;
  unsigned char* pClient;  // first client byte, right after the header
  void* pExtern;           // tracked external address, or null
};

// Bytes a node occupies beyond its size: the header's and the trailer's growth
// over the 72 the size rules charge (see "Sizes" above).
inline constexpr unsigned kNodeTrailer = 8;  // trailing signature and padding
inline constexpr unsigned kNodeExtra = sizeof(NodeHeader) + kNodeTrailer - kNodeOverhead;
static_assert(kNodeExtra % 16 == 0 && sizeof(MemChunk) % 16 == 0,
              "nodes must keep client blocks 16-byte aligned");
static_assert(sizeof(void*) != 8 ||
                  (sizeof(NodeHeader) == 112 && kNodeExtra == 48 && sizeof(MemChunk) == 48),
              "the 64-bit layout described above");

// Where a node's trailing signature lives. Only meaningful while the node's
// leading signature is intact (otherwise `cbClientTotal` cannot be trusted).
inline unsigned char* TrailingSignature(NodeHeader* pNode) {
  return pNode->pClient + pNode->cbClientTotal;
}

class MemMgr {
 public:
  MemMgr();
  // Returns every chunk and every live huge node to the platform. Blocks still
  // in use become invalid; tracked external memory is left alone.
  ~MemMgr();
  MemMgr(const MemMgr&) = delete;
  MemMgr& operator=(const MemMgr&) = delete;

  // Returns `pExtern` when it is given (the node only registers it), else the
  // client address of a new block of at least `cbClientReq` bytes; null when
  // the platform has no memory left or the request is kMaxClientReq or more.
  void* Allocate(void* pExtern, size_t cbClientReq, const char* pszExpr, const char* pszFile,
                 int iLine, NodeType Type);
  // Releases the block at `pAddress` (a client address or a tracked address).
  // `fIsDeleteFree` says the caller releases an object (MemMgr_Delete).
  void Free(void* pAddress, const char* pszFile, int iLine, int fIsDeleteFree);
  // Marks a live block as expected to outlive the program.
  void Tare(void* pAddress, const char* pszFile, int iLine);
  // Leak reports are not produced by either program: this does nothing.
  void ReportLeaks();

  void Enter() ACQUIRE(m_t.cs);
  void Leave() RELEASE(m_t.cs);

  // Internal steps, public for inspection. The caller holds the lock (Enter).
  // CreateChunk makes a new chunk the one carved from, or does nothing when
  // the platform refuses the memory.
  void CreateChunk() REQUIRES(m_t.cs);
  // Cuts a free node of `cbReq` bytes (at least 128) from the front of the
  // newest chunk's uncarved bytes, optionally onto its free list; null when
  // there is no chunk or it does not fit.
  NodeHeader* CarveChunk(unsigned cbReq, int fPutOnFreeList) REQUIRES(m_t.cs);
  // The live node whose client or tracked address is `pData`, or null.
  NodeHeader* FindNodeHeader(const void* pData) REQUIRES(m_t.cs);
  // Reports an overwritten signature to the node-level warning; 1 when both
  // signatures are intact, 0 otherwise.
  int VerifySignatures(NodeHeader* pNode, const char* pszFile, int iLine) REQUIRES(m_t.cs);

  // The manager's state. Read it only while holding the lock.
  struct State {
    RecursiveMutex cs;
    MemChunk* pChunkFirst GUARDED_BY(cs) = nullptr;  // newest chunk, the only one carved from
    NodeHeader* aUsedList[kUsedBuckets] GUARDED_BY(cs) = {};
    NodeHeader* aFreeList[kFreeClasses] GUARDED_BY(cs) = {};
    unsigned cFreeChunks GUARDED_BY(cs) = 0;  // chunks holding no live node
    // Nodes taken out of service because their signatures were overwritten.
    // They are never reused and their chunks are never released.
    unsigned cNodesWithheld GUARDED_BY(cs) = 0;
  } m_t;

  // Where chunks and huge nodes come from and go back to: the C library
  // unless replaced before the first allocation (tests count or refuse them).
  void* (*m_pfnPlatformAlloc)(size_t) = nullptr;
  void (*m_pfnPlatformFree)(void*) = nullptr;

 private:
  void* PlatformAlloc(size_t cb);
  void PlatformFree(void* p);
  NodeHeader* FindUsed(const void* pData, NodeHeader** ppPrev) REQUIRES(m_t.cs);
  // Free's work once the live node (after `pPrev` in its bucket) is found.
  void FreeNode(NodeHeader* pNode, NodeHeader* pPrev, void* pAddress, const char* pszFile,
                int iLine, int fIsDeleteFree) REQUIRES(m_t.cs);
  NodeHeader* TakeFreeNode(unsigned iClass, const char* pszFile, int iLine) REQUIRES(m_t.cs);
  void PushFree(NodeHeader* pNode) REQUIRES(m_t.cs);
  void UnlinkFree(NodeHeader* pNode) REQUIRES(m_t.cs);
  void PinChunk(MemChunk* pChunk) REQUIRES(m_t.cs);
  MemChunk* ChunkHolding(const void* p) REQUIRES(m_t.cs);
  void ReleaseChunk(MemChunk* pChunk) REQUIRES(m_t.cs);
};

// The process-wide manager, created by the first call (safely, even when two
// threads make it at once) and never destroyed, so blocks may be released
// until the process ends.
MemMgr* GetGlobalMemMgr();

void* MemMgr_Alloc(size_t cb, const char* pszExpr, const char* pszFile, int iLine);
// Registers the object at `pExtern` (its size `cb` is recorded), or allocates
// `cb` bytes for one when `pExtern` is null; release it with MemMgr_Delete.
void* MemMgr_New(void* pExtern, size_t cb, const char* pszExpr, const char* pszFile, int iLine);
// Registers memory obtained elsewhere; releasing it later only forgets it.
void* MemMgr_Track(void* p, const char* pszExpr, const char* pszFile, int iLine);
void MemMgr_Free(void* p, const char* pszFile, int iLine);
void MemMgr_Delete(void* p, const char* pszFile, int iLine);
void MemMgr_Tare(void* p, const char* pszFile, int iLine);

// Grows the array *ppOld of *pcOld elements of `cbElement` bytes to hold at
// least `cReq` elements: when it is too small, a new block of cReq + cInc - 1
// elements takes the old elements and is filled with the byte `chFill` after
// them, the old block is released, and *ppOld and *pcOld describe the new one.
// A growth `cInc` of 0 counts as 1. Returns 1 on success (also when nothing had
// to change), 0 when the memory could not be had; the old array then stays.
int MemMgr_Realloc(size_t cbElement, void** ppOld, unsigned* pcOld, unsigned cReq, unsigned cInc,
                   int chFill, const char* pszFile, int iLine);
template <class T>
int MemMgr_Realloc(size_t cbElement, T** ppOld, unsigned* pcOld, unsigned cReq, unsigned cInc,
                   int chFill, const char* pszFile, int iLine) {
  void* p = *ppOld;
  int fOk = MemMgr_Realloc(cbElement, &p, pcOld, cReq, cInc, chFill, pszFile, iLine);
  *ppOld = static_cast<T*>(p);
  return fOk;
}

void MemMgr_ReportLeaks();

// The address-level warning: shows `pszDesc` with the address and the caller's
// file and line in the platform's message box captioned "Memory Manager" (OK
// and Cancel, stop icon, no owner window). Cancel, or closing the box, stops
// in the debugger when one is attached; without one it counts as OK.
void MemMgr_ShowWarning(const void* pAddr, const char* pszThisFile, int iThisLine,
                        const char* pszDesc);
// The node-level report (wrong release call, overwritten signatures): neither
// program shows anything for it.
void MemMgr_ShowWarning(NodeHeader* pNode, const char* pszThisFile, int iThisLine,
                        const char* pszDesc);
