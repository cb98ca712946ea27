// What the installed files promise, checked against the program: the
// desktop entry offers Velmora for exactly the picture types its reader
// opens, hands it the files, and names an icon drawn at every size it is
// installed at; the changelog's release is the project's version.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "io/picture.h"
#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;
using velmora::testing::ReadText;
using velmora::testing::ScratchFolder;

const fs::path kPackaging = fs::path(VELMORA_SOURCE_DIR) / "packaging";
constexpr const char* kAppId = "org.velmora.Velmora";

// The keys of the desktop entry's [Desktop Entry] group.
std::map<std::string, std::string> DesktopEntry() {
  std::ifstream in(kPackaging / (std::string(kAppId) + ".desktop"));
  std::map<std::string, std::string> keys;
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.front() == '[') {
      inGroup = line == "[Desktop Entry]";
      continue;
    }
    const size_t equals = line.find('=');
    if (inGroup && equals != std::string::npos) keys[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return keys;
}

std::vector<std::string> SplitList(const std::string& value) {
  std::vector<std::string> items;
  std::stringstream in(value);
  std::string item;
  while (std::getline(in, item, ';'))
    if (!item.empty()) items.push_back(item);
  return items;
}

// Picture types a desktop may hand the program, each with a file name
// extension OpenCV writes it under. Those the reader opens must be in the
// entry; those it does not must not be.
const std::map<std::string, std::string> kCandidateTypes = {
    {"image/jpeg", ".jpg"},
    {"image/png", ".png"},
    {"image/bmp", ".bmp"},
    {"image/tiff", ".tif"},
    {"image/webp", ".webp"},
    {"image/jp2", ".jp2"},
    {"image/x-portable-anymap", ".pnm"},
    {"image/x-portable-bitmap", ".pbm"},
    {"image/x-portable-graymap", ".pgm"},
    {"image/x-portable-pixmap", ".ppm"},
    {"image/x-sun-raster", ".ras"},
    {"image/vnd.radiance", ".hdr"},
    {"image/x-exr", ".exr"},
};

// A 200 x 200 picture (the smallest the program takes) with some detail,
// grey where the format is.
cv::Mat Sample(const std::string& extension) {
  cv::Mat picture(200, 200, CV_8UC3);
  for (int y = 0; y < picture.rows; ++y)
    for (int x = 0; x < picture.cols; ++x)
      picture.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x), static_cast<uchar>(y),
                                              static_cast<uchar>((x * y) % 256));
  if (extension == ".pgm" || extension == ".pbm") cv::extractChannel(picture, picture, 0);
  if (extension == ".hdr" || extension == ".exr") picture.convertTo(picture, CV_32FC3, 1.0 / 255.0);
  return picture;
}

enum class Reading { kNoSample, kOpens, kRefused };

// Whether the program's picture reader opens a file of this type.
Reading ReadSample(const ScratchFolder& folder, const std::string& extension) {
  const fs::path file = folder / ("sample" + extension);
  try {
    if (!cv::imwrite(file.string(), Sample(extension))) return Reading::kNoSample;
  } catch (const cv::Exception&) {
    return Reading::kNoSample;  // no encoder for it in this OpenCV
  }
  try {
    return velmora::io::ReadPictureWithMetadata(file).pixels.empty() ? Reading::kRefused : Reading::kOpens;
  } catch (const std::exception&) {
    return Reading::kRefused;
  }
}

TEST(DesktopEntry, OffersExactlyThePictureTypesTheReaderOpens) {
  const std::vector<std::string> listed = SplitList(DesktopEntry()["MimeType"]);
  ASSERT_FALSE(listed.empty());
  for (const std::string& type : listed)
    EXPECT_TRUE(kCandidateTypes.count(type)) << type << " is offered, but no test picture of it is made here";
  const ScratchFolder folder;
  for (const auto& [type, extension] : kCandidateTypes) {
    const bool offered = std::find(listed.begin(), listed.end(), type) != listed.end();
    const Reading reading = ReadSample(folder, extension);
    if (reading == Reading::kNoSample) {
      // OpenCV writes every type the entry offers; one it cannot write is
      // one it was built without, and then it cannot read it either.
      EXPECT_FALSE(offered) << type << " is offered, but this OpenCV cannot even write it";
      continue;
    }
    EXPECT_EQ(offered, reading == Reading::kOpens)
        << type << (offered ? " is offered but the reader does not open it"
                            : " is opened by the reader but not offered in the desktop entry");
  }
}

TEST(DesktopEntry, HandsTheApplicationLocalFilesAndNamesItsIcon) {
  std::map<std::string, std::string> entry = DesktopEntry();
  // %F: any number of local paths, which the application reads as files.
  EXPECT_EQ(entry["Exec"], "velmora %F");
  EXPECT_EQ(entry["Type"], "Application");
  EXPECT_EQ(entry["GenericName"], "Camera Shake Remover");
  EXPECT_EQ(entry["Icon"], kAppId);
  // The program's X11 window class, which shells match the entry by.
  EXPECT_EQ(entry["StartupWMClass"], "velmora");
  const std::vector<std::string> categories = SplitList(entry["Categories"]);
  for (const char* category : {"Graphics", "Photography", "RasterGraphics"})
    EXPECT_NE(std::find(categories.begin(), categories.end(), category), categories.end()) << category;
}

TEST(DesktopIcon, IsDrawnAtEverySizeItIsInstalledAt) {
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
    const fs::path icon = kPackaging / "icons" / std::to_string(size) / (std::string(kAppId) + ".png");
    const cv::Mat picture = cv::imread(icon.string(), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(picture.empty()) << icon;
    EXPECT_EQ(picture.rows, size) << icon;
    EXPECT_EQ(picture.cols, size) << icon;
    // Transparent corners, as the rounded tile leaves them.
    ASSERT_EQ(picture.channels(), 4) << icon;
    EXPECT_EQ(picture.at<cv::Vec4b>(0, 0)[3], 0) << icon;
    EXPECT_GT(picture.at<cv::Vec4b>(size / 2, size / 2)[3], 200) << icon;
  }
}

TEST(Changelog, NamesTheProjectVersionFirst) {
  std::ifstream in(kPackaging / "changelog");
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first.rfind(std::string("velmora (") + VELMORA_VERSION + ") ", 0), 0u)
      << "packaging/changelog starts with \"" << first << "\"; the project is " << VELMORA_VERSION
      << ": add an entry for the release";
}

}  // namespace
