// Pitch analysis: spectrum transform, peak list, estimator, note naming and,
// on the desk build, the noise gate and the reference tone.
//
// The desk transform is our own radix-2 FFT whose rounding (angles, twiddles
// and butterfly products to single precision) is part of its contract; the
// vector kernels below compute exactly the same IEEE operations as the plain
// scalar butterfly, only several butterflies at a time. The pocket build uses
// FFTW 2's real-data transform instead.
#include "tuner/analysis.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if ZELVARO_POCKET
#include <rfftw.h>
#endif

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#define ZELVARO_ANALYSIS_X86 1
#else
#define ZELVARO_ANALYSIS_X86 0
#endif

namespace {
constexpr double kTwoPi = 6.283185307179586;

// Frees every pointer of the list that is set.
template <typename... T>
void FreeAll(T*... p) {
  (std::free(p), ...);
}

// Analysis window of `len` weights: 0.51 - 0.49 cos(2 pi i / len), mirrored.
void FillWindow(double* w, unsigned long len) {
  for (unsigned long i = 0; i < len / 2; i++) {
    double v = 0.51 - 0.49 * std::cos(i * kTwoPi / len);
    w[i] = v;
    w[len - 1 - i] = v;
  }
}
}  // namespace

// =============================================================================
// Spectrum transform
// =============================================================================

unsigned long nn = 0;
unsigned int lognn = 0;
double* window = nullptr;

#if !ZELVARO_POCKET

double* rout = nullptr;
double* iout = nullptr;
double* costable = nullptr;
double* sintable = nullptr;
unsigned int* bit_reverse = nullptr;

namespace {
// Twiddles of every stage, already rounded to single precision and laid out
// contiguously: stage `half` uses entries half-1 .. 2*half-2, entry half-1+j
// being (float) costable[j * nn / (2 * half)] (likewise for the sines). They
// are the values the butterflies use, precomputed once per length.
double* stage_cos = nullptr;
double* stage_sin = nullptr;

// Longest block the transform accepts: the bit-reversal table holds unsigned
// ints and every table must stay addressable.
constexpr unsigned long kMaxFftLength = 1UL << 30;

inline double RoundToSingle(double v) { return static_cast<double>(static_cast<float>(v)); }

// One butterfly exactly as the transform defines it.
inline void Butterfly(double* re, double* im, unsigned long i, unsigned long k, double c,
                      double s) {
  double tr = RoundToSingle(c * re[k] - s * im[k]);
  double ti = RoundToSingle(c * im[k] + s * re[k]);
  re[k] = re[i] - tr;
  im[k] = im[i] - ti;
  re[i] = re[i] + tr;
  im[i] = im[i] + ti;
}

void StageScalar(double* re, double* im, unsigned long n, unsigned long half, const double* c,
                 const double* s) {
  for (unsigned long b = 0; b < n; b += 2 * half)
    for (unsigned long j = 0; j < half; j++) Butterfly(re, im, b + j, b + j + half, c[j], s[j]);
}

#if ZELVARO_ANALYSIS_X86
// Two butterflies at a time; needs half to be a multiple of 2.
void StageSse2(double* re, double* im, unsigned long n, unsigned long half, const double* c,
               const double* s) {
  for (unsigned long b = 0; b < n; b += 2 * half) {
    double* ri = re + b;
    double* ii = im + b;
    double* rk = ri + half;
    double* ik = ii + half;
    for (unsigned long j = 0; j < half; j += 2) {
      __m128d vc = _mm_loadu_pd(c + j), vs = _mm_loadu_pd(s + j);
      __m128d xr = _mm_loadu_pd(rk + j), xi = _mm_loadu_pd(ik + j);
      __m128d tr = _mm_sub_pd(_mm_mul_pd(vc, xr), _mm_mul_pd(vs, xi));
      __m128d ti = _mm_add_pd(_mm_mul_pd(vc, xi), _mm_mul_pd(vs, xr));
      tr = _mm_cvtps_pd(_mm_cvtpd_ps(tr));
      ti = _mm_cvtps_pd(_mm_cvtpd_ps(ti));
      __m128d ar = _mm_loadu_pd(ri + j), ai = _mm_loadu_pd(ii + j);
      _mm_storeu_pd(rk + j, _mm_sub_pd(ar, tr));
      _mm_storeu_pd(ik + j, _mm_sub_pd(ai, ti));
      _mm_storeu_pd(ri + j, _mm_add_pd(ar, tr));
      _mm_storeu_pd(ii + j, _mm_add_pd(ai, ti));
    }
  }
}

// Four butterflies at a time; needs half to be a multiple of 4.
__attribute__((target("avx"))) void StageAvx(double* re, double* im, unsigned long n,
                                             unsigned long half, const double* c, const double* s) {
  for (unsigned long b = 0; b < n; b += 2 * half) {
    double* ri = re + b;
    double* ii = im + b;
    double* rk = ri + half;
    double* ik = ii + half;
    for (unsigned long j = 0; j < half; j += 4) {
      __m256d vc = _mm256_loadu_pd(c + j), vs = _mm256_loadu_pd(s + j);
      __m256d xr = _mm256_loadu_pd(rk + j), xi = _mm256_loadu_pd(ik + j);
      __m256d tr = _mm256_sub_pd(_mm256_mul_pd(vc, xr), _mm256_mul_pd(vs, xi));
      __m256d ti = _mm256_add_pd(_mm256_mul_pd(vc, xi), _mm256_mul_pd(vs, xr));
      tr = _mm256_cvtps_pd(_mm256_cvtpd_ps(tr));
      ti = _mm256_cvtps_pd(_mm256_cvtpd_ps(ti));
      __m256d ar = _mm256_loadu_pd(ri + j), ai = _mm256_loadu_pd(ii + j);
      _mm256_storeu_pd(rk + j, _mm256_sub_pd(ar, tr));
      _mm256_storeu_pd(ik + j, _mm256_sub_pd(ai, ti));
      _mm256_storeu_pd(ri + j, _mm256_add_pd(ar, tr));
      _mm256_storeu_pd(ii + j, _mm256_add_pd(ai, ti));
    }
  }
}

__attribute__((target("avx"))) void PowerAvx(const double* re, const double* im, double* out,
                                             unsigned long count) {
  unsigned long k = 0;
  for (; k + 4 <= count; k += 4) {
    __m256d r = _mm256_loadu_pd(re + k), i = _mm256_loadu_pd(im + k);
    _mm256_storeu_pd(out + k, _mm256_add_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(i, i)));
  }
  for (; k < count; k++) out[k] = re[k] * re[k] + im[k] * im[k];
}

bool HasAvx() {
  static const bool has = __builtin_cpu_supports("avx");
  return has;
}
#endif

void PowerScalar(const double* re, const double* im, double* out, unsigned long count) {
  for (unsigned long k = 0; k < count; k++) out[k] = re[k] * re[k] + im[k] * im[k];
}
}  // namespace

int _fft_reverse_bits(unsigned int i) {
  unsigned int r = 0;
  for (unsigned int b = 0; b < lognn; b++) {
    r = (r << 1) | (i & 1);
    i >>= 1;
  }
  return static_cast<int>(r);
}

int _fft_init(unsigned long len) {
  if (len < 2 || len > kMaxFftLength) return -1;
  unsigned int stages = 1;
  for (unsigned long c = len; c > 2; c >>= 1) {
    if (c & 1) return -1;
    stages++;
  }

  // Allocate everything first so that a failure leaves the old tables intact.
  auto* br = static_cast<unsigned int*>(std::malloc(len * sizeof(unsigned int)));
  auto* ct = static_cast<double*>(std::malloc(len / 2 * sizeof(double)));
  auto* st = static_cast<double*>(std::malloc(len / 2 * sizeof(double)));
  auto* ro = static_cast<double*>(std::malloc(len * sizeof(double)));
  auto* io = static_cast<double*>(std::malloc(len * sizeof(double)));
  auto* win = static_cast<double*>(std::malloc(len * sizeof(double)));
  auto* sc = static_cast<double*>(std::malloc(len * sizeof(double)));
  auto* ss = static_cast<double*>(std::malloc(len * sizeof(double)));
  if (!br || !ct || !st || !ro || !io || !win || !sc || !ss) {
    FreeAll(br, ct, st, ro, io, win, sc, ss);
    return -1;
  }

  FreeAll(iout, rout, sintable, costable, bit_reverse, window, stage_cos, stage_sin);
  nn = len;
  lognn = stages;
  bit_reverse = br;
  costable = ct;
  sintable = st;
  rout = ro;
  iout = io;
  window = win;
  stage_cos = sc;
  stage_sin = ss;

  for (unsigned long i = 0; i < len; i++)
    bit_reverse[i] = static_cast<unsigned int>(_fft_reverse_bits(static_cast<unsigned int>(i)));
  for (unsigned long i = 0; i < len / 2; i++) {
    float a = static_cast<float>(i * kTwoPi / len);
    costable[i] = std::cos(static_cast<double>(a));
    sintable[i] = std::sin(static_cast<double>(a));
  }
  FillWindow(window, len);

  for (unsigned long half = 1, step = len / 2; half < len; half *= 2, step /= 2) {
    for (unsigned long j = 0; j < half; j++) {
      stage_cos[half - 1 + j] = RoundToSingle(costable[j * step]);
      stage_sin[half - 1 + j] = RoundToSingle(sintable[j * step]);
    }
  }
  return 0;
}

void _fft_calculate() {
  for (unsigned long half = 1; half < nn; half *= 2) {
    const double* c = stage_cos + half - 1;
    const double* s = stage_sin + half - 1;
#if ZELVARO_ANALYSIS_X86
    if (half >= 4 && HasAvx()) {
      StageAvx(rout, iout, nn, half, c, s);
      continue;
    }
    if (half >= 2) {
      StageSse2(rout, iout, nn, half, c, s);
      continue;
    }
#endif
    StageScalar(rout, iout, nn, half, c, s);
  }
}

int fft(void* data, unsigned long len, double* out, int raw) {
  if (len < 2) return -1;
  if (len != nn && _fft_init(len) != 0) return -1;

  if (raw) {
    const auto* v = static_cast<const uint32_t*>(data);
    for (unsigned long i = 0; i < len; i++) rout[bit_reverse[i]] = static_cast<double>(v[i]);
  } else {
    const auto* v = static_cast<const unsigned char*>(data);
    for (unsigned long i = 0; i < len; i++)
      rout[bit_reverse[i]] = (static_cast<int>(v[i]) - 128) * window[i];
  }
  std::memset(iout, 0, len * sizeof(double));

  _fft_calculate();

#if ZELVARO_ANALYSIS_X86
  if (HasAvx()) {
    PowerAvx(rout, iout, out, len / 2);
    return 0;
  }
#endif
  PowerScalar(rout, iout, out, len / 2);
  return 0;
}

void fft_free() {
  FreeAll(iout, rout, sintable, costable, bit_reverse, window, stage_cos, stage_sin);
  iout = rout = sintable = costable = window = stage_cos = stage_sin = nullptr;
  bit_reverse = nullptr;
  nn = 0;
  lognn = 0;
}

#else  // ZELVARO_POCKET: FFTW 2 real-data transform

namespace {
fftw_real* fftw_in = nullptr;
fftw_real* fftw_out = nullptr;
rfftw_plan plan = nullptr;
int plan_exists = 0;

// Lengths FFTW is asked to plan: large enough for any block the program
// makes, small enough that every table stays addressable.
constexpr unsigned long kMaxPlanLength = 1UL << 28;
}  // namespace

int _fft_init(unsigned long len) {
  if (len < 2 || len > kMaxPlanLength) return -1;
  auto* in = static_cast<fftw_real*>(std::malloc(len * sizeof(fftw_real)));
  auto* out = static_cast<fftw_real*>(std::malloc(len * sizeof(fftw_real)));
  auto* win = static_cast<double*>(std::malloc(len * sizeof(double)));
  if (!in || !out || !win) {
    FreeAll(in, out, win);
    return -1;
  }
  rfftw_plan p = rfftw_create_plan(static_cast<int>(len), FFTW_REAL_TO_COMPLEX, FFTW_ESTIMATE);
  if (!p) {
    FreeAll(in, out, win);
    return -1;
  }

  FreeAll(fftw_in, fftw_out, window);
  if (plan_exists) rfftw_destroy_plan(plan);
  nn = len;
  lognn = 0;
  for (unsigned long c = len; c > 1; c >>= 1) lognn++;
  fftw_in = in;
  fftw_out = out;
  window = win;
  plan = p;
  plan_exists = 1;
  FillWindow(window, len);
  return 0;
}

int fft(void* data, unsigned long len, double* out, int raw) {
  if (len < 2) return -1;
  if (len != nn && _fft_init(len) != 0) return -1;

  if (raw) {
    const auto* v = static_cast<const int32_t*>(data);
    for (unsigned long i = 0; i < len; i++) fftw_in[i] = static_cast<double>(v[i]);
  } else {
    const auto* v = static_cast<const unsigned char*>(data);
    for (unsigned long i = 0; i < len; i++) fftw_in[i] = (static_cast<int>(v[i]) - 128) * window[i];
  }
  rfftw_one(plan, fftw_in, fftw_out);

  // Halfcomplex order: out[k] = Re X_k for k <= n/2, out[n-k] = Im X_k.
  out[0] = fftw_out[0] * fftw_out[0];
  for (unsigned long k = 1; k < len / 2; k++)
    out[k] = fftw_out[k] * fftw_out[k] + fftw_out[len - k] * fftw_out[len - k];
  return 0;
}

void fft_free() {
  FreeAll(fftw_out, fftw_in, window);
  fftw_out = fftw_in = nullptr;
  window = nullptr;
  if (plan_exists) rfftw_destroy_plan(plan);
  plan = nullptr;
  plan_exists = 0;
  nn = 0;
  lognn = 0;
}

#endif

// =============================================================================
// Peak list
// =============================================================================

double* outbuf = nullptr;
unsigned long outbuf_size = 0;
_calc_peak* list = nullptr;

int _calc_is_peak(int i, double* spectrum) {
  return spectrum[i] > spectrum[i - 1] && spectrum[i] > spectrum[i + 1];
}

int _calc_peak_in_range(int from, int to, double* spectrum) {
  for (int i = from; i <= to; i++)
    if (_calc_is_peak(i, spectrum)) return i;
  return 0;
}

void _calc_init_peak_list(_calc_peak* l) {
  for (int i = 0; i < kCalcPeakCount; i++) l[i] = _calc_peak{0, 0.0, 0, 0};
}

int _calc_compare_peaks_A(const void* a, const void* b) {
  double pa = static_cast<const _calc_peak*>(a)->power;
  double pb = static_cast<const _calc_peak*>(b)->power;
  return pa > pb ? 1 : (pa == pb ? 0 : -1);
}

int _calc_compare_peaks_I(const void* a, const void* b) {
  int ba = static_cast<const _calc_peak*>(a)->bin;
  int bb = static_cast<const _calc_peak*>(b)->bin;
  return ba > bb ? 1 : (ba == bb ? 0 : -1);
}

void _calc_peak_add(int i, double* spectrum, _calc_peak* l) {
  if (!(spectrum[i] > l[0].power)) return;
  l[0].bin = i;
  l[0].power = spectrum[i];
  // The list is normally in power order already but for the replaced entry
  // 0; moving that one up to its place sorts it in a few steps. Only a list
  // left in another order (by the harmonic vote) needs the full sort.
  for (int j = 1; j + 1 < kCalcPeakCount; j++) {
    if (_calc_compare_peaks_A(&l[j], &l[j + 1]) > 0) {
      std::qsort(l, kCalcPeakCount, sizeof(_calc_peak), _calc_compare_peaks_A);
      return;
    }
  }
  for (int j = 0; j + 1 < kCalcPeakCount && l[j].power > l[j + 1].power; j++) {
    _calc_peak t = l[j];
    l[j] = l[j + 1];
    l[j + 1] = t;
  }
}

namespace {
// Highest bin whose neighbours both exist in outbuf: the transform writes
// bins 0 .. len/2-1 and the zero-filled entry len/2 stands above them.
int TopScanBin(long len) { return static_cast<int>(len / 2); }
}  // namespace

int CalcPeaks(int rate, int len) {
  int best = 0;
  double best_power = 0.0;
  _calc_init_peak_list(list);

  double bw = static_cast<double>(rate) / len;
  int lo, hi;
  if constexpr (kPocket) {
    lo = static_cast<int>(60 * (1 / bw));
    hi = static_cast<int>(4000 * (1 / bw));
  } else {
    lo = static_cast<int>(60 / bw);
    hi = static_cast<int>(4000 / bw);
  }
  // Keep the scan inside the spectrum (bin 0 has no lower neighbour); at
  // 8000 Hz and 4096 points the band 30 .. 2047 is already inside.
  if (lo < 1) lo = 1;
  if (hi > TopScanBin(len)) hi = TopScanBin(len);

  for (int i = lo; i < hi; i++) {
    if (_calc_is_peak(i, outbuf)) _calc_peak_add(i, outbuf, list);
    if (outbuf[i] > best_power) {
      best = i;
      best_power = outbuf[i];
    }
  }
  return best;
}

double CalcExactValue(int bin, int rate, int len) {
  if (!outbuf || bin < 1 || static_cast<unsigned long>(bin) + 1 >= outbuf_size) return 0.0;
  double y0 = outbuf[bin - 1], y1 = outbuf[bin], y2 = outbuf[bin + 1];
  double sum = y0 + y1 + y2;
  if (sum == 0.0) return 0.0;
  double c = ((bin - 1) * y0 + bin * y1 + (bin + 1) * y2) / sum;
  return rate * c / len;
}

// =============================================================================
// Frequency estimator
// =============================================================================

namespace {
constexpr long double kPeakShare = 0.01L;       // rule 3: share of the band maximum
constexpr long double kMatchTolerance = 0.04L;  // subharmonic match, relative
constexpr int kSubharmonics = 10;
constexpr long double kPowerFloor = 0.001L;  // rules 1 and 2
constexpr int kMatchHalfWidth = 4;           // bins
constexpr double kThirdRatio = 1.25992105;
constexpr double kFifthRatio = 1.498307077;
constexpr long double kInverseFifth = 0.667419927030085L;
constexpr long double kHalfInverseFifth = 0.3337099635150425L;

#if !ZELVARO_POCKET
// Rule 1: votes for every peak from the harmonics of it found among the
// higher peaks; returns the chosen bin or 0.
int HarmonicVote(int best, unsigned long len, double best_power) {
  std::qsort(list, kCalcPeakCount, sizeof(_calc_peak), _calc_compare_peaks_I);
  const long top_bin = static_cast<long>(len / 2);

  for (int j = 0; j < kCalcPeakCount; j++) {
    _calc_peak& p = list[j];
    if (p.bin == 0 || kPowerFloor * best_power > p.power) continue;
    if (p.bin == best) p.max_related = 1;

    auto visit = [&](long v) {
      for (int k = j + 1; k < kCalcPeakCount; k++) {
        if (list[k].bin == best) p.max_related = 1;
        if (v - kMatchHalfWidth <= list[k].bin && list[k].bin <= v + kMatchHalfWidth) p.votes++;
      }
    };
    for (long v = 2L * p.bin; v < top_bin; v *= 2) visit(v);
    for (double ratio : {kThirdRatio, kFifthRatio}) {
      for (double g = p.bin * ratio; static_cast<long>(g) < top_bin; g *= 2)
        visit(static_cast<long>(g));
    }
  }

  int selected = 0, top = 0;
  for (int i = 0; i < kCalcPeakCount; i++) {
    if (list[i].max_related && list[i].votes >= top) {
      selected = list[i].bin;
      top = list[i].votes;
    }
  }
  return selected;
}

// First peak of outbuf in from .. to, both kept where a peak test can read
// its two neighbours.
int PeakInBand(long from, long to, unsigned long len) {
  if (from < 1) from = 1;
  if (to > TopScanBin(static_cast<long>(len)) - 1) to = TopScanBin(static_cast<long>(len)) - 1;
  if (to < from) return 0;
  return _calc_peak_in_range(static_cast<int>(from), static_cast<int>(to), outbuf);
}

// Rule 2: was the strongest bin m the second or the third harmonic?
int SubOctaveCheck(int m, unsigned long len, double best_power) {
  long double threshold = kPowerFloor * best_power;
  auto band = [&](long double centre) {
    return PeakInBand(static_cast<long>(centre - kMatchHalfWidth),
                      static_cast<long>(centre + kMatchHalfWidth), len);
  };

  int p = PeakInBand(m / 2 - 2, m / 2 + 2, len);
  if (p != 0 && outbuf[p] > threshold) {
    int q = band(static_cast<long double>(m) * kFifthRatio);
    if (q != 0 && outbuf[q] > threshold) return p;
  }
  p = band(m * kInverseFifth);
  if (p != 0 && outbuf[p] > threshold) {
    int q = band(m * kHalfInverseFifth);
    if (q != 0 && outbuf[q] > threshold) return q;
  }
  return m;
}

#endif

// Rule 3's inputs: the exact frequencies of the three strongest listed peaks
// that exceed 1 % of the band maximum at bin pk (0.0 for the others).
double SubharmonicOfPeaks(int pk, int rate, unsigned long len) {
  long double threshold = kPeakShare * outbuf[pk];
  double f[3];
  for (int j = 0; j < 3; j++) {
    const _calc_peak& p = list[kCalcPeakCount - 1 - j];
    f[j] = p.power > threshold ? CalcExactValue(p.bin, rate, static_cast<int>(len)) : 0.0;
  }
  return SubharmonicSummation(f[0], f[1], f[2]);
}
}  // namespace

int calc_init(unsigned long len) {
  auto* buf = static_cast<double*>(std::calloc(len, sizeof(double)));
  if (!buf) return -1;
  if (!list) {
    list = static_cast<_calc_peak*>(std::calloc(kCalcPeakCount, sizeof(_calc_peak)));
    if (!list) {
      std::free(buf);
      return -1;
    }
  }
  std::free(outbuf);
  outbuf = buf;
  outbuf_size = len;
  return 0;
}

double calc_freq(void* data, unsigned long len, int rate, int mode, int raw) {
  // The transform needs two points; a rate must be positive for bins to mean
  // frequencies; and the list code indexes bins with ints.
  if (len < 2 || len > (1UL << 30) || rate <= 0) return 0.0;
  if (outbuf_size != len && calc_init(len) != 0) return 0.0;
  if (fft(data, len, outbuf, raw) != 0) return 0.0;
  _calc_init_peak_list(list);

  const int ilen = static_cast<int>(len);
  int selected = 0;

#if ZELVARO_POCKET
  (void)mode;
  int pk = CalcPeaks(rate, ilen);
  double f = SubharmonicOfPeaks(pk, rate, len);
  if (f != 0.0) return f;
  selected = pk;
#else
  {
    int best = 0;
    double best_power = 0.0;
    int start = static_cast<int>(60 / (static_cast<double>(rate) / len));
    if (start < 1) start = 1;
    for (int i = start; i < ilen / 2; i++) {
      if (mode == 1 && _calc_is_peak(i, outbuf)) _calc_peak_add(i, outbuf, list);
      if (outbuf[i] > best_power) {
        best = i;
        best_power = outbuf[i];
      }
    }

    switch (mode) {
      case 0:
        selected = best;
        break;
      case 1:
        selected = HarmonicVote(best, len, best_power);
        if (selected == 0) selected = best;
        break;
      case 2:
        selected = SubOctaveCheck(best, len, best_power);
        break;
      case 3: {
        int pk = CalcPeaks(rate, ilen);
        double f = SubharmonicOfPeaks(pk, rate, len);
        if (f != 0.0) return f;
        selected = best;
        break;
      }
      default:
        return 0.0;
    }
  }
#endif
  return CalcExactValue(selected, rate, ilen);
}

void calc_end() {
  std::free(outbuf);
  std::free(list);
  outbuf = nullptr;
  list = nullptr;
  outbuf_size = 0;
  fft_free();
}

double SubharmonicSummation(double f1, double f2, double f3) {
  if (f1 != 0 && f2 == 0 && f3 == 0) return f1;

  double sub2[kSubharmonics], sub3[kSubharmonics];
  for (int m = 0; m < kSubharmonics; m++) {
    sub2[m] = f2 / (m + 1);
    sub3[m] = f3 / (m + 1);
  }
  // A flag, once set, stays set for the rest of the search.
  bool match2 = f2 == 0, match3 = f3 == 0;
  auto matches = [](const double* sub, long double lo, long double hi) {
    for (int m = 0; m < kSubharmonics; m++)
      if (sub[m] > lo && sub[m] < hi) return true;
    return false;
  };

  for (int k = 1; k <= kSubharmonics; k++) {
    double c = f1 / k;
    if (c < 60) return 0.0;
    long double t = kMatchTolerance * c;
    if (f2 != 0 && matches(sub2, c - t, c + t)) match2 = true;
    if (f3 != 0 && matches(sub3, c - t, c + t)) match3 = true;
    if (match2 && match3) return c;
  }
  return 0.0;
}

// =============================================================================
// Note naming and smoothing
// =============================================================================

double ref_freq = 440.0;
const char* notes[13] = {"A ", "A#", "B ", "C ", "C#", "D ", "D#",
                         "E ", "F ", "F#", "G ", "G#", "A "};
const char* blank = "  ";

int note(double freq, _note_type* nt) {
  if (!(freq > 8.0)) {
    nt->name = blank;
    nt->cents = -49;
    return 0;
  }
  if (std::isinf(freq)) return -1;

  double r = ref_freq;
  int o = 0;
  if (r > freq) {
    while (r > freq) {
      r *= 0.5;
      o--;
    }
  } else {
    while (freq * 0.5 > r) {
      r *= 2;
      o++;
    }
  }

  double d = 12 * std::log(freq / r) / std::log(2.0);
  int n = static_cast<int>(d + 0.5);
  if (n > 12 || n < 0) return -1;

  nt->index = n;
  nt->name = notes[n];
  nt->cents = static_cast<int>((d - n) * 100);
  nt->octave = o;

  double p = r;
  for (int i = 0; i < n; i++) p *= 1.059463094;
  double half_tolerance = nt->tolerance * 0.5;
  if (!(p - freq > half_tolerance) && !(p - freq < -half_tolerance)) nt->cents = 0;
  return 0;
}

float FindNearestNote(float freq) {
  if (freq == 0.0f) return 0.0f;
  _note_type nt{};
  nt.tolerance = 0.0;
  if (note(freq, &nt) != 0 || nt.name == blank) return 0.0f;
  int m = nt.octave * 12 + nt.index + 69;
  return static_cast<float>(440 * std::pow(2.0, (m - 69) * (1.0 / 12)));
}

float Smoothing(float x) {
  constexpr int kHistory = kPocket ? 12 : 6;
  static float history[kHistory] = {};
  static int position = 0;

  history[position] = x;
  if (++position >= kHistory) position = 0;
  float sum = 0.0f;
  for (float h : history) sum += h;
  if constexpr (kPocket) {
    return sum * 0.083333336f;
  } else {
    return static_cast<float>(sum * (1.0L / 6));
  }
}

// =============================================================================
// Noise gate and reference tone (desk only)
// =============================================================================

#if !ZELVARO_POCKET

void noise_gate(unsigned char* data, int len, int rate, int threshold, int hold_ms, int release_ms,
                int attack_ms) {
  if (threshold == 0 || !data) return;

  const long long hold = static_cast<long long>(hold_ms) * rate / 1000;
  const long long release_len = static_cast<long long>(release_ms) * rate / 1000;
  const long long attack_len = static_cast<long long>(attack_ms) * rate / 1000;
  // A ramp shorter than one sample is an immediate step.
  const float release_step = release_len > 0 ? 1.0f / release_len : 0.0f;
  const float attack_step = attack_len > 0 ? 1.0f / attack_len : 0.0f;

  bool open = true, fading = false;
  long long quiet = 0;
  float gain = 1.0f;

  auto scale = [&](int s) {
    return static_cast<unsigned char>(static_cast<int>((s - 128) * gain + 128));
  };

  for (int i = 0; i < len; i++) {
    int s = data[i];
    bool is_quiet = 128 - threshold < s && s < 128 + threshold;
    if (is_quiet) {
      if (open) {
        if (++quiet > hold) {
          open = false;
          fading = true;
        }
      } else if (fading) {
        gain = release_len > 0 ? gain - release_step : -1.0f;
        if (gain >= 0) {
          data[i] = scale(s);
        } else {
          gain = 0;
          fading = false;
          data[i] = 128;
        }
      } else {
        data[i] = 128;
      }
    } else {
      if (!open) {
        gain = attack_len > 0 ? gain + attack_step : 2.0f;
        if (gain > 1.0f) {
          gain = 1.0f;
          open = true;
        } else {
          data[i] = scale(s);
        }
      }
      quiet = 0;
    }
  }
}

namespace {
unsigned char* buffer = nullptr;  // one period of the last tone
unsigned long buflen = 0;         // period length in samples
unsigned char ampl = 0;           // peak deviation from 128

constexpr double kMaxTonePeriod = 16777216.0;  // samples
}  // namespace

void _tone_square() {
  for (unsigned long i = 0; i < buflen; i++) buffer[i] = i < buflen / 2 ? 128 + ampl : 128 - ampl;
}

void _tone_sine() {
  for (unsigned long i = 0; i < buflen; i++)
    buffer[i] =
        static_cast<unsigned char>(static_cast<int>(std::sin(i * kTwoPi / buflen) * ampl + 128));
}

void _tone_triang() {
  const unsigned long step = (static_cast<unsigned long>(ampl) * 4) / buflen;
  long v = 0;
  unsigned long i = 0;
  auto put = [&](long value) { buffer[i++] = static_cast<unsigned char>(value); };
  for (; i < buflen / 4;) {
    put(128 + v);
    v += static_cast<long>(step);
  }
  while (i < buflen / 2) {
    v -= static_cast<long>(step);
    put(128 + v);
  }
  if (v < 0) v = 0;
  while (i < 3 * buflen / 4) {
    v += static_cast<long>(step);
    put(128 - v);
  }
  while (i < buflen) {
    v -= static_cast<long>(step);
    put(128 - v);
  }
}

int tone(unsigned char* out, unsigned long len, double freq, int rate, int amplitude, int type) {
  if (type < 1 || type > 3 || !out) return -1;
  // The period must hold at least one sample, and stay of a sane size.
  if (!(freq > 0) || rate <= 0) return -1;
  double period = rate / freq;
  if (!(period >= 1.0) || period > kMaxTonePeriod) return -1;

  auto* fresh = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(period)));
  if (!fresh) return -1;
  std::free(buffer);
  buffer = fresh;
  buflen = static_cast<unsigned long>(period);
  ampl = static_cast<unsigned char>(amplitude > 127 ? 127 : (amplitude < 0 ? 0 : amplitude));

  switch (type) {
    case 1:
      _tone_square();
      break;
    case 2:
      _tone_sine();
      break;
    default:
      _tone_triang();
      break;
  }
  for (unsigned long done = 0; done < len; done += buflen) {
    unsigned long n = len - done < buflen ? len - done : buflen;
    std::memcpy(out + done, buffer, n);
  }
  return 0;
}

#endif
