// 100,000 small blocks (8 to 256 bytes) allocated and then released, through
// the checking heap and through the C library, in the same run. Blocks are
// released in a shuffled order, as a program's blocks die.
#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "common_code/salloc.h"
#include "ratio_reporter.h"

namespace {
constexpr int kBlocks = 100000;

struct Workload {
  std::vector<size_t> Sizes;
  std::vector<int> ReleaseOrder;
};

const Workload& Blocks() {
  static const Workload w = [] {
    Workload w;
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> size(8, 256);
    for (int i = 0; i < kBlocks; i++) w.Sizes.push_back(size(rng));
    for (int i = 0; i < kBlocks; i++) w.ReleaseOrder.push_back(i);
    std::shuffle(w.ReleaseOrder.begin(), w.ReleaseOrder.end(), rng);
    return w;
  }();
  return w;
}

void BM_MemMgr(benchmark::State& state) {
  const Workload& w = Blocks();
  std::vector<void*> p(kBlocks);
  for (auto _ : state) {
    for (int i = 0; i < kBlocks; i++) p[i] = MemMgr_Alloc(w.Sizes[i], "block", __FILE__, __LINE__);
    benchmark::DoNotOptimize(p.data());
    for (int i : w.ReleaseOrder) MemMgr_Free(p[i], __FILE__, __LINE__);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_MemMgr)->Unit(benchmark::kMillisecond);

void BM_Malloc(benchmark::State& state) {
  const Workload& w = Blocks();
  std::vector<void*> p(kBlocks);
  for (auto _ : state) {
    for (int i = 0; i < kBlocks; i++) p[i] = std::malloc(w.Sizes[i]);
    benchmark::DoNotOptimize(p.data());
    for (int i : w.ReleaseOrder) std::free(p[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_Malloc)->Unit(benchmark::kMillisecond);
}  // namespace

int main(int argc, char** argv) {
  return RunWithRatios(argc, argv,
                       {{"checking heap / malloc+free, 100,000 blocks", "BM_MemMgr", "BM_Malloc"}});
}
