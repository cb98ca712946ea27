#include "io/picture_header.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>


#include "io/errors.h"
#include "io/metadata.h"

namespace velmora::io {

namespace {

uint32_t BigEndian(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

int32_t LittleEndian32(const unsigned char* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

std::optional<PictureSize> PngSize(std::istream& in) {
  std::array<unsigned char, 24> head{};
  if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return std::nullopt;
  if (std::string(reinterpret_cast<const char*>(&head[12]), 4) != "IHDR") return std::nullopt;
  return PictureSize{BigEndian(&head[20], 4), BigEndian(&head[16], 4)};
}

std::optional<PictureSize> BmpSize(std::istream& in) {
  std::array<unsigned char, 26> head{};
  if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return std::nullopt;
  const long long cols = LittleEndian32(&head[18]), rows = LittleEndian32(&head[22]);
  return PictureSize{std::llabs(rows), std::llabs(cols)};  // a negative height: stored top-down
}

// The first start-of-frame segment's size; the markers before it are
// skipped by their lengths.
std::optional<PictureSize> JpegSize(std::istream& in) {
  in.seekg(2);
  for (int segments = 0; segments < 4096; ++segments) {
    int c = in.get();
    if (c != 0xFF) return std::nullopt;
    while (c == 0xFF) c = in.get();  // fill bytes
    if (c == EOF) return std::nullopt;
    if (c == 0x01 || (c >= 0xD0 && c <= 0xD7)) continue;  // markers without a segment
    if (c == 0xD9 || c == 0xDA) return std::nullopt;      // the end, or the scan, before any frame
    std::array<unsigned char, 7> segment{};
    if (!in.read(reinterpret_cast<char*>(segment.data()), 2)) return std::nullopt;
    const uint32_t length = BigEndian(segment.data(), 2);
    if (length < 2) return std::nullopt;
    const bool frame = c >= 0xC0 && c <= 0xCF && c != 0xC4 && c != 0xC8 && c != 0xCC;
    if (frame) {
      if (length < 7 || !in.read(reinterpret_cast<char*>(&segment[2]), 5)) return std::nullopt;
      return PictureSize{BigEndian(&segment[3], 2), BigEndian(&segment[5], 2)};
    }
    in.seekg(length - 2, std::ios::cur);
  }
  return std::nullopt;
}

}  // namespace

std::optional<PictureSize> DeclaredPictureSize(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<unsigned char, 4> magic{};
  if (!in.read(reinterpret_cast<char*>(magic.data()), magic.size())) return std::nullopt;
  in.seekg(0);
  if (magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') return PngSize(in);
  if (magic[0] == 0xFF && magic[1] == 0xD8) return JpegSize(in);
  if (magic[0] == 'B' && magic[1] == 'M') return BmpSize(in);
  const auto [rows, cols] = MetadataPixelSize(path);
  if (rows > 0 && cols > 0) return PictureSize{rows, cols};
  return std::nullopt;
}

bool IsPictureFormat(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<char, 132> head{};
  in.read(head.data(), head.size());
  const std::string start(head.data(), static_cast<size_t>(in.gcount()));
  // The image library picks its decoder by signature, and the medical one,
  // which looks at offset 128, can win over a photograph's at offset 0.
  if (start.size() == head.size() && start.compare(128, 4, "DICM") == 0) return false;
  const auto startsWith = [&start](std::string_view magic) { return start.compare(0, magic.size(), magic) == 0; };
  using namespace std::string_view_literals;
  if (startsWith("\xFF\xD8\xFF"sv) || startsWith("\x89PNG\r\n\x1A\n"sv) || startsWith("II*\0"sv) ||
      startsWith("MM\0*"sv) || startsWith("BM"sv) || startsWith("\x59\xA6\x6A\x95"sv) ||
      startsWith("\0\0\0\x0CjP  "sv) || startsWith("\xFF\x4F\xFF\x51"sv) || startsWith("#?RADIANCE"sv) ||
      startsWith("#?RGBE"sv) || startsWith("\x76\x2F\x31\x01"sv))
    return true;
  if (startsWith("RIFF"sv) && start.size() >= 12 && start.compare(8, 4, "WEBP") == 0) return true;
  // P1 to P7, PF and Pf, then white space
  return start.size() >= 3 && start[0] == 'P' && std::string_view("1234567Ff").find(start[1]) != std::string_view::npos &&
         std::isspace(static_cast<unsigned char>(start[2]));
}

void CheckDeclaredSize(const std::filesystem::path& path, const std::string& what) {
  const std::optional<PictureSize> size = DeclaredPictureSize(path);
  if (!size || size->rows <= 0 || size->cols <= 0 || size->cols <= kLargestPicturePixels / size->rows) return;
  throw BadFile(what + " is " + std::to_string(size->cols) + " x " + std::to_string(size->rows) +
                " pixels; the largest picture this program restores has " +
                std::to_string(kLargestPicturePixels / 1'000'000) + " million pixels");
}

}  // namespace velmora::io
