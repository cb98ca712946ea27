// velmora-deblur where the machine is not kind: its transform cache
// truncated, garbage, from another FFTW version, unwritable or shared by
// four processes at once; no home folder; the address space stepped down
// to nothing; pictures that declare an enormous size or are no photograph.
#include <gtest/gtest.h>

#include <fftw3.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "io/picture_header.h"
#include "tests/sanitizers.h"
#include "tests/tool_runner.h"
#include "tools/shake.h"

namespace {

namespace fs = std::filesystem;
using namespace velmora::testing;

// A blurred picture with edges in every direction.
cv::Mat BlurredShapes(int rows, int cols) {
  cv::Mat sharp(rows, cols, CV_32FC3, cv::Scalar(0.3, 0.4, 0.5));
  cv::RNG rng(5);
  for (int n = 0; n < 30; ++n) {
    const cv::Point a(rng.uniform(0, cols), rng.uniform(0, rows));
    const cv::Scalar colour(rng.uniform(0.0, 1.0), rng.uniform(0.0, 1.0), rng.uniform(0.0, 1.0));
    cv::rectangle(sharp, a, a + cv::Point(rng.uniform(8, 40), rng.uniform(8, 40)), colour, cv::FILLED);
  }
  cv::Mat bytes;
  velmora::tools::BlurImage(sharp, velmora::tools::GenerateShakeKernel(9, 3), 0.0, 1).convertTo(bytes, CV_8U, 255.0);
  return bytes;
}

// The tool started with these variables set (an empty value: unset).
std::string Launch(const std::vector<std::pair<std::string, std::string>>& variables) {
  std::string launch = "env";
  for (const auto& [name, value] : variables) launch += value.empty() ? " -u " + name : " " + name + "=" + Quote(value);
  return launch + " OMP_NUM_THREADS=2 " + Quote(VELMORA_DEBLUR_PATH);
}

class HostileCache : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cv::imwrite((dir_ / "in.png").string(), BlurredShapes(240, 260)));
    // The reference: a fresh, empty cache. The run leaves real wisdom.
    ASSERT_EQ(Restore({{"XDG_CACHE_HOME", (dir_ / "fresh").string()}}, "reference.png").status, 0);
    reference_ = ReadText(dir_ / "reference.png");
    wisdom_ = ReadText(dir_ / "fresh/velmora/fftw-wisdom");
  }

  ToolRun Restore(const std::vector<std::pair<std::string, std::string>>& variables, const std::string& output) {
    return RunTool(dir_, {"in.png", "--blur-size", "9", "-o", output, "--kernel-out", output + ".k.png", "-q"},
                   Launch(variables));
  }

  // A cache folder holding these files (relative to it) with these bytes.
  fs::path Cache(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files) {
    const fs::path cache = dir_ / name;
    for (const auto& [file, bytes] : files) {
      fs::create_directories((cache / file).parent_path());
      WriteText(cache / file, bytes);
    }
    fs::create_directories(cache);
    return cache;
  }

  ScratchFolder dir_;
  std::string reference_, wisdom_;
};

// Whatever the cache holds, the job runs as with none and gives the same
// bytes.
TEST_F(HostileCache, DamagedCachesChangeNothing) {
  ASSERT_GT(wisdom_.size(), 100u) << "the reference run left no wisdom to damage";
  std::string otherVersion = wisdom_;
  const size_t version = otherVersion.find("fftw-3.");
  ASSERT_NE(version, std::string::npos);
  otherVersion.replace(version, 7, "fftw-2.");
  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string w = "velmora/fftw-wisdom", c = "velmora/planning-credit";
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
  } cases[] = {
      {"truncated wisdom", {{w, wisdom_.substr(0, wisdom_.size() / 2)}}},
      {"garbage wisdom", {{w, garbage}}},
      {"another FFTW's wisdom", {{w, otherVersion}}},
      {"empty wisdom", {{w, ""}}},
      {"garbage credit", {{c, garbage}}},
      {"credit not a number", {{c, "nan\n"}}},
      {"credit out of range", {{c, "-1e308\n"}}},
      {"huge credit", {{c, "1e308\n"}}},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path cache = Cache("case" + std::to_string(n++), c.files);
    const ToolRun run = Restore({{"XDG_CACHE_HOME", cache.string()}}, "out.png");
    ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
    EXPECT_TRUE(ReadText(dir_ / "out.png") == reference_) << c.what;
  }
}

// A cache that cannot be written, or no home at all: the job runs as with
// an empty cache.
TEST_F(HostileCache, UnwritableOrMissingHomesChangeNothing) {
  WriteText(dir_ / "a-file", "not a folder");
  fs::create_directories(dir_ / "wisdom-is-a-folder/velmora/fftw-wisdom");
  fs::create_directories(dir_ / "readonly/velmora");
  fs::permissions(dir_ / "readonly/velmora", fs::perms::owner_read | fs::perms::owner_exec);
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> variables;
  } cases[] = {
      {"cache folder is a file", {{"XDG_CACHE_HOME", (dir_ / "a-file").string()}}},
      {"wisdom is a folder", {{"XDG_CACHE_HOME", (dir_ / "wisdom-is-a-folder").string()}}},
      {"read-only cache", {{"XDG_CACHE_HOME", (dir_ / "readonly").string()}}},
      {"no HOME, no XDG_CACHE_HOME", {{"XDG_CACHE_HOME", ""}, {"HOME", ""}}},
      {"HOME is a file", {{"XDG_CACHE_HOME", ""}, {"HOME", (dir_ / "a-file").string()}}},
      {"HOME does not exist", {{"XDG_CACHE_HOME", ""}, {"HOME", (dir_ / "nowhere").string()}}},
  };
  for (const auto& c : cases) {
    const ToolRun run = Restore(c.variables, "out.png");
    ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
    EXPECT_TRUE(ReadText(dir_ / "out.png") == reference_) << c.what;
  }
  fs::permissions(dir_ / "readonly/velmora", fs::perms::owner_all);
}

// Four processes sharing one empty cache: all finish, each result matches
// the reference (a plan another process measured meanwhile may round a
// sample differently), and the wisdom left is whole.
TEST_F(HostileCache, FourProcessesAtOnceShareTheCache) {
  const fs::path cache = dir_ / "shared";
  std::string command = "cd " + Quote(dir_.path().string()) + " && for i in 1 2 3 4; do " +
                        Launch({{"XDG_CACHE_HOME", cache.string()}}) +
                        " in.png --blur-size 9 -q -o out$i.png --kernel-out k$i.png & done; "
                        "s=0; for j in 1 2 3 4; do wait -n || s=1; done; exit $s";
  ASSERT_EQ(std::system(("bash -c " + Quote(command)).c_str()), 0);
  const cv::Mat reference = cv::imread((dir_ / "reference.png").string());
  for (int i = 1; i <= 4; ++i) {
    const cv::Mat out = cv::imread((dir_ / ("out" + std::to_string(i) + ".png")).string());
    ASSERT_FALSE(out.empty()) << i;
    EXPECT_LE(cv::norm(out, reference, cv::NORM_INF), 1.0) << i;
  }
  for (const auto& entry : fs::directory_iterator(cache / "velmora"))
    EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
  // Read as the tool reads it: its threaded solvers registered first.
#ifdef _OPENMP
  fftwf_init_threads();
#endif
  fftwf_forget_wisdom();
  EXPECT_EQ(fftwf_import_wisdom_from_filename((cache / "velmora/fftw-wisdom").c_str()), 1);
}

// Under an address-space limit stepped down by 64 MiB from well above a
// job's need to where the program no longer loads, a job finishes or is
// refused with the memory message: never a signal.
TEST(DeblurToolMemory, SteppedLimitsFinishOrRefuse) {
  VELMORA_SKIP_UNDER_ASAN();
  const ScratchFolder dir;
  ASSERT_TRUE(cv::imwrite((dir / "in.png").string(), BlurredShapes(300, 320)));
  const auto limited = [](long kib) {
    return "ulimit -v " + std::to_string(kib) + " && exec env OMP_NUM_THREADS=2 XDG_CACHE_HOME=cache " +
           Quote(VELMORA_DEBLUR_PATH);
  };
  const std::vector<std::vector<std::string>> jobs = {
      {"in.png", "--blur-size", "9", "-q"},
      {"in.png", "--blur-size", "9", "--estimator", "sharp", "-q"},
      {"in.png", "--blur-size", "15", "--reduce-ringing", "--reduce-noise", "-q"},
  };
  int refused = 0, finished = 0;
  for (long kib = 1 << 20; kib > 0; kib -= 64 << 10) {
    // Below what loading the program and its libraries takes, none of it runs.
    if (RunTool(dir, {"--version"}, limited(kib)).status != 0) break;
    for (const auto& job : jobs) {
      const ToolRun run = RunTool(dir, job, limited(kib));
      ASSERT_TRUE(run.status == 0 || run.status == 2) << kib << " KiB: status " << run.status << "\n" << run.err;
      if (run.status == 2) {
        EXPECT_NE(run.err.find("not enough memory"), std::string::npos) << kib << " KiB: " << run.err;
      }
      (run.status == 0 ? finished : refused) += 1;
    }
  }
  EXPECT_GT(finished, 0);
  EXPECT_GT(refused, 0);
}

// ----------------------------------------------------- declared sizes

// Headers written by hand: only the size is real, no pixels follow.
std::string PngHeader(uint32_t rows, uint32_t cols) {
  std::string png = "\x89PNG\r\n\x1A\n";
  png += std::string("\0\0\0\x0DIHDR", 8);
  for (uint32_t v : {cols, rows})
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>(v >> shift);
  png += std::string("\x08\x02\0\0\0", 5);
  return png + std::string(4, '\0');  // a wrong check sum: never reached
}

std::string JpegHeader(uint16_t rows, uint16_t cols) {
  std::string jpeg("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20);
  jpeg += std::string("\xFF\xC0\0\x11\x08", 5);
  for (uint16_t v : {rows, cols}) jpeg += static_cast<char>(v >> 8), jpeg += static_cast<char>(v & 0xFF);
  return jpeg + std::string("\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 10);
}

std::string BmpHeader(int32_t rows, int32_t cols) {
  std::string bmp = "BM";
  bmp += std::string(16, '\0');
  for (int32_t v : {cols, rows})
    for (int i = 0; i < 4; ++i) bmp += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return bmp + std::string("\x01\0\x18\0", 4) + std::string(24, '\0');
}

// What each header declares is read without decoding; what real encoders
// write is read right.
TEST(DeclaredSize, HeadersAreReadWithoutDecoding) {
  const ScratchFolder dir;
  const cv::Mat picture(37, 53, CV_8UC3, cv::Scalar(10, 20, 30));
  for (const char* format : {".png", ".jpg", ".bmp", ".tif", ".webp"}) {
    const fs::path file = dir / (std::string("p") + format);
    ASSERT_TRUE(cv::imwrite(file.string(), picture)) << format;
    const auto size = velmora::io::DeclaredPictureSize(file);
    ASSERT_TRUE(size.has_value()) << format;
    EXPECT_EQ(size->rows, 37) << format;
    EXPECT_EQ(size->cols, 53) << format;
  }
  WriteText(dir / "top-down.bmp", BmpHeader(-300, 400));
  EXPECT_EQ(velmora::io::DeclaredPictureSize(dir / "top-down.bmp")->rows, 300);
}

// A picture that declares 30000 x 30000 pixels is refused at once, naming
// its size, with memory far below what decoding it would take; so is a
// file that is no photograph, whatever decoder the image library has for it.
TEST(DeclaredSize, EnormousPicturesAndOtherFormatsAreRefusedBeforeDecoding) {
  const ScratchFolder dir;
  WriteText(dir / "huge.png", PngHeader(30000, 30000));
  WriteText(dir / "huge.jpg", JpegHeader(30000, 30000));
  WriteText(dir / "huge.bmp", BmpHeader(30000, 30000));
  const std::string limit = kUnderAddressSanitizer ? std::string() : "ulimit -v 1000000 && ";
  for (const char* name : {"huge.png", "huge.jpg", "huge.bmp"}) {
    const ToolRun run = RunTool(dir, {name, "-q"}, limit + "exec " + Quote(VELMORA_DEBLUR_PATH));
    EXPECT_EQ(run.status, 2) << name;
    EXPECT_NE(run.err.find("is 30000 x 30000 pixels; the largest picture this program restores has 250 million pixels"),
              std::string::npos)
        << name << ": " << run.err;
  }
  // The medical imaging signature at offset 128, after nothing or after a
  // photograph format's own signature: its decoder would take either.
  for (const std::string& start : {std::string(4, '\0'), std::string("\xFF\x4F\xFF\x51")}) {
    WriteText(dir / "scan.png", start + std::string(124, '\0') + "DICM" + std::string(64, '\x01'));
    const ToolRun scan = RunTool(dir, {"scan.png", "-q"});
    EXPECT_EQ(scan.status, 2);
    EXPECT_EQ(scan.err, "velmora-deblur: 'scan.png': Error while opening image file.\n");
  }
}

}  // namespace
