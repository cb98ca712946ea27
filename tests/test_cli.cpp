// velmora-deblur: its option checks, kernel files and whole-or-nothing
// writing as functions, then the built tool itself run on small pictures in
// a scratch folder, for what the user sees: exit statuses, messages and the
// files left behind.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <regex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cli/console.h"
#include "cli/errors.h"
#include "cli/options.h"
#include "io/errors.h"
#include "io/kernel_file.h"
#include "io/picture.h"
#include "io/staged_file.h"
#include "tools/metrics.h"
#include "tools/night_scene.h"
#include "tools/shake.h"
#include "tests/sanitizers.h"
#include "tests/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using namespace velmora::cli;
using namespace velmora::io;
using namespace velmora::testing;

// ---------------------------------------------------------------- helpers

// Shapes of several greys on a gentle gradient: edges in every direction,
// which blind estimation needs, and no symmetry that hides a shift.
cv::Mat SharpPicture(int rows, int cols) {
  cv::Mat picture(rows, cols, CV_8UC3);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      picture.at<cv::Vec3b>(i, j) = cv::Vec3b(60 + j / 4, 80 + i / 4, 100);
  cv::RNG rng(12);
  for (int n = 0; n < 40; ++n) {
    const cv::Point a(rng.uniform(0, cols), rng.uniform(0, rows));
    const cv::Scalar colour(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255));
    if (n % 2 == 0)
      cv::rectangle(picture, a, a + cv::Point(rng.uniform(8, 50), rng.uniform(8, 50)), colour, cv::FILLED);
    else
      cv::circle(picture, a, rng.uniform(5, 25), colour, cv::FILLED, cv::LINE_AA);
  }
  return picture;
}

cv::Mat ToUnit(const cv::Mat& bytes) {
  cv::Mat unit;
  bytes.convertTo(unit, CV_32F, 1.0 / 255.0);
  return unit;
}

cv::Mat Blurred(const cv::Mat& sharp, const cv::Mat& kernel) {
  cv::Mat bytes;
  velmora::tools::BlurImage(ToUnit(sharp), kernel, 0.0, 1).convertTo(bytes, CV_8U, 255.0);
  return bytes;
}

int LineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// ------------------------------------------------------- option checking

TEST(BlurSizeOption, NamesNumbersAndHeightByWidth) {
  EXPECT_EQ(ParseBlurSize("small").height, 19);
  EXPECT_EQ(ParseBlurSize("medium").width, 31);
  EXPECT_EQ(ParseBlurSize("LARGE").height, 51);
  const BlurSize square = ParseBlurSize("25");
  EXPECT_EQ(square.height, 25);
  EXPECT_EQ(square.width, 25);
  const BlurSize oblong = ParseBlurSize("9x21");
  EXPECT_EQ(oblong.height, 9);
  EXPECT_EQ(oblong.width, 21);
  EXPECT_EQ(ParseBlurSize("3").height, 3);
  EXPECT_EQ(ParseBlurSize("121X121").width, 121);
}

TEST(BlurSizeOption, AutoFindsTheSizeWithinItsBound) {
  for (const char* text : {"auto", "AUTO", "Auto"}) {
    const BlurSize found = ParseBlurSize(text);
    EXPECT_TRUE(found.find) << text;
    EXPECT_TRUE(found.fitPicture) << text;
    EXPECT_EQ(found.height, kLargestBlurSide) << text;
    EXPECT_EQ(found.width, kLargestBlurSide) << text;
  }
  // The user's own bound is the bound, whatever the picture.
  const BlurSize square = ParseBlurSize("auto:25");
  EXPECT_TRUE(square.find);
  EXPECT_FALSE(square.fitPicture);
  EXPECT_EQ(square.height, 25);
  EXPECT_EQ(square.width, 25);
  const BlurSize oblong = ParseBlurSize("Auto:9X121");
  EXPECT_TRUE(oblong.find);
  EXPECT_EQ(oblong.height, 9);
  EXPECT_EQ(oblong.width, 121);
  EXPECT_EQ(ParseBlurSize("auto:3").height, 3);
  // The presets and plain sizes are given, not looked for.
  for (const char* given : {"small", "large", "25", "9x21"}) {
    EXPECT_FALSE(ParseBlurSize(given).find) << given;
    EXPECT_FALSE(ParseBlurSize(given).fitPicture) << given;
  }
}

TEST(BlurSizeOption, RefusesEverythingElse) {
  for (const char* bad : {"", "1", "2", "20", "123", "-19", "19x20", "20x19", "19x", "x19",
                          "19x19x19", "19.0", " 19", "huge", "0x0", "1x1", "auto:", "auto:1", "auto:20",
                          "auto:123", "auto:19x20", "auto:19x", "auto:x19", "auto:small", "auto:auto",
                          "auto19", "auto 19", "auto:-19", "automatic", ":19", "19:auto"}) {
    try {
      ParseBlurSize(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const CliError& e) {
      EXPECT_EQ(e.exitCode(), kExitBadInput);
      EXPECT_NE(std::string(e.what()).find("blur size"), std::string::npos) << e.what();
    }
  }
}

// A found size's bound follows each side of the picture: a third of it,
// odd, at most 121; a bound of the user's stays and is refused when the
// picture cannot hold it, as a given size is.
TEST(BlurSizeBound, AutoFitsEachSideOfThePicture) {
  const BlurSize oblong = BlurSizeFor(kAutoBlurSize, 300, 400);  // rows, cols
  EXPECT_EQ(oblong.height, 99);
  EXPECT_EQ(oblong.width, 121);
  EXPECT_TRUE(oblong.find);
  EXPECT_NO_THROW(CheckBlurFitsPicture(oblong, 300, 400));
  const BlurSize tall = BlurSizeFor(kAutoBlurSize, 1000, 200);
  EXPECT_EQ(tall.height, 121);
  EXPECT_EQ(tall.width, 65);
  EXPECT_NO_THROW(CheckBlurFitsPicture(tall, 1000, 200));
  const BlurSize bounded = BlurSizeFor(ParseBlurSize("auto:15x21"), 300, 400);
  EXPECT_EQ(bounded.height, 15);
  EXPECT_EQ(bounded.width, 21);
  const BlurSize given = BlurSizeFor(ParseBlurSize("51"), 300, 400);
  EXPECT_EQ(given.height, 51);
  EXPECT_FALSE(given.find);
}

TEST(BlurSizeBound, APictureThatHoldsNoSizeOrNotTheBoundIsRefused) {
  auto refusal = [](const BlurSize& blur, int rows, int cols) {
    try {
      CheckBlurFitsPicture(blur, rows, cols);
    } catch (const CliError& e) {
      EXPECT_EQ(e.exitCode(), kExitBadInput);
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  // Eight rows leave no room for even a 3 x 3 blur.
  const BlurSize none = BlurSizeFor(kAutoBlurSize, 8, 300);
  EXPECT_EQ(none.height, 0);
  EXPECT_EQ(refusal(none, 8, 300),
            "this 300 x 8 picture is too small to look for a blur in: each side must be at least 9 pixels");
  EXPECT_EQ(refusal(BlurSizeFor(kAutoBlurSize, 9, 9), 9, 9), "accepted");
  EXPECT_EQ(refusal(BlurSizeFor(ParseBlurSize("auto:121"), 300, 400), 300, 400),
            velmora::BlurTooLargeMessage(300, 400, 121, 121));
  EXPECT_EQ(refusal(ParseBlurSize("101"), 300, 400), velmora::BlurTooLargeMessage(300, 400, 101, 101));
}

TEST(SmoothnessAndGammaOptions, AcceptTheirRangeOnly) {
  EXPECT_FLOAT_EQ(ParseSmoothness("0"), 0.0f);
  EXPECT_FLOAT_EQ(ParseSmoothness("0.04"), 0.04f);
  EXPECT_FLOAT_EQ(ParseSmoothness("0.20"), 0.20f);
  for (const char* bad : {"0.21", "0.2001", "-0.01", "nan", "inf", "", "0.1x", "five"})
    EXPECT_THROW(ParseSmoothness(bad), CliError) << bad;
  EXPECT_FLOAT_EQ(ParseGamma("1"), 1.0f);
  EXPECT_FLOAT_EQ(ParseGamma("1.0"), 1.0f);
  EXPECT_FLOAT_EQ(ParseGamma("2.20"), 2.2f);
  for (const char* bad : {"2", "1.8", "0", "2.2.2", "gamma", ""})
    EXPECT_THROW(ParseGamma(bad), CliError) << bad;
}

TEST(RegionOption, ReadsXYWidthHeightInThatOrder) {
  const velmora::DeblurRegion r = ParseRegion("0.1,0.2,0.5,0.75");
  EXPECT_DOUBLE_EQ(r.x, 0.1);
  EXPECT_DOUBLE_EQ(r.y, 0.2);
  EXPECT_DOUBLE_EQ(r.width, 0.5);
  EXPECT_DOUBLE_EQ(r.height, 0.75);
  EXPECT_NO_THROW(ParseRegion("0,0,1,1"));
}

TEST(RegionOption, RefusesMalformedAndOutsideRegions) {
  for (const char* bad : {"", "0.1,0.1,0.5", "0.1,0.1,0.5,0.5,0.5", "a,b,c,d", "0.1;0.1;0.5;0.5",
                          "0.5,0.5,0.6,0.2", "0.5,0.5,0.2,0.6", "-0.1,0,0.5,0.5", "0,0,0,0.5",
                          "0,0,0.5,-0.5", "0.1,0.1,nan,0.5", "0.1,,0.5,0.5"})
    EXPECT_THROW(ParseRegion(bad), CliError) << bad;
}

TEST(RegionOption, TooSmallRegionsGiveTheApplicationsText) {
  const BlurSize small{19, 19};
  EXPECT_NO_THROW(CheckRegionSize({0, 0, 0.5, 0.5}, 400, 400, small));  // 200 x 200
  try {
    CheckRegionSize({0, 0, 0.5, 0.4975}, 400, 400, small);  // 199 rows
    ADD_FAILURE() << "accepted 199 rows";
  } catch (const CliError& e) {
    EXPECT_TRUE(e.verbatim());
    EXPECT_STREQ(e.what(), velmora::kRegionTooSmall);
  }
  // Large blurs need three kernel sides: 101 needs 303 pixels.
  const BlurSize large{101, 71};
  EXPECT_THROW(CheckRegionSize({0, 0, 0.5, 0.5}, 600, 600, large), CliError);  // 300 rows
  EXPECT_NO_THROW(CheckRegionSize({0, 0, 0.5, 0.505}, 600, 600, large));     // 303 rows
  // Width is checked against the picture's columns, height against its rows.
  EXPECT_NO_THROW(CheckRegionSize({0, 0, 0.25, 0.9}, 250, 800, {19, 19}));  // 225 x 200
  EXPECT_THROW(CheckRegionSize({0, 0, 0.25, 0.9}, 800, 250, {19, 19}), CliError);  // 720 x 62
  // A found size is bounded by the region's pixels, so a region the rule
  // takes at all takes its bound; a region too small for any is refused alike.
  // Half of 700 is 351 pixels from the engine's view and 350 from the
  // rule's: the bound must be the smaller one's, 115, not 117.
  const velmora::DeblurRegion half{0, 0, 0.5, 0.5};
  const BlurSize bound = BlurSizeForRegion(kAutoBlurSize, half, 700, 700);
  EXPECT_EQ(bound.height, 115);
  EXPECT_EQ(bound.width, 115);
  EXPECT_NO_THROW(CheckRegionSize(half, 700, 700, bound));
  for (const velmora::DeblurRegion& r : {velmora::DeblurRegion{0.1, 0.2, 0.7, 0.3}, velmora::DeblurRegion{0, 0, 1, 1},
                                         velmora::DeblurRegion{0.3, 0.3, 0.4, 0.4}})
    EXPECT_NO_THROW(CheckRegionSize(r, 750, 1001, BlurSizeForRegion(kAutoBlurSize, r, 750, 1001)))
        << r.x << "," << r.y << "," << r.width << "," << r.height;
  const velmora::DeblurRegion sliver{0, 0, 0.01, 0.5};
  EXPECT_EQ(BlurSizeForRegion(kAutoBlurSize, sliver, 700, 700).width, 0);
  EXPECT_THROW(CheckRegionSize(sliver, 700, 700, BlurSizeForRegion(kAutoBlurSize, sliver, 700, 700)), CliError);
  // A bound of the user's stays as given.
  EXPECT_EQ(BlurSizeForRegion(ParseBlurSize("auto:101"), half, 700, 700).height, 101);
}

TEST(OutputPaths, DefaultSitsBesideTheInput) {
  EXPECT_EQ(DefaultOutputPath("shots/photo.jpg"), fs::path("shots/photo_deblurred.png"));
  EXPECT_EQ(DefaultOutputPath("photo"), fs::path("photo_deblurred.png"));
  EXPECT_EQ(DefaultOutputPath("/a/b.c/holiday.v2.bmp"), fs::path("/a/b.c/holiday.v2_deblurred.png"));
}

TEST(OutputPaths, ResultFormatFollowsTheExtension) {
  const ScratchFolder folder;
  for (const char* good : {"r.jpg", "r.JPEG", "r.png", "r.Bmp"})
    EXPECT_NO_THROW(CheckResultPath(folder / good)) << good;
  for (const char* bad : {"r.gif", "r", "r.png.txt", "r.webp"})
    EXPECT_THROW(CheckResultPath(folder / bad), CliError) << bad;
  EXPECT_NO_THROW(CheckKernelPicturePath(folder / "k.tif"));
  EXPECT_THROW(CheckKernelPicturePath(folder / "k.txt"), CliError);
}

TEST(OutputPaths, MissingFolderOrAFolderAsTargetIsRefused) {
  const ScratchFolder folder;
  EXPECT_THROW(CheckResultPath(folder / "missing/r.png"), CliError);
  fs::create_directory(folder / "taken.png");
  EXPECT_THROW(CheckResultPath(folder / "taken.png"), CliError);
  EXPECT_THROW(CheckKernelPicturePath(folder / "missing/k.png"), CliError);
}

// ------------------------------------------------------------ kernel files

TEST(KernelFiles, AreNormalisedToSumOneWhateverTheirDepth) {
  cv::Mat bytes(3, 5, CV_8U, cv::Scalar(0));
  bytes.at<uchar>(1, 2) = 200;
  bytes.at<uchar>(0, 4) = 50;
  const cv::Mat k8 = KernelFromPicture(bytes, "k");
  EXPECT_EQ(k8.type(), CV_32F);
  EXPECT_EQ(k8.size(), bytes.size());
  EXPECT_NEAR(cv::sum(k8)[0], 1.0, 1e-6);
  EXPECT_NEAR(k8.at<float>(1, 2), 0.8f, 1e-6);
  cv::Mat words;
  bytes.convertTo(words, CV_16U, 300.0);
  EXPECT_LT(cv::norm(KernelFromPicture(words, "k"), k8, cv::NORM_INF), 1e-6);
}

TEST(KernelFiles, NegativesBecomeZeroAndColourBecomesGrey) {
  cv::Mat floats(3, 3, CV_32F, cv::Scalar(0));
  floats.at<float>(1, 1) = 3.0f;
  floats.at<float>(0, 0) = -1.0f;
  floats.at<float>(2, 2) = 1.0f;
  const cv::Mat k = KernelFromPicture(floats, "k");
  EXPECT_EQ(k.at<float>(0, 0), 0.0f);
  EXPECT_NEAR(k.at<float>(1, 1), 0.75f, 1e-6);
  cv::Mat colour(5, 5, CV_8UC3, cv::Scalar(0, 0, 0));
  colour.at<cv::Vec3b>(2, 2) = cv::Vec3b(90, 90, 90);
  colour.at<cv::Vec3b>(2, 3) = cv::Vec3b(30, 30, 30);
  const cv::Mat grey = KernelFromPicture(colour, "k");
  EXPECT_EQ(grey.channels(), 1);
  EXPECT_NEAR(grey.at<float>(2, 2), 0.75f, 1e-2);
}

TEST(KernelFiles, RefusalsNameTheProblem) {
  auto message = [](const cv::Mat& picture) {
    try {
      KernelFromPicture(picture, "'k.png'");
    } catch (const IoError& e) {
      EXPECT_EQ(e.problem(), velmora::io::Problem::kBadInput);
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_NE(message(cv::Mat(4, 5, CV_8U, cv::Scalar(1))).find("odd"), std::string::npos);
  EXPECT_NE(message(cv::Mat(5, 6, CV_8U, cv::Scalar(1))).find("odd"), std::string::npos);
  EXPECT_NE(message(cv::Mat(5, 5, CV_8U, cv::Scalar(0))).find("zero"), std::string::npos);
  EXPECT_NE(message(cv::Mat(5, 5, CV_32F, cv::Scalar(-2))).find("zero"), std::string::npos);
  cv::Mat notFinite(3, 3, CV_32F, cv::Scalar(0.1));
  notFinite.at<float>(1, 1) = NAN;
  EXPECT_NE(message(notFinite).find("finite"), std::string::npos);
}

TEST(KernelFiles, ReadsFloatTiff) {
  const ScratchFolder folder;
  cv::Mat floats(3, 5, CV_32F, cv::Scalar(0));
  floats.at<float>(1, 1) = 0.25f;
  floats.at<float>(1, 3) = 0.5f;
  floats.at<float>(0, 0) = -0.1f;
  ASSERT_TRUE(cv::imwrite((folder / "k.tif").string(), floats));
  const cv::Mat k = LoadKernelFile(folder / "k.tif");
  EXPECT_NEAR(k.at<float>(1, 3), 2.0f / 3.0f, 1e-6);
  EXPECT_EQ(k.at<float>(0, 0), 0.0f);
  EXPECT_THROW(LoadKernelFile(folder.path()), IoError);  // a folder is no kernel
}

// --------------------------------------------------------- input pictures

TEST(InputPictures, GreyBecomesThreeEqualChannels) {
  const ScratchFolder folder;
  cv::Mat grey(200, 210, CV_8U);
  cv::randu(grey, 0, 255);
  ASSERT_TRUE(cv::imwrite((folder / "g.png").string(), grey));
  const cv::Mat picture = ReadPicture(folder / "g.png");
  ASSERT_EQ(picture.type(), CV_8UC3);
  std::vector<cv::Mat> planes;
  cv::split(picture, planes);
  for (const cv::Mat& plane : planes) EXPECT_EQ(cv::norm(plane, grey, cv::NORM_INF), 0.0);
}

// ------------------------------------------------- whole-or-nothing files

TEST(StagedFiles, ReplaceTheTargetWholeAndLeaveNoTemporary) {
  const ScratchFolder folder;
  const fs::path target = folder / "out.png";
  WriteText(target, "old contents");
  const std::string text = "new contents, longer than the old";
  WriteFileAtomically(target, std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
  EXPECT_EQ(ReadText(target), text);
  EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"out.png"});
}

TEST(StagedFiles, UncommittedWritesVanishAndTheTargetStaysAsItWas) {
  const ScratchFolder folder;
  const fs::path target = folder / "out.png";
  WriteText(target, "old contents");
  {
    StagedFile staged(target);
    EXPECT_EQ(staged.temporary().parent_path(), folder.path());
    EXPECT_EQ(staged.temporary().extension(), ".png");
    EXPECT_FALSE(staged.HasContent());
    const unsigned char bytes[] = {1, 2, 3};
    staged.Write(bytes);
    EXPECT_TRUE(staged.HasContent());
  }
  EXPECT_EQ(ReadText(target), "old contents");
  EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"out.png"});
}

TEST(StagedFiles, ResultsGetTheUsualPermissionsAndMissingFoldersFail) {
  const ScratchFolder folder;
  const mode_t previous = ::umask(022);
  const unsigned char bytes[] = {7};
  WriteFileAtomically(folder / "r.bmp", bytes);
  ::umask(previous);
  EXPECT_EQ(fs::status(folder / "r.bmp").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
  EXPECT_THROW(WriteFileAtomically(folder / "missing/r.bmp", bytes), IoError);
}

// ----------------------------------------------------------------- console

TEST(ProgressFrames, FillWithTheCellAndStayWithinTheBar) {
  EXPECT_EQ(ProgressFrame("Run", 0.0f, 10), "Run [----------]   0%");
  EXPECT_EQ(ProgressFrame("Run", 55.5f, 10), "Run [#####-----]  55%");
  EXPECT_EQ(ProgressFrame("Run", 100.0f, 10), "Run [##########] 100%");
  EXPECT_EQ(ProgressFrame("Run", 250.0f, 10), ProgressFrame("Run", 100.0f, 10));
  // Not started (-1) and nonsense: an empty bar without a number.
  EXPECT_EQ(ProgressFrame("Run", -1.0f, 10), "Run [----------]     ");
  EXPECT_EQ(ProgressFrame("Run", NAN, 10), ProgressFrame("Run", -1.0f, 10));
}

// ------------------------------------------------------- the built tool

// A 220 x 220 picture blurred by a 9 x 9 shake kernel, and that kernel.
class DeblurTool : public ::testing::Test {
 protected:
  void SetUp() override {
    sharp_ = SharpPicture(220, 220);
    kernel_ = velmora::tools::GenerateShakeKernel(9, 6);
    blurred_ = Blurred(sharp_, kernel_);
    ASSERT_TRUE(cv::imwrite((dir_ / "blurred.png").string(), blurred_));
    WriteKernel16(kernel_, dir_ / "k.png");
  }

  bool Exists(const std::string& name) const { return fs::exists(dir_ / name); }

  // Nothing but the files the test made: no result, no kernel picture, no
  // temporary left over.
  void ExpectNothingWritten() const {
    EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{"blurred.png", "k.png"}));
  }

  ScratchFolder dir_;
  cv::Mat sharp_, kernel_, blurred_;
};

TEST_F(DeblurTool, KnownKernelRestoresThePictureAndWritesBothFiles) {
  const ToolRun run = RunTool(dir_, {"blurred.png", "--kernel", "k.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::regex_search(run.out, std::regex("Running time [0-9]+\\.[0-9]{3}s\n")));
  EXPECT_EQ(run.err, "");  // stderr is no terminal here: no progress bar
  EXPECT_EQ(run.out.find("start padding image"), std::string::npos);  // engine lines kept off
  const cv::Mat result = cv::imread((dir_ / "blurred_deblurred.png").string(), cv::IMREAD_UNCHANGED);
  ASSERT_EQ(result.type(), CV_8UC3);
  ASSERT_EQ(result.size(), sharp_.size());
  // A flipped or unnormalised kernel would not come closer to the sharp picture.
  const int border = 12;
  EXPECT_GT(velmora::tools::Psnr(ToUnit(result), ToUnit(sharp_), border),
            velmora::tools::Psnr(ToUnit(blurred_), ToUnit(sharp_), border) + 3.0);
  const cv::Mat kernelPicture = cv::imread((dir_ / "kernel.png").string(), cv::IMREAD_UNCHANGED);
  ASSERT_EQ(kernelPicture.type(), CV_8U);
  EXPECT_EQ(kernelPicture.size(), kernel_.size());
  double top = 0.0;
  cv::minMaxLoc(kernelPicture, nullptr, &top);
  EXPECT_EQ(top, 255.0);
  EXPECT_EQ(FolderEntries(dir_.path()),
            (std::vector<std::string>{"blurred.png", "blurred_deblurred.png", "k.png", "kernel.png"}));
}

TEST_F(DeblurTool, OutputAndKernelPathsAndFormatsAreHonoured) {
  fs::create_directory(dir_ / "out");
  const ToolRun run = RunTool(dir_, {"blurred.png", "--kernel", "k.png", "-o", "out/r.JPG",
                                     "--kernel-out", "out/used.bmp", "--smoothness", "0.1",
                                     "--reduce-ringing", "--reduce-noise"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(dir_ / "out/r.JPG").substr(0, 2), "\xFF\xD8");  // a JPEG
  EXPECT_EQ(ReadText(dir_ / "out/used.bmp").substr(0, 2), "BM");
  EXPECT_EQ(cv::imread((dir_ / "out/r.JPG").string()).size(), sharp_.size());
  EXPECT_FALSE(Exists("kernel.png"));
  EXPECT_EQ(FolderEntries(dir_ / "out"), (std::vector<std::string>{"r.JPG", "used.bmp"}));
}

TEST_F(DeblurTool, QuietPrintsNothingAndGpuFallsBackWithOneWarning) {
  const ToolRun quiet = RunTool(dir_, {"blurred.png", "--kernel", "k.png", "--quiet"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");
  const ToolRun gpu = RunTool(dir_, {"blurred.png", "--kernel", "k.png", "--gpu", "-o", "g.png"});
  EXPECT_EQ(gpu.status, 0);
  EXPECT_EQ(LineCount(gpu.err), 1);
  EXPECT_NE(gpu.err.find("CPU"), std::string::npos);
  EXPECT_TRUE(Exists("g.png"));
}

// The application's texts, on one line after the picture's name.
std::string NamedLine(const std::string& file, const char* applicationText) {
  std::string text = applicationText;
  text = std::regex_replace(text, std::regex("\n+"), " ");
  return "velmora-deblur: '" + file + "': " + text + "\n";
}

TEST_F(DeblurTool, PicturesOfTwoHundredPixelsAreTakenAndSmallerRefused) {
  cv::imwrite((dir_ / "edge.png").string(), sharp_(cv::Rect(0, 0, 200, 200)));
  EXPECT_EQ(RunTool(dir_, {"edge.png", "--kernel", "k.png", "-q"}).status, 0);
  for (const cv::Rect cut : {cv::Rect(0, 0, 220, 199), cv::Rect(0, 0, 199, 220)}) {
    cv::imwrite((dir_ / "small.png").string(), sharp_(cut));
    // Known kernel or a size to find alike.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"small.png", "--kernel", "k.png"},
                                                 std::vector<std::string>{"small.png"}}) {
      const ToolRun run = RunTool(dir_, args);
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.err, NamedLine("small.png", kPictureTooSmall));
      EXPECT_FALSE(Exists("small_deblurred.png"));
    }
  }
}

// Every error line names the picture it concerns, quiet or not: in a batch
// nothing else would tell which one failed.
TEST_F(DeblurTool, UnreadableInputIsRefusedNamingIt) {
  WriteText(dir_ / "junk.png", "definitely not a picture");
  for (const char* input : {"junk.png", "absent.png"})
    for (const bool quiet : {false, true}) {
      std::vector<std::string> args = {input, "--kernel", "k.png"};
      if (quiet) args.push_back("--quiet");
      const ToolRun run = RunTool(dir_, args);
      EXPECT_EQ(run.status, 2) << input;
      EXPECT_EQ(run.err, NamedLine(input, kOpenFailed)) << input;
      EXPECT_EQ(run.out, "");
    }
  fs::remove(dir_ / "junk.png");
  ExpectNothingWritten();
}

TEST(ErrorLines, NameTheFileOnceAndKeepTheStatus) {
  const fs::path file = "shots/photo.jpg";
  const auto reported = [&](const std::function<int()>& work) {
    ::testing::internal::CaptureStderr();
    const int status = RunReportedFor(file, work);
    return std::pair(status, ::testing::internal::GetCapturedStderr());
  };
  using Reported = std::pair<int, std::string>;
  EXPECT_EQ(reported([] { return 0; }), Reported(0, ""));
  EXPECT_EQ(reported([]() -> int { throw IoError(Problem::kBadInput, kOpenFailed); }),
            Reported(2, "velmora-deblur: 'shots/photo.jpg': Error while opening image file.\n"));
  EXPECT_EQ(reported([]() -> int { throw CliError(kExitEstimationFailed, velmora::kInsufficientInformation, true); }),
            Reported(1, "velmora-deblur: 'shots/photo.jpg': Insufficient information. Please try larger patch or "
                        "adjust the kernel size.\n"));
  EXPECT_EQ(reported([]() -> int { throw BadInput("not enough memory: this picture needs about 9.1 GiB"); }),
            Reported(2, "velmora-deblur: 'shots/photo.jpg': not enough memory: this picture needs about 9.1 GiB\n"));
  EXPECT_EQ(reported([]() -> int { throw std::logic_error("broken"); }),
            Reported(3, "velmora-deblur: 'shots/photo.jpg': internal error: broken\n"));
  // A message that names the picture already is not given its name twice.
  EXPECT_EQ(reported([]() -> int { throw BadFile("the picture 'shots/photo.jpg' is 30000 x 30000 pixels"); }),
            Reported(2, "velmora-deblur: the picture 'shots/photo.jpg' is 30000 x 30000 pixels\n"));
  // Without a file, as before.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunReported([]() -> int { throw BadInput("several pictures need --output-dir DIR"); }), 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "velmora-deblur: several pictures need --output-dir DIR\n");
}

TEST_F(DeblurTool, BadOutputIsRefusedBeforeAnyWork) {
  // The last input does not exist: the output is checked first.
  const std::vector<std::vector<std::string>> cases = {
      {"blurred.png", "--kernel", "k.png", "-o", "r.gif"},
      {"blurred.png", "--kernel", "k.png", "-o", "r"},
      {"blurred.png", "--kernel", "k.png", "-o", "nowhere/r.png"},
      {"blurred.png", "--kernel", "k.png", "--kernel-out", "k.txt"},
      {"blurred.png", "--kernel", "k.png", "-o", "same.png", "--kernel-out", "./same.png"},
      {"junk-input.png", "-o", "r.gif"}};
  for (const std::vector<std::string>& args : cases) {
    const ToolRun run = RunTool(dir_, args);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_EQ(LineCount(run.err), 1) << run.err;
    EXPECT_EQ(run.err.find("Error while opening"), std::string::npos) << run.err;
  }
  ExpectNothingWritten();
}

TEST_F(DeblurTool, BadKernelFilesAreRefusedNamingTheProblem) {
  cv::imwrite((dir_ / "even.png").string(), cv::Mat(8, 9, CV_8U, cv::Scalar(3)));
  cv::imwrite((dir_ / "zero.png").string(), cv::Mat(9, 9, CV_8U, cv::Scalar(0)));
  cv::imwrite((dir_ / "huge.png").string(), cv::Mat(221, 221, CV_8U, cv::Scalar(1)));
  WriteText(dir_ / "junk.png", "no kernel here");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"even.png", "odd"}, {"zero.png", "zero"}, {"huge.png", "larger"},
      {"junk.png", "decode"}, {"absent.png", "no such file"}};
  for (const auto& [file, problem] : cases) {
    const ToolRun run = RunTool(dir_, {"blurred.png", "--kernel", file});
    EXPECT_EQ(run.status, 2) << file;
    EXPECT_EQ(LineCount(run.err), 1) << run.err;
    EXPECT_NE(run.err.find(problem), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
  }
  EXPECT_FALSE(Exists("blurred_deblurred.png"));
  EXPECT_FALSE(Exists("kernel.png"));
}

TEST_F(DeblurTool, BadOptionValuesAndCombinationsAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--blur-size", "20"},          {"--blur-size", "1"},
      {"--blur-size", "123"},         {"--blur-size", "19x20"},
      {"--blur-size", "tiny"},        {"--blur-size", "auto:20"},
      {"--blur-size", "auto:"},       {"--kernel", "k.png", "--blur-size", "auto"},
      {"--smoothness", "0.25"},
      {"--smoothness", "-0.01"},      {"--smoothness", "much"},
      {"--gamma", "1.8"},             {"--region", "0.5,0.5,0.6,0.2"},
      {"--region", "0.1,0.1,0.5"},    {"--whole"},
      {"--cpu", "--gpu"},             {"--kernel", "k.png", "--region", "0,0,1,1"},
      {"--kernel", "k.png", "--blur-size", "9"},
      {"--quiet", "--engine-log"},    {"--no-such-option"},
      {"--smoothness"},               {"--estimator", "blunt"},
      {"--kernel", "k.png", "--estimator", "sharp"}, {"--highlights", "bright"}};
  for (std::vector<std::string> args : cases) {
    args.insert(args.begin(), "blurred.png");
    const ToolRun run = RunTool(dir_, args);
    EXPECT_EQ(run.status, 2) << args[1];
    EXPECT_EQ(LineCount(run.err), 1) << args[1] << ": " << run.err;
  }
  EXPECT_EQ(RunTool(dir_, {}).status, 2);  // no INPUT
  ExpectNothingWritten();
}

TEST_F(DeblurTool, TooSmallRegionGetsTheApplicationsText) {
  // 176 pixels: too small for any size, found or given.
  for (const char* size : {"auto", "9"}) {
    const ToolRun run = RunTool(dir_, {"blurred.png", "--region", "0.1,0.1,0.8,0.8", "--blur-size", size});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, NamedLine("blurred.png", velmora::kRegionTooSmall));
  }
  ExpectNothingWritten();
}

TEST_F(DeblurTool, AFailedRunLeavesAnExistingResultUntouched) {
  WriteText(dir_ / "r.png", "the user's earlier result");
  cv::imwrite((dir_ / "even.png").string(), cv::Mat(8, 8, CV_8U, cv::Scalar(3)));
  EXPECT_EQ(RunTool(dir_, {"blurred.png", "--kernel", "even.png", "-o", "r.png"}).status, 2);
  EXPECT_EQ(ReadText(dir_ / "r.png"), "the user's earlier result");
}

TEST_F(DeblurTool, HelpAndVersionSucceed) {
  const ToolRun help = RunTool(dir_, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--blur-size"), std::string::npos);
  EXPECT_LT(help.out.find("auto (the default"), help.out.find("small (19)")) << help.out;
  const ToolRun version = RunTool(dir_, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("velmora-deblur"), std::string::npos);
  ExpectNothingWritten();
}

// Blind runs: the estimator itself is tested elsewhere; these check what the
// tool hands it and what it makes of the answer.
TEST_F(DeblurTool, BlindRunWritesAKernelOfTheAskedHeightAndWidth) {
  const ToolRun run = RunTool(dir_, {"blurred.png", "--blur-size", "9x13", "-o", "blind.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  const cv::Mat kernelPicture = cv::imread((dir_ / "kernel.png").string(), cv::IMREAD_UNCHANGED);
  EXPECT_EQ(kernelPicture.rows, 9);
  EXPECT_EQ(kernelPicture.cols, 13);
  EXPECT_EQ(cv::imread((dir_ / "blind.png").string()).size(), sharp_.size());
  EXPECT_EQ(run.out.find("Blur size found"), std::string::npos) << run.out;  // given, not found
}

// The size found, from the tool's output: {height, width}, or {0, 0} when
// the output does not say it in its place between the time and the file.
std::pair<int, int> FoundSize(const std::string& out, const std::string& saved) {
  std::smatch m;
  if (!std::regex_match(out, m, std::regex("Running time [0-9.]+s\nBlur size found: ([0-9]+) x ([0-9]+)\nSaved " +
                                           std::regex_replace(saved, std::regex("\\."), "\\.") + "\n")))
    return {0, 0};
  return {std::stoi(m[1]), std::stoi(m[2])};
}

std::pair<int, int> PictureSize(const fs::path& file) {
  const cv::Mat picture = cv::imread(file.string(), cv::IMREAD_UNCHANGED);
  return {picture.rows, picture.cols};
}

// Without --blur-size the size is found, within a third of each side of
// the picture (or the region), or within the user's bound; the tool says
// what it found and the kernel picture has that size. A region's kernel is
// then reused for the whole picture.
TEST(DeblurToolFoundSize, ByDefaultTheSizeIsFoundWithinThePictureAndReported) {
  const ScratchFolder dir;
  const cv::Mat sharp = SharpPicture(200, 260);
  ASSERT_TRUE(cv::imwrite((dir / "b.png").string(), Blurred(sharp, velmora::tools::GenerateShakeKernel(9, 6))));
  const struct {
    std::vector<std::string> options;
    int largestHeight, largestWidth;
  } cases[] = {
      {{}, 65, 85},
      {{"--blur-size", "auto:11x7"}, 11, 7},
      // 208 columns of the picture's 260.
      {{"--blur-size", "AUTO", "--region", "0,0,0.8,1", "--whole"}, 65, 69},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"b.png", "-o", "r.png"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ToolRun run = RunTool(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto [height, width] = FoundSize(run.out, "r.png");
    EXPECT_TRUE(height >= 3 && height <= c.largestHeight) << run.out;
    EXPECT_TRUE(width >= 3 && width <= c.largestWidth) << run.out;
    EXPECT_EQ(PictureSize(dir / "kernel.png"), std::pair(height, width)) << run.out;
    EXPECT_EQ(cv::imread((dir / "r.png").string()).size(), sharp.size());
  }
  const ToolRun quiet = RunTool(dir, {"b.png", "--blur-size", "auto:9", "-o", "q.png", "-q"});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out + quiet.err, "");
}

// A bound of the user's is a blur size like any other: the picture must
// hold it.
TEST_F(DeblurTool, ABoundThePictureCannotHoldIsRefused) {
  const ToolRun run = RunTool(dir_, {"blurred.png", "--blur-size", "auto:75x9"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "velmora-deblur: 'blurred.png': " + velmora::BlurTooLargeMessage(220, 220, 75, 9) + "\n");
  ExpectNothingWritten();
}

// The sharp estimator runs when asked, in any letter case, and tells on the
// engine log; the classic one is the default.
TEST_F(DeblurTool, EstimatorOptionPicksTheEstimator) {
  const ToolRun sharp = RunTool(dir_, {"blurred.png", "--blur-size", "9", "--estimator", "Sharp",
                                       "--engine-log", "-o", "s.png"});
  ASSERT_EQ(sharp.status, 0) << sharp.err;
  const ToolRun classic = RunTool(dir_, {"blurred.png", "--blur-size", "9", "--engine-log", "-o", "c.png"});
  ASSERT_EQ(classic.status, 0) << classic.err;
  // A 9 x 9 blur takes four classic pyramid levels and two sharp ones.
  EXPECT_NE(classic.out.find("Level 3"), std::string::npos);
  EXPECT_EQ(sharp.out.find("Level 3"), std::string::npos);
  EXPECT_NE(sharp.out.find("Level 1"), std::string::npos);
  EXPECT_EQ(cv::imread((dir_ / "s.png").string()).size(), sharp_.size());
}

// Clipped lamps are modelled unless the user keeps the samples as measured;
// a picture without them is restored the same either way.
TEST_F(DeblurTool, HighlightsAreModelledByDefaultWhereLampsShow) {
  cv::Mat scene(200, 240, CV_32FC3, cv::Scalar(0.02, 0.025, 0.03));
  for (int n = 0; n < 6; ++n) cv::circle(scene, {30 + 35 * n, 50 + 20 * (n % 3)}, 2, cv::Scalar(4, 4, 4), cv::FILLED);
  const cv::Mat night = velmora::tools::CameraRecord(scene, velmora::tools::GenerateShakeKernel(9, 3), 0.005, 4);
  ASSERT_TRUE(cv::imwrite((dir_ / "night.png").string(), night));
  const ToolRun modelled = RunTool(dir_, {"night.png", "--blur-size", "9", "--engine-log", "-o", "m.png"});
  ASSERT_EQ(modelled.status, 0) << modelled.err;
  EXPECT_NE(modelled.out.find("clipped lamps: restoring in linear light"), std::string::npos);
  const ToolRun kept = RunTool(dir_, {"night.png", "--blur-size", "9", "--highlights", "KEEP", "--engine-log", "-o",
                                      "k.png"});
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(kept.out.find("clipped lamps"), std::string::npos);
  // The test picture has no clipped sample: byte for byte the same.
  for (const char* h : {"keep", "model"})
    ASSERT_EQ(RunTool(dir_, {"blurred.png", "--blur-size", "9", "--highlights", h, "-o", std::string(h) + ".png"}).status, 0);
  EXPECT_EQ(ReadText(dir_ / "keep.png"), ReadText(dir_ / "model.png"));
}

TEST(DeblurToolRegions, PartialRestoresOnlyTheRegionAndWholeRestoresAll) {
  const ScratchFolder dir;
  const cv::Mat sharp = SharpPicture(320, 360);
  const cv::Mat blurred = Blurred(sharp, velmora::tools::GenerateShakeKernel(9, 2));
  ASSERT_TRUE(cv::imwrite((dir / "b.png").string(), blurred));
  // x is a fraction of the width, y of the height: columns 45 to 315, rows
  // 80 to 300, both ends included (fractions exact in binary).
  const std::string region = "0.125,0.25,0.75,0.6875";
  const ToolRun partial = RunTool(dir, {"b.png", "--blur-size", "9", "--region", region, "-o", "p.png"});
  ASSERT_EQ(partial.status, 0) << partial.err;
  const cv::Mat p = cv::imread((dir / "p.png").string());
  const cv::Rect inside(45, 80, 271, 221);
  cv::Mat outside(p.size(), CV_8U, cv::Scalar(255));
  outside(inside).setTo(0);
  cv::Mat difference;
  cv::absdiff(p, blurred, difference);
  cv::cvtColor(difference, difference, cv::COLOR_BGR2GRAY);
  EXPECT_EQ(cv::countNonZero(difference & outside), 0);
  EXPECT_GT(cv::countNonZero(difference(inside)), inside.area() / 4);

  const ToolRun whole =
      RunTool(dir, {"b.png", "--blur-size", "9", "--region", region, "--whole", "-o", "w.png"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  cv::absdiff(cv::imread((dir / "w.png").string()), blurred, difference);
  cv::cvtColor(difference, difference, cv::COLOR_BGR2GRAY);
  EXPECT_GT(cv::countNonZero(difference & outside), cv::countNonZero(outside) / 4);
}

TEST(DeblurToolFailure, RunningOutOfMemoryIsReportedNotCrashed) {
  VELMORA_SKIP_UNDER_ASAN();
  // A 4000 x 4000 picture needs well over a gigabyte of scratch memory;
  // the tool gets 800 MB of address space, enough to start and read it.
  const ScratchFolder dir;
  cv::Mat big(4000, 4000, CV_8UC3);
  for (int i = 0; i < big.rows; ++i)
    for (int j = 0; j < big.cols; ++j) big.at<cv::Vec3b>(i, j) = cv::Vec3b(i % 256, j % 256, (i + j) % 256);
  ASSERT_TRUE(cv::imwrite((dir / "big.png").string(), big));
  WriteKernel16(velmora::tools::GenerateShakeKernel(9, 1), dir / "k.png");
  const std::string limited = std::string("ulimit -v 800000 && exec ") + Quote(VELMORA_DEBLUR_PATH);
  const ToolRun run = RunTool(dir, {"big.png", "--kernel", "k.png"}, limited);
  // Refused before any work, with what it would take.
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("velmora-deblur: 'big.png': not enough memory: this picture needs about ", 0), 0u)
      << run.err;
  EXPECT_NE(run.err.find(" GiB of memory; "), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("\n"), run.err.size() - 1);
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"big.png", "k.png"}));
}

TEST(DeblurToolFailure, FailedEstimationExitsOneWithoutAResult) {
  // Uniform noise has no edges to estimate a blur from.
  const ScratchFolder dir;
  cv::Mat noise(240, 240, CV_8UC3);
  cv::RNG(1).fill(noise, cv::RNG::UNIFORM, 0, 256);
  ASSERT_TRUE(cv::imwrite((dir / "noise.png").string(), noise));
  const ToolRun run = RunTool(dir, {"noise.png", "--blur-size", "9"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, NamedLine("noise.png", velmora::kInsufficientInformation));
  EXPECT_FALSE(fs::exists(dir / "noise_deblurred.png"));
  EXPECT_EQ(run.out, "");
}

}  // namespace

// Ctrl-C and SIGTERM stop the job: the tool exits 128 + the signal with no
// result and no staging file left; a second Ctrl-C ends it at once, also
// leaving nothing.
namespace {

struct Interrupted {
  int status = -1;
  std::vector<std::string> left;
};

Interrupted InterruptTool(int signal, bool twice) {
  const ScratchFolder dir;
  cv::Mat picture;
  cv::resize(SharpPicture(300, 400), picture, cv::Size(1600, 1200));
  EXPECT_TRUE(cv::imwrite((dir / "big.png").string(), picture));
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execl(VELMORA_DEBLUR_PATH, VELMORA_DEBLUR_PATH, "big.png", "--blur-size", "31", "-o", "out.png",
            static_cast<char*>(nullptr));
    ::_exit(98);
  }
  // The kernel picture is staged before the job starts: then it runs.
  const auto started = [&dir] {
    for (const std::string& name : FolderEntries(dir.path()))
      if (name.find(".partial-") != std::string::npos) return true;
    return false;
  };
  for (int i = 0; i < 4000 && !started(); ++i) ::usleep(5000);
  ::usleep(300000);
  ::kill(child, signal);
  if (twice) ::kill(child, signal);
  int raw = 0;
  ::waitpid(child, &raw, 0);
  Interrupted r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  r.left = FolderEntries(dir.path());
  return r;
}

}  // namespace

TEST(DeblurToolInterrupt, SignalsStopTheJobAndLeaveNothingBehind) {
  for (const auto& [signal, twice, status] : {std::tuple{SIGINT, false, 130}, std::tuple{SIGTERM, false, 143},
                                              std::tuple{SIGINT, true, 130}}) {
    const Interrupted r = InterruptTool(signal, twice);
    EXPECT_EQ(r.status, status) << "signal " << signal << (twice ? " twice" : "");
    EXPECT_EQ(r.left, std::vector<std::string>{"big.png"}) << "signal " << signal << (twice ? " twice" : "");
  }
}

// A whole-picture blur the picture cannot hold is refused before the job,
// naming the largest it allows.
TEST(DeblurToolBlurSize, TooLargeForThePictureIsRefused) {
  const ScratchFolder dir;
  ASSERT_TRUE(cv::imwrite((dir / "small.png").string(), SharpPicture(300, 400)));
  for (const char* size : {"121", "auto:121"}) {
    const ToolRun run = RunTool(dir, {"small.png", "--blur-size", size});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("velmora-deblur: 'small.png': The blur size 121 x 121 is too large for this 400 x 300 picture", 0), 0u)
        << run.err;
    EXPECT_NE(run.err.find("The largest blur size it allows is 99 x 121."), std::string::npos) << run.err;
    EXPECT_EQ(LineCount(run.err), 1) << run.err;
  }
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"small.png"});
}

// ------------------------------------------------------------------ batch

// Several pictures in one run: each goes to the folder under its own stem,
// in its own format; a truncated picture fails alone and the run's status
// is the worst of the pictures'.
TEST(DeblurToolBatch, EachPictureIsRestoredIntoTheFolderAndABadOneFailsAlone) {
  const ScratchFolder dir;
  const cv::Mat blurred = Blurred(SharpPicture(220, 240), velmora::tools::GenerateShakeKernel(9, 6));
  ASSERT_TRUE(cv::imwrite((dir / "a.png").string(), blurred));
  ASSERT_TRUE(cv::imwrite((dir / "b.jpg").string(), blurred));
  ASSERT_TRUE(cv::imwrite((dir / "whole.png").string(), blurred));
  const std::string bytes = ReadText(dir / "whole.png");
  WriteText(dir / "cut.png", bytes.substr(0, bytes.size() / 2));

  const ToolRun run = RunTool(dir, {"a.png", "cut.png", "b.jpg", "--blur-size", "9", "--output-dir", "out"});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(FolderEntries(dir / "out"),
            (std::vector<std::string>{"a_deblurred.png", "a_kernel.png", "b_deblurred.jpg", "b_kernel.png"}));
  EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(\[1/3\] a\.png: \d+\.\d s\n)"))) << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(\[2/3\] cut\.png: \d+\.\d s, failed \(exit status 2\)\n)")))
      << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(\[3/3\] b\.jpg: \d+\.\d s\n)"))) << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(picture +result +blur size +time +exit status\n)"))) << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(a\.png +out/a_deblurred\.png +9 x 9 +\d+\.\d s +0 restored)")))
      << run.out;
  EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(cut\.png +- +- +\d+\.\d s +2 refused)"))) << run.out;
  EXPECT_NE(run.out.find("2 of 3 pictures restored\n"), std::string::npos) << run.out;
  // The image library may say why before the tool's own line.
  EXPECT_TRUE(run.err.ends_with(NamedLine("cut.png", kOpenFailed))) << run.err;
  // Quiet, the error line alone says which picture failed.
  fs::remove_all(dir / "out");
  const ToolRun quiet = RunTool(dir, {"a.png", "cut.png", "--blur-size", "9", "--output-dir", "out", "-q"});
  EXPECT_EQ(quiet.status, 2);
  EXPECT_EQ(quiet.out, "");
  EXPECT_TRUE(quiet.err.ends_with(NamedLine("cut.png", kOpenFailed))) << quiet.err;

  // Each result is the one a run of its own gives.
  ASSERT_EQ(RunTool(dir, {"a.png", "--blur-size", "9", "-o", "single.png", "-q"}).status, 0);
  const cv::Mat single = cv::imread((dir / "single.png").string());
  EXPECT_LE(cv::norm(cv::imread((dir / "out/a_deblurred.png").string()), single, cv::NORM_INF), 1.0);
}

// Each picture of a batch has its size found within its own sides, and
// the summary says which: the size of the kernel written for it.
TEST(DeblurToolBatch, EachPictureGetsItsOwnSizeFoundAndTheTableShowsIt) {
  const ScratchFolder dir;
  const cv::Mat kernel = velmora::tools::GenerateShakeKernel(9, 6);
  ASSERT_TRUE(cv::imwrite((dir / "wide.png").string(), Blurred(SharpPicture(200, 260), kernel)));
  ASSERT_TRUE(cv::imwrite((dir / "tall.png").string(), Blurred(SharpPicture(260, 200), kernel)));
  const ToolRun run = RunTool(dir, {"wide.png", "tall.png", "--output-dir", "out"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("Blur size found"), std::string::npos) << run.out;  // the table says it
  for (const std::string stem : {"wide", "tall"}) {
    const auto [height, width] = PictureSize(dir / "out" / (stem + "_kernel.png"));
    EXPECT_TRUE(height >= 3 && width >= 3 && height <= 65 && width <= 65) << stem << ": " << height << " x " << width;
    const std::string row = stem + "\\.png +out/" + stem + "_deblurred\\.png +" + std::to_string(height) + " x " +
                            std::to_string(width) + " +\\d+\\.\\d s +0 restored";
    EXPECT_TRUE(std::regex_search(run.out, std::regex(row))) << row << "\n" << run.out;
  }
}

// What cannot work is refused before any picture is touched: -o or
// --kernel-out with a folder, several pictures without one, two pictures
// whose results would share a name.
TEST(DeblurToolBatch, ConflictingRequestsAreRefusedBeforeAnyWork) {
  const ScratchFolder dir;
  const cv::Mat picture = SharpPicture(220, 240);
  fs::create_directory(dir / "sub");
  for (const char* name : {"a.png", "b.png", "sub/a.jpg"}) ASSERT_TRUE(cv::imwrite((dir / name).string(), picture));
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"a.png", "b.png", "-o", "x.png"}, "-o names one result, and 2 pictures were given; use --output-dir DIR"},
      {{"a.png", "b.png"}, "several pictures need --output-dir DIR"},
      {{"a.png", "sub/a.jpg", "--output-dir", "out"}, "'a.png' and 'sub/a.jpg' would both write 'out/a_kernel.png'"},
      {{"a.png", "a.png", "--output-dir", "out"}, "would both write 'out/a_deblurred.png'"},
      {{"a.png", "--output-dir", "out", "--kernel-out", "k.png"}, "--kernel-out excludes --output-dir"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(dir, c.args);
    EXPECT_EQ(run.status, 2) << c.says;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"a.png", "b.png", "sub"})) << c.says;
  }
}

// Ctrl-C during a batch stops the picture at work, leaving nothing of it,
// and skips the rest; the summary counts them and the status is 130.
TEST(DeblurToolBatch, ASignalStopsThePictureAtWorkAndSkipsTheRest) {
  const ScratchFolder dir;
  const cv::Mat small = Blurred(SharpPicture(220, 240), velmora::tools::GenerateShakeKernel(9, 6));
  cv::Mat big;
  cv::resize(SharpPicture(300, 400), big, cv::Size(1600, 1200));
  for (const char* name : {"a.png", "c.png"}) ASSERT_TRUE(cv::imwrite((dir / name).string(), small));
  ASSERT_TRUE(cv::imwrite((dir / "big.png").string(), big));
  const fs::path log = dir / "log.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
    const int out = ::open("log.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execl(VELMORA_DEBLUR_PATH, VELMORA_DEBLUR_PATH, "a.png", "big.png", "c.png", "--blur-size", "31",
            "--output-dir", "out", static_cast<char*>(nullptr));
    ::_exit(98);
  }
  // The second picture's kernel picture is staged before its job starts.
  const auto secondStarted = [&dir] {
    if (!fs::is_directory(dir / "out")) return false;
    for (const std::string& name : FolderEntries(dir / "out"))
      if (name.rfind(".big_kernel.partial-", 0) == 0) return true;
    return false;
  };
  for (int i = 0; i < 6000 && !secondStarted(); ++i) ::usleep(5000);
  ::usleep(300000);
  ::kill(child, SIGINT);
  int raw = 0;
  ::waitpid(child, &raw, 0);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 130);
  const std::string printed = ReadText(log);
  EXPECT_EQ(FolderEntries(dir / "out"), (std::vector<std::string>{"a_deblurred.png", "a_kernel.png"})) << printed;
  EXPECT_NE(printed.find("[2/3] big.png: "), std::string::npos) << printed;
  EXPECT_EQ(printed.find("[3/3]"), std::string::npos) << printed;
  EXPECT_TRUE(std::regex_search(printed, std::regex(R"(c\.png +- +- +- +skipped)"))) << printed;
  EXPECT_NE(printed.find("1 of 3 pictures restored, 1 skipped after the stop\n"), std::string::npos) << printed;
}
