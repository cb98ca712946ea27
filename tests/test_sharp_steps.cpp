// The sharp estimator's steps against straightforward slow versions: the
// masked kernel solve's normal equations and solution against an explicit
// least-squares system, its two operators against each other, the L0
// latent step against a textbook transform-by-definition version, the
// periodic canvas, the clean-up and the window choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "estimation/estimation_window.h"
#include "estimation/kernel_cleanup.h"
#include "estimation/l0_latent.h"
#include "estimation/masked_kernel_solve.h"
#include "tests/seeded.h"

using namespace velmora;
using test_inputs::Random;

namespace {

// The kernel step's least-squares system written out: one equation per
// gradient direction and masked pixel, one unknown per tap.
struct DenseSystem {
  int taps = 0;
  std::vector<double> normal;  // A'A, taps x taps
  std::vector<double> rhs;     // A'b
};

DenseSystem ExplicitSystem(const std::vector<float>& latent, const std::vector<float>& blurred,
                           int rows, int cols, int kr, int kc) {
  DenseSystem s;
  s.taps = kr * kc;
  s.normal.assign(static_cast<size_t>(s.taps) * s.taps, 0.0);
  s.rhs.assign(s.taps, 0.0);
  const int cr = kr / 2, cc = kc / 2;
  auto x = [&](int r, int c) { return static_cast<double>(latent[r * cols + c]); };
  auto y = [&](int r, int c) { return static_cast<double>(blurred[r * cols + c]); };
  std::vector<double> row(s.taps);
  for (int d = 0; d < 2; ++d) {
    const int er = d == 1, ec = d == 0;
    // A pixel counts when its footprint and its neighbour's lie inside.
    for (int pr = 0; pr < rows; ++pr)
      for (int pc = 0; pc < cols; ++pc) {
        if (pr - cr < 0 || pc - cc < 0 || pr + 1 + cr >= rows || pc + 1 + cc >= cols) continue;
        for (int ur = 0; ur < kr; ++ur)
          for (int uc = 0; uc < kc; ++uc) {
            const int qr = pr - ur + cr, qc = pc - uc + cc;
            row[ur * kc + uc] = x(qr + er, qc + ec) - x(qr, qc);
          }
        const double target = y(pr + er, pc + ec) - y(pr, pc);
        for (int i = 0; i < s.taps; ++i) {
          s.rhs[i] += row[i] * target;
          for (int j = 0; j < s.taps; ++j) s.normal[static_cast<size_t>(i) * s.taps + j] += row[i] * row[j];
        }
      }
  }
  return s;
}

// Gaussian elimination with partial pivoting on (normal + weight I) k = rhs.
std::vector<double> SolveDense(DenseSystem s, double weight) {
  const int n = s.taps;
  for (int i = 0; i < n; ++i) s.normal[static_cast<size_t>(i) * n + i] += weight;
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r)
      if (std::fabs(s.normal[static_cast<size_t>(r) * n + col]) > std::fabs(s.normal[static_cast<size_t>(pivot) * n + col])) pivot = r;
    for (int j = 0; j < n; ++j) std::swap(s.normal[static_cast<size_t>(col) * n + j], s.normal[static_cast<size_t>(pivot) * n + j]);
    std::swap(s.rhs[col], s.rhs[pivot]);
    for (int r = col + 1; r < n; ++r) {
      const double f = s.normal[static_cast<size_t>(r) * n + col] / s.normal[static_cast<size_t>(col) * n + col];
      for (int j = col; j < n; ++j) s.normal[static_cast<size_t>(r) * n + j] -= f * s.normal[static_cast<size_t>(col) * n + j];
      s.rhs[r] -= f * s.rhs[col];
    }
  }
  std::vector<double> k(n);
  for (int i = n - 1; i >= 0; --i) {
    double v = s.rhs[i];
    for (int j = i + 1; j < n; ++j) v -= s.normal[static_cast<size_t>(i) * n + j] * k[j];
    k[i] = v / s.normal[static_cast<size_t>(i) * n + i];
  }
  return k;
}

double MaxAbs(const std::vector<double>& v) {
  double m = 0.0;
  for (double x : v) m = std::max(m, std::fabs(x));
  return m;
}

struct SolveCase {
  int rows, cols, kr, kc;
};

}  // namespace

// The normal equations built from the autocorrelation and the border bands
// equal the explicit system, also where the bands overlap (a picture only
// a little larger than the kernel) and for oblong kernels.
TEST(MaskedKernelSolve, NormalEquationsMatchTheExplicitSystem) {
  for (const SolveCase& c : {SolveCase{23, 29, 5, 5}, SolveCase{19, 26, 7, 3}, SolveCase{8, 9, 7, 7},
                             SolveCase{40, 33, 9, 11}}) {
    SCOPED_TRACE(testing::Message() << c.rows << "x" << c.cols << " kernel " << c.kr << "x" << c.kc);
    const std::vector<float> latent = Random(c.rows * c.cols, 11);
    const std::vector<float> blurred = Random(c.rows * c.cols, 12);
    MaskedKernelProblem problem(blurred.data(), c.rows, c.cols, c.kr, c.kc);
    std::vector<float> kernel(c.kr * c.kc, 0.0f);
    problem.Solve(latent.data(), c.cols, 4.0f, 0, kernel.data());
    const DenseSystem gold = ExplicitSystem(latent, blurred, c.rows, c.cols, c.kr, c.kc);
    const double scale = MaxAbs(gold.normal);
    for (size_t i = 0; i < gold.normal.size(); ++i)
      ASSERT_NEAR(problem.Gram()[i], gold.normal[i], 2e-5 * scale) << "entry " << i;
    const double rhsScale = MaxAbs(gold.rhs);
    for (int i = 0; i < gold.taps; ++i) EXPECT_NEAR(problem.RightHandSide()[i], gold.rhs[i], 2e-5 * rhsScale);
  }
}

// Enough conjugate-gradient steps reach the least-squares solution, with
// the matrix built or with the operator applied by transforms; and the two
// take the same steps on the way.
TEST(MaskedKernelSolve, ConjugateGradientsReachTheLeastSquaresSolution) {
  const int rows = 31, cols = 27, kr = 5, kc = 7;
  // A smooth latent picture with a known blur makes a well-posed problem.
  std::vector<float> latent = Random(rows * cols, 21);
  std::vector<float> blurred(rows * cols, 0.0f);
  const std::vector<float> truth = Random(kr * kc, 22);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c)
      for (int ur = 0; ur < kr; ++ur)
        for (int uc = 0; uc < kc; ++uc) {
          const int qr = std::clamp(r - ur + kr / 2, 0, rows - 1), qc = std::clamp(c - uc + kc / 2, 0, cols - 1);
          blurred[r * cols + c] += truth[ur * kc + uc] * latent[qr * cols + qc] / kr / kc;
        }
  const std::vector<double> gold = SolveDense(ExplicitSystem(latent, blurred, rows, cols, kr, kc), 4.0);
  MaskedKernelProblem problem(blurred.data(), rows, cols, kr, kc);
  std::vector<float> dense(kr * kc, 0.0f), fourier(kr * kc, 0.0f);
  for (int step = 0; step < 6; ++step) {
    problem.Solve(latent.data(), cols, 4.0f, 1, dense.data(), true);
    problem.Solve(latent.data(), cols, 4.0f, 1, fourier.data(), false);
    for (int i = 0; i < kr * kc; ++i) ASSERT_NEAR(dense[i], fourier[i], 1e-4 * MaxAbs(gold)) << "step " << step;
  }
  problem.Solve(latent.data(), cols, 4.0f, 400, dense.data(), true);
  problem.Solve(latent.data(), cols, 4.0f, 400, fourier.data(), false);
  for (int i = 0; i < kr * kc; ++i) {
    EXPECT_NEAR(dense[i], gold[i], 1e-3 * MaxAbs(gold));
    EXPECT_NEAR(fourier[i], gold[i], 1e-3 * MaxAbs(gold));
  }
}

// Tap weights make the prior a diagonal one: both operators reach the
// solution of (normal + weight D) k = rhs, which differs from the plain
// weight's where D does.
TEST(MaskedKernelSolve, TapWeightsGiveTheDiagonalPrior) {
  const int rows = 29, cols = 33, kr = 5, kc = 5;
  const std::vector<float> latent = Random(rows * cols, 31);
  const std::vector<float> blurred = Random(rows * cols, 32);
  std::vector<float> tapWeights(kr * kc, 1.0f);
  for (int i = 0; i < kr * kc; i += 3) tapWeights[i] = 25.0f;
  DenseSystem system = ExplicitSystem(latent, blurred, rows, cols, kr, kc);
  const int n = kr * kc;
  for (int i = 0; i < n; ++i) system.normal[static_cast<size_t>(i) * n + i] += 4.0 * tapWeights[i];
  const std::vector<double> gold = SolveDense(system, 0.0);
  const std::vector<double> plain = SolveDense(ExplicitSystem(latent, blurred, rows, cols, kr, kc), 4.0);
  MaskedKernelProblem problem(blurred.data(), rows, cols, kr, kc);
  for (const bool dense : {true, false}) {
    std::vector<float> k(n, 0.0f);
    problem.Solve(latent.data(), cols, 4.0f, 400, k.data(), dense, tapWeights.data());
    double apart = 0.0;
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(k[i], gold[i], 1e-3 * MaxAbs(gold)) << (dense ? "dense" : "Fourier");
      apart = std::max(apart, std::abs(gold[i] - plain[i]));
    }
    EXPECT_GT(apart, 1e-2 * MaxAbs(gold));
  }
}

namespace {

using Complex = std::complex<double>;

// The 2-D transform by its definition, sign -1 forward.
std::vector<Complex> Dft(const std::vector<Complex>& in, int rows, int cols, int sign) {
  std::vector<Complex> out(in.size());
  for (int k = 0; k < rows; ++k)
    for (int l = 0; l < cols; ++l) {
      Complex sum = 0.0;
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
          sum += in[r * cols + c] *
                 std::polar(1.0, sign * 2.0 * std::numbers::pi * (double(k) * r / rows + double(l) * c / cols));
      out[k * cols + l] = sign > 0 ? sum / double(rows * cols) : sum;
    }
  return out;
}

// The latent step as written in the textbook: every quantity in double, the
// transforms by definition, the auxiliaries stored before the solve.
std::vector<double> GoldL0(const PeriodicCanvas& canvas, const std::vector<float>& kernel, int kr,
                           int kc, double lambda, double betaMax) {
  const int P = canvas.canvasRows, Q = canvas.canvasCols;
  std::vector<Complex> y(P * Q), k(P * Q, 0.0);
  for (int i = 0; i < P * Q; ++i) y[i] = canvas.picture[i];
  for (int r = 0; r < kr; ++r)
    for (int c = 0; c < kc; ++c) k[((r - kr / 2 + P) % P) * Q + (c - kc / 2 + Q) % Q] = kernel[r * kc + c];
  const std::vector<Complex> Y = Dft(y, P, Q, -1), K = Dft(k, P, Q, -1);
  std::vector<double> x(P * Q);
  for (int i = 0; i < P * Q; ++i) x[i] = canvas.picture[i];
  for (double beta = 2.0 * lambda; beta < betaMax; beta *= 2.0) {
    std::vector<double> h(P * Q), v(P * Q);
    for (int r = 0; r < P; ++r)
      for (int c = 0; c < Q; ++c) {
        const double hx = x[r * Q + (c + 1) % Q] - x[r * Q + c];
        const double vx = x[((r + 1) % P) * Q + c] - x[r * Q + c];
        const bool keep = hx * hx + vx * vx >= lambda / beta;
        h[r * Q + c] = keep ? hx : 0.0;
        v[r * Q + c] = keep ? vx : 0.0;
      }
    std::vector<Complex> w(P * Q);
    for (int r = 0; r < P; ++r)
      for (int c = 0; c < Q; ++c)
        w[r * Q + c] = h[r * Q + (c + Q - 1) % Q] - h[r * Q + c] + v[((r + P - 1) % P) * Q + c] - v[r * Q + c];
    const std::vector<Complex> W = Dft(w, P, Q, -1);
    std::vector<Complex> X(P * Q);
    for (int a = 0; a < P; ++a)
      for (int b = 0; b < Q; ++b) {
        const int i = a * Q + b;
        const double d = 4.0 - 2.0 * std::cos(2.0 * std::numbers::pi * a / P) - 2.0 * std::cos(2.0 * std::numbers::pi * b / Q);
        X[i] = (std::conj(K[i]) * Y[i] + beta * W[i]) / (std::norm(K[i]) + beta * d);
      }
    const std::vector<Complex> next = Dft(X, P, Q, +1);
    for (int i = 0; i < P * Q; ++i) x[i] = next[i].real();
  }
  return x;
}

}  // namespace

TEST(L0Latent, MatchesTheTextbookStepOnASmallSeededPicture) {
  const int rows = 9, cols = 7, kr = 3, kc = 5;
  // Piecewise-flat content with noise: some gradients pass the prior, some not.
  std::vector<float> picture = Random(rows * cols, 31, 0.0f, 0.05f);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) picture[r * cols + c] += (c > 3 ? 0.6f : 0.2f) + (r > 5 ? 0.2f : 0.0f);
  std::vector<float> kernel = Random(kr * kc, 32);
  float sum = 0.0f;
  for (float k : kernel) sum += k;
  for (float& k : kernel) k /= sum;
  const PeriodicCanvas canvas = MakePeriodicCanvas(picture.data(), rows, cols, kr + 2, kc + 2);
  ASSERT_GE(canvas.canvasRows, rows + kr + 2);
  ASSERT_GE(canvas.canvasCols, cols + kc + 2);
  ASSERT_EQ(canvas.canvasCols % 2, 0);
  for (const float lambda : {4e-3f, 2e-4f}) {
    L0Workspace work(canvas);
    std::vector<float> latent(canvas.canvasRows * canvas.canvasCols);
    L0LatentUpdate(canvas, kernel.data(), kr, kc, lambda, 1e5f, latent.data(), &work);
    const std::vector<double> gold = GoldL0(canvas, kernel, kr, kc, lambda, 1e5);
    for (size_t i = 0; i < gold.size(); ++i) ASSERT_NEAR(latent[i], gold[i], 2e-3) << "lambda " << lambda << " at " << i;
  }
}

// The canvas continues the picture and wraps round without a step: the
// margins run from the last row (column) to the first.
TEST(L0Latent, PeriodicCanvasBlendsTheBordersIntoEachOther) {
  const int rows = 6, cols = 5;
  const std::vector<float> picture = Random(rows * cols, 41);
  const int P = 12, Q = 10;
  std::vector<float> canvas(P * Q);
  BlendToPeriodic(picture.data(), rows, cols, canvas.data(), P, Q);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) ASSERT_EQ(canvas[r * Q + c], picture[r * cols + c]);
  for (int r = 0; r < P; ++r)
    for (int c = 0; c < Q; ++c) {
      // Each step, wrapping included, is at most the picture's own step
      // across the seam it bridges.
      const float right = canvas[r * Q + (c + 1) % Q] - canvas[r * Q + c];
      const float down = canvas[((r + 1) % P) * Q + c] - canvas[r * Q + c];
      EXPECT_LE(std::fabs(right), 1.0f);
      EXPECT_LE(std::fabs(down), 1.0f);
      if (c >= cols - 1 && r < rows) {
        const float seam = std::fabs(picture[r * cols] - picture[r * cols + cols - 1]);
        EXPECT_LE(std::fabs(right), seam * 0.5f + 1e-6f) << r << "," << c;
      }
    }
}

// The clean-up after each kernel step: weak and negative entries go, faint
// stretches touching the kept path stay when asked, isolated specks can be
// pruned, and the mass is moved by whole cells onto the centre.
TEST(SharpKernelCleanUp, CutsKeepsConnectedPrunesAndCentres) {
  constexpr int side = 9;
  auto at = [](int r, int c) { return r * side + c; };
  std::vector<float> k(side * side, 0.0f);
  // A path along row 2 from column 2 to 6, fading at its right end, a
  // negative lobe, and a lone speck far away.
  for (int c = 2; c <= 5; ++c) k[at(2, c)] = 1.0f;
  k[at(2, 6)] = 0.03f;
  k[at(6, 3)] = -0.4f;
  k[at(5, 7)] = 0.2f;

  std::vector<float> plain = k;
  ASSERT_TRUE(CleanUpSharpKernel(plain.data(), side, side, 0.05f, 0.05f));
  // The faint end (3 % of the maximum) is cut, the speck (20 %) kept; the
  // centre of mass, moved by whole cells, lands on the centre.
  double sum = 0.0, cy = 0.0, cx = 0.0;
  for (int r = 0; r < side; ++r)
    for (int c = 0; c < side; ++c) {
      const float v = plain[at(r, c)];
      EXPECT_GE(v, 0.0f);
      sum += v;
      cy += r * v;
      cx += c * v;
    }
  EXPECT_NEAR(sum, 1.0, 1e-6);
  EXPECT_NEAR(cy / sum, side / 2, 0.5);
  EXPECT_NEAR(cx / sum, side / 2, 0.5);
  const int nonzero = static_cast<int>(std::count_if(plain.begin(), plain.end(), [](float v) { return v > 0.0f; }));
  EXPECT_EQ(nonzero, 5);  // four path cells and the speck

  std::vector<float> faint = k;
  ASSERT_TRUE(CleanUpSharpKernel(faint.data(), side, side, 0.05f, 0.02f));
  EXPECT_EQ(std::count_if(faint.begin(), faint.end(), [](float v) { return v > 0.0f; }), 6);

  std::vector<float> pruned = k;
  ASSERT_TRUE(CleanUpSharpKernel(pruned.data(), side, side, 0.05f, 0.05f, 0.1f));
  EXPECT_EQ(std::count_if(pruned.begin(), pruned.end(), [](float v) { return v > 0.0f; }), 4);
}

TEST(SharpKernelCleanUp, NothingUsableIsAFailure) {
  std::vector<float> negative(25, -1.0f);
  EXPECT_FALSE(CleanUpSharpKernel(negative.data(), 5, 5, 0.05f, 0.05f));
  std::vector<float> notFinite(25, 0.1f);
  notFinite[3] = std::nanf("");
  EXPECT_FALSE(CleanUpSharpKernel(notFinite.data(), 5, 5, 0.05f, 0.05f));
}
