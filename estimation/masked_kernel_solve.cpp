#include "estimation/masked_kernel_solve.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>

#include "pipeline/parallel.h"
#include "pipeline/parallel_for.h"
#include "pipeline/plan_cache.h"

namespace velmora {

namespace {

// Lags (dr, dc) with |dr| < kr and |dc| < kc, row-major.
struct Lags {
  int kr, kc;
  int rowsOf() const { return 2 * kr - 1; }
  int colsOf() const { return 2 * kc - 1; }
  size_t count() const { return static_cast<size_t>(rowsOf()) * colsOf(); }
  size_t operator()(int dr, int dc) const {
    return static_cast<size_t>(dr + kr - 1) * colsOf() + static_cast<size_t>(dc + kc - 1);
  }
};

// Half-spectrum rows of an even number of cells keep every row aligned.
int AlignedHalf(int length) { return (HalfCols(length) + 1) / 2 * 2; }

// Lines (rows, or columns) of the two gradient planes, correlated pairwise
// and summed over the planes:
//   out[(i (2 nl - 1) + o + nl - 1) (2 nt - 1) + t + nt - 1]
//     = sum_d sum_s line_d(strip[i])(s) line_d(strip[i] + o)(s + t)
// for |o| < nl and |t| < nt; a partner line outside [0, lineCount) gives 0.
// Line j of plane d starts at planes[d] + j lineStride; its lineLength
// samples are sampleStride apart.
struct Lines {
  const float* planes[2];
  int lineCount, lineLength;
  size_t lineStride, sampleStride;
};

std::vector<double> LineCorrelations(const Lines& lines, const std::vector<int>& strip, int nl,
                                     int nt) {
  const int L = FastTransformLength(lines.lineLength + nt - 1, true);
  const int half = AlignedHalf(L);
  std::vector<int> slot(lines.lineCount, -1);
  std::vector<int> needed;
  for (int line : strip)
    for (int o = -(nl - 1); o < nl; ++o) {
      const int partner = line + o;
      if (partner >= 0 && partner < lines.lineCount && slot[partner] < 0) {
        slot[partner] = static_cast<int>(needed.size());
        needed.push_back(partner);
      }
    }
  // Plans are made before the threads run them.
  TransformPlan(TransformKind::kRealLineForward, 1, L, true);
  TransformPlan(TransformKind::kRealLineInverse, 1, L, true);
  ComplexArray spectra(needed.size() * 2 * half);
  const int count = static_cast<int>(needed.size());
#pragma omp parallel if (count * L >= 65536)
  {
    FloatArray samples(L);
#pragma omp for schedule(static)
    for (int k = 0; k < count; ++k)
      for (int d = 0; d < 2; ++d) {
        const float* in = lines.planes[d] + lines.lineStride * needed[k];
        for (int s = 0; s < lines.lineLength; ++s) samples[s] = in[lines.sampleStride * s];
        std::fill(samples.get() + lines.lineLength, samples.get() + L, 0.0f);
        RealFft1d(samples.get(), spectra.get() + (static_cast<size_t>(k) * 2 + d) * half, L);
      }
  }
  const int offsets = 2 * nl - 1, lags = 2 * nt - 1;
  std::vector<double> out(strip.size() * offsets * lags, 0.0);
  const int pairs = static_cast<int>(strip.size()) * offsets;
  const int used = HalfCols(L);
  const double scale = 1.0 / L;
#pragma omp parallel if (pairs * L >= 65536)
  {
    ComplexArray product(half);
    FloatArray correlation(L);
#pragma omp for schedule(static)
    for (int pair = 0; pair < pairs; ++pair) {
      const int i = pair / offsets, o = pair % offsets - (nl - 1);
      const int partner = strip[i] + o;
      if (partner < 0 || partner >= lines.lineCount) continue;
      const fftwf_complex* a = spectra.get() + static_cast<size_t>(slot[strip[i]]) * 2 * half;
      const fftwf_complex* b = spectra.get() + static_cast<size_t>(slot[partner]) * 2 * half;
      for (int f = 0; f < used; ++f) {
        // conj(a) b for both planes.
        product[f][0] = a[f][0] * b[f][0] + a[f][1] * b[f][1] + a[half + f][0] * b[half + f][0] +
                        a[half + f][1] * b[half + f][1];
        product[f][1] = a[f][0] * b[f][1] - a[f][1] * b[f][0] + a[half + f][0] * b[half + f][1] -
                        a[half + f][1] * b[half + f][0];
      }
      InverseRealFft1d(product.get(), correlation.get(), L);
      double* row = out.data() + static_cast<size_t>(pair) * lags;
      for (int t = -(nt - 1); t < nt; ++t) row[t + nt - 1] = correlation[(t + L) % L] * scale;
    }
  }
  return out;
}

// Sums of T(r, s) = sum_d g_d(r, s) g_d(r + dr, s + dc) over one corner
// block of the gradient plane (blockRows x blockCols from (r0, s0)), as a
// (blockRows + 1) x (blockCols + 1) table: entry (a, b) sums the block rows
// before a (prefixRows) or from a on, and likewise the columns.
struct Corner {
  int r0, s0;
  bool prefixRows, prefixCols;
};

void CornerTable(const float* const g[2], size_t stride, int hd, int wd, int dr, int dc,
                 int blockRows, int blockCols, const Corner& corner, double* cell,
                 double* table) {
  for (int i = 0; i < blockRows; ++i) {
    const int r = corner.r0 + i, pr = r + dr;
    for (int j = 0; j < blockCols; ++j) {
      const int s = corner.s0 + j, ps = s + dc;
      double t = 0.0;
      if (pr >= 0 && pr < hd && ps >= 0 && ps < wd)
        for (int d = 0; d < 2; ++d)
          t += static_cast<double>(g[d][stride * r + s]) * g[d][stride * pr + ps];
      cell[static_cast<size_t>(i) * blockCols + j] = t;
    }
  }
  const int tc = blockCols + 1;
  std::fill_n(table, static_cast<size_t>(blockRows + 1) * tc, 0.0);
  // Walk away from the empty edge of the table in each direction.
  for (int step = 0; step < blockRows; ++step) {
    const int a = corner.prefixRows ? step + 1 : blockRows - 1 - step;  // table row being made
    const int from = corner.prefixRows ? a - 1 : a + 1;                // the one it extends
    const int i = corner.prefixRows ? a - 1 : a;                       // block row it adds
    double running = 0.0;
    for (int k = 0; k < blockCols; ++k) {
      const int b = corner.prefixCols ? k + 1 : blockCols - 1 - k;
      const int j = corner.prefixCols ? b - 1 : b;
      running += cell[static_cast<size_t>(i) * blockCols + j];
      table[static_cast<size_t>(a) * tc + b] = table[static_cast<size_t>(from) * tc + b] + running;
    }
  }
}

// Per lag: sums of the strip lines' totals before (prefix) or from (suffix)
// each table index, (lines + 1) values per lag.
std::vector<double> Cumulate(const std::vector<double>& totals, int stripLines, int nl, int nt,
                             bool prefix, bool linesAreRows) {
  const int offsets = 2 * nl - 1, lags = 2 * nt - 1;
  const size_t lagCount = static_cast<size_t>(offsets) * lags;
  std::vector<double> out(lagCount * (stripLines + 1), 0.0);
  for (int o = 0; o < offsets; ++o)
    for (int t = 0; t < lags; ++t) {
      // The Gram's lag index is rows first: for columns the offset is dc.
      const size_t lag = linesAreRows ? static_cast<size_t>(o) * lags + t
                                      : static_cast<size_t>(t) * offsets + o;
      double* cum = out.data() + lag * (stripLines + 1);
      for (int step = 0; step < stripLines; ++step) {
        const int a = prefix ? step + 1 : stripLines - 1 - step;
        const int i = prefix ? a - 1 : a;
        const int from = prefix ? a - 1 : a + 1;
        cum[a] = cum[from] + totals[(static_cast<size_t>(i) * offsets + o) * lags + t];
      }
    }
  return out;
}

template <typename Operator>
void ConjugateGradient(Operator apply, const float* b, int n, int steps, float* x) {
  std::vector<float> r(n), p(n), q(n);
  apply(x, q.data());
  double rr = 0.0;
  for (int i = 0; i < n; ++i) {
    r[i] = b[i] - q[i];
    p[i] = r[i];
    rr += static_cast<double>(r[i]) * r[i];
  }
  for (int step = 0; step < steps && rr > 0.0; ++step) {
    apply(p.data(), q.data());
    double pq = 0.0;
    for (int i = 0; i < n; ++i) pq += static_cast<double>(p[i]) * q[i];
    if (!(pq > 0.0)) break;
    const double alpha = rr / pq;
    double next = 0.0;
    for (int i = 0; i < n; ++i) {
      x[i] += static_cast<float>(alpha * p[i]);
      r[i] -= static_cast<float>(alpha * q[i]);
      next += static_cast<double>(r[i]) * r[i];
    }
    const double beta = next / rr;
    rr = next;
    for (int i = 0; i < n; ++i) p[i] = static_cast<float>(r[i] + beta * p[i]);
  }
}

VELMORA_WIDE_VECTORS
float Dot(const float* a, const float* b, int n) {
  // Eight running sums: one strict sum cannot be vectorised, and this
  // product is where the dense kernel step spends its time.
  float s[8] = {};
  int i = 0;
  for (; i + 8 <= n; i += 8)
    for (int l = 0; l < 8; ++l) s[l] += a[i + l] * b[i + l];
  float total = ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7]));
  for (; i < n; ++i) total += a[i] * b[i];
  return total;
}

}  // namespace

void DenseConjugateGradient(const float* A, const float* b, int n, float weight, int steps,
                            float* x, const float* tapWeights) {
  [[maybe_unused]] const bool threaded = static_cast<size_t>(n) * n >= kParallelSamples;
  ConjugateGradient(
      [&](const float* p, float* q) {
#pragma omp parallel for schedule(static) if (threaded)
        for (int i = 0; i < n; ++i)
          q[i] = Dot(A + static_cast<size_t>(i) * n, p, n) +
                 weight * (tapWeights ? tapWeights[i] : 1.0f) * p[i];
      },
      b, n, steps, x);
}

MaskedKernelProblem::MaskedKernelProblem(const float* blurred, int rows, int cols, int kernelRows,
                                         int kernelCols)
    : rows_(rows), cols_(cols), kr_(kernelRows), kc_(kernelCols), hd_(rows - 1), wd_(cols - 1) {
  if (kernelRows % 2 == 0 || kernelCols % 2 == 0 || rows <= kernelRows || cols <= kernelCols)
    throw std::invalid_argument("the kernel step needs odd kernel sides smaller than the picture");
  gridRows_ = FastTransformLength(hd_ + kr_ - 1);
  gridCols_ = FastTransformLength(wd_ + kc_ - 1, true);
  const size_t plane = GridSize(gridRows_, gridCols_);
  const size_t half = GridSize(gridRows_, HalfCols(gridCols_));
  plane_ = FloatArray(plane);
  spectrum_ = ComplexArray(half);
  // Only blurred pixels whose footprint, and their neighbour's, lie inside
  // the picture take part.
  const int cr = kr_ / 2, cc = kc_ / 2;
  for (int d = 0; d < 2; ++d) {
    plane_.zero();
    for (int r = cr; r <= rows - 2 - cr; ++r)
      for (int c = cc; c <= cols - 2 - cc; ++c) {
        const size_t at = GridSize(r, cols) + c;
        const float next = d == 0 ? blurred[at + 1] : blurred[at + cols];
        plane_[GridSize(r, gridCols_) + c] = next - blurred[at];
      }
    maskedTarget_[d] = ComplexArray(half);
    RealFft2d(plane_.get(), maskedTarget_[d].get(), gridRows_, gridCols_);
    gradient_[d] = FloatArray(plane);
    gradientSpectrum_[d] = ComplexArray(half);
  }
}

void MaskedKernelProblem::LatentGradients(const float* latent, int latentStride) {
  for (int d = 0; d < 2; ++d) {
    float* g = gradient_[d].get();
    gradient_[d].zero();
    for (int r = 0; r < hd_; ++r) {
      const float* x = latent + static_cast<size_t>(latentStride) * r;
      const float* next = d == 0 ? x + 1 : x + latentStride;
      float* out = g + GridSize(r, gridCols_);
      for (int c = 0; c < wd_; ++c) out[c] = next[c] - x[c];
    }
  }
  if (gradientShare_ < 1.0f) {
    std::vector<float> magnitude;
    magnitude.reserve(GridSize(hd_, wd_));
    for (int r = 0; r < hd_; ++r)
      for (int c = 0; c < wd_; ++c) {
        const size_t at = GridSize(r, gridCols_) + c;
        magnitude.push_back(gradient_[0][at] * gradient_[0][at] + gradient_[1][at] * gradient_[1][at]);
      }
    const size_t keep = std::max<size_t>(1, static_cast<size_t>(gradientShare_ * magnitude.size()));
    std::nth_element(magnitude.begin(), magnitude.begin() + (keep - 1), magnitude.end(), std::greater<float>());
    const float threshold = magnitude[keep - 1];
    for (int r = 0; r < hd_; ++r)
      for (int c = 0; c < wd_; ++c) {
        const size_t at = GridSize(r, gridCols_) + c;
        if (gradient_[0][at] * gradient_[0][at] + gradient_[1][at] * gradient_[1][at] < threshold)
          gradient_[0][at] = gradient_[1][at] = 0.0f;
      }
  }
  for (int d = 0; d < 2; ++d) RealFft2d(gradient_[d].get(), gradientSpectrum_[d].get(), gridRows_, gridCols_);
}

namespace {

// The gradients' whole autocorrelation at every lag of the kernel, every
// border pixel included, from their spectra gh and gv (P x Q grids, half
// spectra); s and plane are scratch of the spectrum's and the grid's size.
std::vector<double> WholeAutocorrelation(const fftwf_complex* gh, const fftwf_complex* gv,
                                         fftwf_complex* s, float* plane, int P, int Q,
                                         const Lags& lag, int kr, int kc) {
  const size_t half = GridSize(P, HalfCols(Q));
  const double scale = 1.0 / (static_cast<double>(P) * Q);
  for (size_t i = 0; i < half; ++i) {
    s[i][0] = gh[i][0] * gh[i][0] + gh[i][1] * gh[i][1] + gv[i][0] * gv[i][0] + gv[i][1] * gv[i][1];
    s[i][1] = 0.0f;
  }
  InverseRealFft2d(s, plane, P, Q);
  std::vector<double> total(lag.count());
  for (int dr = -(kr - 1); dr < kr; ++dr)
    for (int dc = -(kc - 1); dc < kc; ++dc)
      total[lag(dr, dc)] = plane[GridSize((dr + P) % P, Q) + (dc + Q) % Q] * scale;
  return total;
}

}  // namespace

void MaskedKernelProblem::BuildGram() {
  const int kr = kr_, kc = kc_, P = gridRows_, Q = gridCols_;
  const Lags lag{kr, kc};
  const std::vector<double> total = WholeAutocorrelation(
      gradientSpectrum_[0].get(), gradientSpectrum_[1].get(), spectrum_.get(), plane_.get(), P, Q, lag, kr, kc);

  // What the mask leaves out lies in bands of kr - 1 rows and kc - 1
  // columns along the borders.
  const float* g[2] = {gradient_[0].get(), gradient_[1].get()};
  std::vector<int> top, bottom, left, right;
  for (int i = 0; i < kr - 1; ++i) {
    top.push_back(i);
    bottom.push_back(hd_ - kr + 1 + i);
  }
  for (int j = 0; j < kc - 1; ++j) {
    left.push_back(j);
    right.push_back(wd_ - kc + 1 + j);
  }
  const Lines rowLines{{g[0], g[1]}, hd_, wd_, static_cast<size_t>(Q), 1};
  const Lines colLines{{g[0], g[1]}, wd_, hd_, 1, static_cast<size_t>(Q)};
  const std::vector<double> rowTop = Cumulate(LineCorrelations(rowLines, top, kr, kc), kr - 1, kr, kc, true, true);
  const std::vector<double> rowBottom = Cumulate(LineCorrelations(rowLines, bottom, kr, kc), kr - 1, kr, kc, false, true);
  const std::vector<double> colLeft = Cumulate(LineCorrelations(colLines, left, kc, kr), kc - 1, kc, kr, true, false);
  const std::vector<double> colRight = Cumulate(LineCorrelations(colLines, right, kc, kr), kc - 1, kc, kr, false, false);

  const int taps = kr * kc;
  gram_.assign(static_cast<size_t>(taps) * taps, 0.0f);
  const int lagCount = static_cast<int>(lag.count());
  const size_t tableSize = static_cast<size_t>(kr) * kc;
#pragma omp parallel if (static_cast<size_t>(taps) * taps >= kParallelSamples)
  {
    std::vector<double> cell(tableSize), tl(tableSize), tr(tableSize), bl(tableSize), br(tableSize);
#pragma omp for schedule(dynamic, 16)
    for (int l = 0; l < lagCount; ++l) {
      const int dr = l / lag.colsOf() - (kr - 1), dc = l % lag.colsOf() - (kc - 1);
      const int br0 = hd_ - kr + 1, bc0 = wd_ - kc + 1;
      CornerTable(g, Q, hd_, wd_, dr, dc, kr - 1, kc - 1, {0, 0, true, true}, cell.data(), tl.data());
      CornerTable(g, Q, hd_, wd_, dr, dc, kr - 1, kc - 1, {0, bc0, true, false}, cell.data(), tr.data());
      CornerTable(g, Q, hd_, wd_, dr, dc, kr - 1, kc - 1, {br0, 0, false, true}, cell.data(), bl.data());
      CornerTable(g, Q, hd_, wd_, dr, dc, kr - 1, kc - 1, {br0, bc0, false, false}, cell.data(), br.data());
      const double* prefixTop = rowTop.data() + l * static_cast<size_t>(kr);
      const double* suffixBottom = rowBottom.data() + l * static_cast<size_t>(kr);
      const double* prefixLeft = colLeft.data() + l * static_cast<size_t>(kc);
      const double* suffixRight = colRight.data() + l * static_cast<size_t>(kc);
      for (int ur = std::max(0, dr); ur < std::min(kr, kr + dr); ++ur)
        for (int uc = std::max(0, dc); uc < std::min(kc, kc + dc); ++uc) {
          const int a = kr - 1 - ur, b = kc - 1 - uc;
          const size_t t = static_cast<size_t>(a) * kc + b;
          const double lowLow = tl[t];
          const double lowHigh = prefixTop[a] - tr[t];
          const double highLow = prefixLeft[b] - bl[t];
          const double highHigh = total[l] - suffixBottom[a] - suffixRight[b] + br[t];
          const int u = ur * kc + uc, v = (ur - dr) * kc + (uc - dc);
          gram_[static_cast<size_t>(u) * taps + v] =
              static_cast<float>(highHigh - lowHigh - highLow + lowLow);
        }
    }
  }
}

void MaskedKernelProblem::ApplyFourierOperator(const float* k, float* out, float weight,
                                               const float* tapWeights) {
  const int P = gridRows_, Q = gridCols_;
  const size_t half = GridSize(P, HalfCols(Q));
  const float scale = 1.0f / static_cast<float>(static_cast<double>(P) * Q);
  ComplexArray kernelSpectrum(half), residual(half), sum(half);
  KernelToHalfSpectrum(k, kernelSpectrum.get(), P, Q, kr_, kc_, plane_.get());
  sum.zero();
  const int cr = kr_ / 2, cc = kc_ / 2;
  for (int d = 0; d < 2; ++d) {
    const fftwf_complex* G = gradientSpectrum_[d].get();
    const fftwf_complex* K = kernelSpectrum.get();
    fftwf_complex* R = residual.get();
    for (size_t i = 0; i < half; ++i) {
      R[i][0] = G[i][0] * K[i][0] - G[i][1] * K[i][1];
      R[i][1] = G[i][0] * K[i][1] + G[i][1] * K[i][0];
    }
    InverseRealFft2d(R, plane_.get(), P, Q);
    for (int r = 0; r < P; ++r) {
      float* row = plane_.get() + GridSize(r, Q);
      const bool inside = r >= cr && r <= rows_ - 2 - cr;
      for (int c = 0; c < Q; ++c) row[c] = inside && c >= cc && c <= cols_ - 2 - cc ? row[c] * scale : 0.0f;
    }
    RealFft2d(plane_.get(), R, P, Q);
    for (size_t i = 0; i < half; ++i) {
      sum[i][0] += G[i][0] * R[i][0] + G[i][1] * R[i][1];
      sum[i][1] += G[i][0] * R[i][1] - G[i][1] * R[i][0];
    }
  }
  InverseRealFft2d(sum.get(), plane_.get(), P, Q);
  for (int ur = 0; ur < kr_; ++ur)
    for (int uc = 0; uc < kc_; ++uc) {
      const size_t u = GridSize(ur, kc_) + uc;
      out[u] = plane_[GridSize((ur - cr + P) % P, Q) + (uc - cc + Q) % Q] * scale +
               weight * (tapWeights ? tapWeights[u] : 1.0f) * k[u];
    }
}

void MaskedKernelProblem::Solve(const float* latent, int latentStride, float weight, int steps,
                                float* kernel, bool dense, const float* tapWeights) {
  LatentGradients(latent, latentStride);
  const int P = gridRows_, Q = gridCols_, taps = kr_ * kc_;
  const size_t half = GridSize(P, HalfCols(Q));
  fftwf_complex* s = spectrum_.get();
  for (size_t i = 0; i < half; ++i) {
    float re = 0.0f, im = 0.0f;
    for (int d = 0; d < 2; ++d) {
      const fftwf_complex* G = gradientSpectrum_[d].get();
      const fftwf_complex* M = maskedTarget_[d].get();
      re += G[i][0] * M[i][0] + G[i][1] * M[i][1];
      im += G[i][0] * M[i][1] - G[i][1] * M[i][0];
    }
    s[i][0] = re;
    s[i][1] = im;
  }
  InverseRealFft2d(s, plane_.get(), P, Q);
  const float scale = 1.0f / static_cast<float>(static_cast<double>(P) * Q);
  rhs_.assign(taps, 0.0f);
  const int cr = kr_ / 2, cc = kc_ / 2;
  for (int ur = 0; ur < kr_; ++ur)
    for (int uc = 0; uc < kc_; ++uc)
      rhs_[GridSize(ur, kc_) + uc] = plane_[GridSize((ur - cr + P) % P, Q) + (uc - cc + Q) % Q] * scale;
  if (dense && taps <= kDenseGramLimit) {
    BuildGram();
    DenseConjugateGradient(gram_.data(), rhs_.data(), taps, weight, steps, kernel, tapWeights);
  } else {
    gram_.clear();
    ConjugateGradient([&](const float* p, float* q) { ApplyFourierOperator(p, q, weight, tapWeights); },
                      rhs_.data(), taps, steps, kernel);
  }
}

}  // namespace velmora
