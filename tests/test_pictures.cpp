// Pictures as photographers keep them, through the picture library and the
// built velmora-deblur: depths beyond 8 bits, pictures stored turned, their
// EXIF, XMP, IPTC records and colour profile carried to the result, and
// damaged records that must not cost the picture.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "io/metadata.h"
#include "io/picture.h"
#include "tests/picture_samples.h"
#include "tests/tool_runner.h"
#include "tools/shake.h"

namespace {

namespace fs = std::filesystem;
using namespace velmora::io;
using namespace velmora::testing;

// Pictures deeper than 8 bits keep their depth: a smooth 16-bit gradient
// comes back as 16-bit PNG and TIFF with far more than 256 levels; a float
// TIFF is read as such; one with NaN samples is refused, naming the problem.
cv::Mat Gradient16(int rows, int cols) {
  cv::Mat picture(rows, cols, CV_16UC3);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const auto v = static_cast<unsigned short>(4000 + 50000.0 * (i * cols + j) / (rows * cols));
      picture.at<cv::Vec3w>(i, j) = cv::Vec3w(v, static_cast<unsigned short>(v / 2), static_cast<unsigned short>(65535 - v));
    }
  return picture;
}

// OpenCV's TIFF writer stores NaN as 0, so a picture with non-finite samples
// is written here by hand: one strip, three 32-bit float samples per pixel.
void WriteFloatTiff(const cv::Mat& picture, const fs::path& path) {
  ASSERT_EQ(picture.type(), CV_32FC3);
  const cv::Mat packed = picture.isContinuous() ? picture : picture.clone();
  const auto data_bytes = static_cast<std::uint32_t>(packed.total() * packed.elemSize());
  const std::uint32_t ifd_at = 8 + data_bytes;
  const std::uint16_t entries = 11;
  const std::uint32_t bits_at = ifd_at + 2 + entries * 12 + 4;
  const std::uint32_t format_at = bits_at + 6;
  std::string out = "II*";
  out.push_back('\0');
  auto put16 = [&out](std::uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
  auto put32 = [&out](std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
  auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    put16(tag), put16(type), put32(count);
    if (type == 3 && count == 1) put16(static_cast<std::uint16_t>(value)), put16(0);
    else put32(value);
  };
  put32(ifd_at);
  out.append(reinterpret_cast<const char*>(packed.data), data_bytes);
  put16(entries);
  const auto rows = static_cast<std::uint32_t>(picture.rows), cols = static_cast<std::uint32_t>(picture.cols);
  entry(256, 3, 1, cols), entry(257, 3, 1, rows), entry(258, 3, 3, bits_at), entry(259, 3, 1, 1);
  entry(262, 3, 1, 2), entry(273, 4, 1, 8), entry(277, 3, 1, 3), entry(278, 3, 1, rows);
  entry(279, 4, 1, data_bytes), entry(284, 3, 1, 1), entry(339, 3, 3, format_at);
  put32(0);
  for (int i = 0; i < 3; ++i) put16(32);
  for (int i = 0; i < 3; ++i) put16(3);  // IEEE floating point
  std::ofstream(path, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
}

int DistinctLevels(const cv::Mat& picture) {
  std::vector<cv::Mat> planes;
  cv::split(picture, planes);
  std::vector<unsigned short> values(planes[0].begin<unsigned short>(), planes[0].end<unsigned short>());
  std::sort(values.begin(), values.end());
  return static_cast<int>(std::unique(values.begin(), values.end()) - values.begin());
}

TEST(DeblurToolDepth, SixteenBitPicturesComeBackAtSixteenBits) {
  const ScratchFolder dir;
  ASSERT_TRUE(cv::imwrite((dir / "deep.png").string(), Gradient16(240, 260)));
  WriteKernel16(velmora::tools::GenerateShakeKernel(5, 1), dir / "k.png");
  for (const char* out : {"out.png", "out.tif"}) {
    const ToolRun run = RunTool(dir, {"deep.png", "--kernel", "k.png", "-o", out, "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
    const cv::Mat result = cv::imread((dir / out).string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(result.depth(), CV_16U) << out;
    EXPECT_GT(DistinctLevels(result), 1024) << out;
  }
  // JPEG stays 8-bit.
  ASSERT_EQ(RunTool(dir, {"deep.png", "--kernel", "k.png", "-o", "out.jpg", "-q"}).status, 0);
  EXPECT_EQ(cv::imread((dir / "out.jpg").string(), cv::IMREAD_UNCHANGED).depth(), CV_8U);
}

TEST(DeblurToolDepth, FloatTiffIsReadAndNonFiniteSamplesAreRefused) {
  const ScratchFolder dir;
  cv::Mat floats;
  Gradient16(220, 230).convertTo(floats, CV_32F, 1.0 / 65535.0);
  ASSERT_TRUE(cv::imwrite((dir / "f.tif").string(), floats));
  const cv::Mat read = ReadPicture(dir / "f.tif");
  EXPECT_EQ(read.depth(), CV_32F);
  WriteKernel16(velmora::tools::GenerateShakeKernel(5, 1), dir / "k.png");
  ASSERT_EQ(RunTool(dir, {"f.tif", "--kernel", "k.png", "-o", "out.tif", "-q"}).status, 0);
  EXPECT_EQ(cv::imread((dir / "out.tif").string(), cv::IMREAD_UNCHANGED).depth(), CV_16U);

  WriteFloatTiff(floats, dir / "finite.tif");
  cv::Mat swapped;  // the file holds RGB, pictures are held BGR
  cv::cvtColor(floats, swapped, cv::COLOR_RGB2BGR);
  EXPECT_EQ(cv::norm(ReadPicture(dir / "finite.tif"), swapped, cv::NORM_INF), 0.0);
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    cv::Mat spoiled = floats.clone();
    spoiled.at<cv::Vec3f>(10, 10)[1] = bad;
    WriteFloatTiff(spoiled, dir / "bad.tif");
    const ToolRun run = RunTool(dir, {"bad.tif", "--kernel", "k.png", "-o", "bad.png"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("not finite numbers"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "bad.png"));
  }
}

// ------------------------------------------------------------ orientation

// A picture whose every corner differs, so that any turn or mirror shows.
cv::Mat Landmarks(int rows, int cols) {
  cv::Mat picture(rows, cols, CV_8UC3);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      picture.at<cv::Vec3b>(i, j) = cv::Vec3b(static_cast<uchar>(40 + 150 * j / cols),
                                              static_cast<uchar>(40 + 150 * i / rows), 90);
  cv::rectangle(picture, cv::Rect(10, 10, 60, 40), cv::Scalar(240, 240, 240), cv::FILLED);
  cv::circle(picture, cv::Point(cols - 50, rows - 60), 30, cv::Scalar(20, 20, 200), cv::FILLED);
  return picture;
}

// The pixels as a file stores them under an EXIF orientation, from the
// standard's table of where the stored first row and column belong.
cv::Mat StoredFor(const cv::Mat& upright, int orientation) {
  const bool across = orientation >= 5;
  const int rows = across ? upright.cols : upright.rows, cols = across ? upright.rows : upright.cols;
  cv::Mat stored(rows, cols, upright.type());
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      cv::Point at;  // (x, y) in the upright picture
      switch (orientation) {
        case 1: at = {c, r}; break;
        case 2: at = {cols - 1 - c, r}; break;
        case 3: at = {cols - 1 - c, rows - 1 - r}; break;
        case 4: at = {c, rows - 1 - r}; break;
        case 5: at = {r, c}; break;
        case 6: at = {rows - 1 - r, c}; break;
        case 7: at = {rows - 1 - r, cols - 1 - c}; break;
        case 8: at = {r, cols - 1 - c}; break;
      }
      stored.at<cv::Vec3b>(r, c) = upright.at<cv::Vec3b>(at);
    }
  return stored;
}

double MeanDifference(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size()) return std::numeric_limits<double>::infinity();
  cv::Mat a8, b8;
  a.convertTo(a8, CV_32F, a.depth() == CV_16U ? 1.0 / 257.0 : 1.0);
  b.convertTo(b8, CV_32F, b.depth() == CV_16U ? 1.0 / 257.0 : 1.0);
  return cv::norm(a8, b8, cv::NORM_L1) / static_cast<double>(a8.total() * a8.channels());
}

// Every orientation of every format comes in upright: JPEG and TIFF are
// turned by their decoder, PNG by the reader.
TEST(PictureOrientation, EveryOrientationIsReadUpright) {
  const ScratchFolder dir;
  const cv::Mat upright = Landmarks(230, 270);
  for (const char* format : {".png", ".jpg", ".tif"})
    for (int orientation = 1; orientation <= 8; ++orientation) {
      const fs::path file = dir / ("turned" + std::to_string(orientation) + format);
      ASSERT_TRUE(cv::imwrite(file.string(), StoredFor(upright, orientation), {cv::IMWRITE_JPEG_QUALITY, 100}));
      WriteShotRecords(file, {orientation, {}});
      const double difference = MeanDifference(ReadPicture(file), upright);
      EXPECT_LT(difference, std::string(format) == ".jpg" ? 2.0 : 1e-9) << format << " orientation " << orientation;
    }
}

// ---------------------------------------------------------------- records

void ExpectShotRecords(const fs::path& result, const std::vector<unsigned char>& icc) {
  const ReadBack back = ReadRecords(result);
  EXPECT_EQ(back.Exif("Exif.Image.Make"), "Velmora Test Camera Co.") << result;
  EXPECT_EQ(back.Exif("Exif.Image.Model"), "Model 7") << result;
  EXPECT_EQ(back.Exif("Exif.Photo.DateTimeOriginal"), "2026:11:28 16:42:07") << result;
  EXPECT_EQ(back.Exif("Exif.Photo.ExposureTime"), "1/15") << result;
  EXPECT_EQ(back.Exif("Exif.Photo.FNumber"), "28/10") << result;
  EXPECT_EQ(back.Exif("Exif.Photo.LensModel"), "35mm F2.8") << result;
  EXPECT_EQ(back.Exif("Exif.Image.Orientation"), "1") << result;
  EXPECT_EQ(back.Exif("Exif.Image.Software"), SoftwareName()) << result;
  const auto title = back.xmp.findKey(Exiv2::XmpKey("Xmp.dc.title"));
  ASSERT_NE(title, back.xmp.end()) << result;
  EXPECT_NE(title->toString().find("Harbour at dusk"), std::string::npos) << result;
  const auto caption = back.iptc.findKey(Exiv2::IptcKey("Iptc.Application2.Caption"));
  ASSERT_NE(caption, back.iptc.end()) << result;
  EXPECT_EQ(caption->toString(), "Boats in the harbour, hand-held") << result;
  EXPECT_TRUE(back.icc == icc) << result << ": the profile differs (" << back.icc.size() << " bytes)";
}

class DeblurToolRecords : public ::testing::Test {
 protected:
  void SetUp() override { WriteKernel16(velmora::tools::GenerateShakeKernel(5, 1), dir_ / "k.png"); }

  // Restores `input` with the known kernel into `output`.
  ToolRun Restore(const std::string& input, const std::string& output) {
    return RunTool(dir_, {input, "--kernel", "k.png", "-o", output, "-q"});
  }

  ScratchFolder dir_;
  const std::vector<unsigned char> profile_ = WideGamutProfile();
  const cv::Mat upright_ = Landmarks(230, 270);
};

// A sideways JPEG and a 16-bit TIFF turned the other way, both with camera
// records and a wide-gamut profile: every result, in every format, holds
// the same records and the same profile, upright with orientation 1, the
// TIFF and PNG at 16 bits.
TEST_F(DeblurToolRecords, RecordsAndProfileComeThroughUpright) {
  ASSERT_TRUE(cv::imwrite((dir_ / "shot.jpg").string(), StoredFor(upright_, 6), {cv::IMWRITE_JPEG_QUALITY, 100}));
  WriteShotRecords(dir_ / "shot.jpg", {6, profile_});
  cv::Mat deep;
  StoredFor(upright_, 8).convertTo(deep, CV_16U, 257.0);
  ASSERT_TRUE(cv::imwrite((dir_ / "deep.tif").string(), deep));
  WriteShotRecords(dir_ / "deep.tif", {8, profile_});

  for (const std::string input : {"shot.jpg", "deep.tif"})
    for (const std::string format : {".jpg", ".png", ".tif"}) {
      const std::string output = input.substr(0, input.find('.')) + "_out" + format;
      const ToolRun run = Restore(input, output);
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.err, "");
      ExpectShotRecords(dir_ / output, profile_);
      const cv::Mat result = cv::imread((dir_ / output).string(), cv::IMREAD_UNCHANGED | cv::IMREAD_IGNORE_ORIENTATION);
      EXPECT_LT(MeanDifference(result, upright_), 12.0) << input << " -> " << output;
      const bool deepResult = input == "deep.tif" && format != ".jpg";
      EXPECT_EQ(result.depth(), deepResult ? CV_16U : CV_8U) << input << " -> " << output;
    }
}

// A picture without records gains none: its result is written as before.
TEST_F(DeblurToolRecords, PicturesWithoutRecordsGainNone) {
  ASSERT_TRUE(cv::imwrite((dir_ / "plain.jpg").string(), upright_));
  ASSERT_EQ(Restore("plain.jpg", "plain_out.jpg").status, 0);
  const ReadBack back = ReadRecords(dir_ / "plain_out.jpg");
  EXPECT_TRUE(back.exif.empty() && back.xmp.empty() && back.iptc.empty() && back.icc.empty());
  // A format that holds no records takes the picture alone, records or not.
  ASSERT_TRUE(cv::imwrite((dir_ / "shot.jpg").string(), upright_));
  WriteShotRecords(dir_ / "shot.jpg", {1, profile_});
  const PictureMetadata records = PictureMetadata::Read(dir_ / "shot.jpg", nullptr);
  ASSERT_FALSE(records.empty());
  const std::vector<unsigned char> bytes = EncodePicture(upright_, ".bmp");
  EXPECT_EQ(records.AddTo(bytes, ".bmp", nullptr), bytes);
}

// Records the metadata library cannot parse are left out with one warning
// line; the picture is restored and saved all the same.
TEST_F(DeblurToolRecords, DamagedRecordsCostOnlyThemselves) {
  ASSERT_TRUE(cv::imwrite((dir_ / "shot.jpg").string(), upright_));
  WriteShotRecords(dir_ / "shot.jpg", {1, profile_});
  std::string bytes = ReadText(dir_ / "shot.jpg");
  const std::size_t exif = bytes.find(std::string("Exif\0\0", 6));
  ASSERT_NE(exif, std::string::npos);
  bytes.replace(exif + 6, 2, "XX");  // the records' byte order mark
  WriteText(dir_ / "damaged.jpg", bytes);

  const ToolRun run = RunTool(dir_, {"damaged.jpg", "--kernel", "k.png", "-o", "out.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("warning: the metadata of 'damaged.jpg' cannot be read"), std::string::npos) << run.err;
  EXPECT_LT(MeanDifference(cv::imread((dir_ / "out.png").string()), upright_), 12.0);
}

}  // namespace
