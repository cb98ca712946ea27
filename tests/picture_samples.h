// Pictures as cameras and raw converters write them, for tests: a colour
// profile with wide-gamut primaries, and EXIF, XMP and IPTC records written
// into a picture file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

namespace velmora::testing {

// A display profile (ICC version 2) with the primaries of a common
// wide-gamut working space adapted to D50 and a 2.2 tone curve: what a
// photograph edited in that space carries.
inline std::vector<unsigned char> WideGamutProfile() {
  std::vector<unsigned char> tags;  // tag data, placed after the table
  struct Entry {
    const char* signature;
    std::uint32_t offset, size;
  };
  std::vector<Entry> table;
  auto put32 = [](std::vector<unsigned char>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
  };
  auto fixed = [&](std::vector<unsigned char>& out, double v) {
    put32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(v * 65536.0 + (v < 0 ? -0.5 : 0.5))));
  };
  auto text4 = [](std::vector<unsigned char>& out, const char* s) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(s[i]));
  };
  auto add = [&](const char* signature, const std::vector<unsigned char>& data) {
    table.push_back({signature, static_cast<std::uint32_t>(tags.size()), static_cast<std::uint32_t>(data.size())});
    tags.insert(tags.end(), data.begin(), data.end());
    while (tags.size() % 4) tags.push_back(0);
  };
  auto xyz = [&](double x, double y, double z) {
    std::vector<unsigned char> d;
    text4(d, "XYZ "), put32(d, 0), fixed(d, x), fixed(d, y), fixed(d, z);
    return d;
  };
  std::vector<unsigned char> desc;
  const std::string name = "Wide-gamut RGB (test)";
  text4(desc, "desc"), put32(desc, 0), put32(desc, static_cast<std::uint32_t>(name.size() + 1));
  desc.insert(desc.end(), name.begin(), name.end());
  desc.push_back(0);
  put32(desc, 0), put32(desc, 0);  // no Unicode description
  desc.insert(desc.end(), 2 + 1 + 67, 0);  // nor a ScriptCode one
  std::vector<unsigned char> curve;
  text4(curve, "curv"), put32(curve, 0), put32(curve, 1);
  curve.push_back(0x02), curve.push_back(0x33);  // gamma 563/256
  add("desc", desc);
  add("wtpt", xyz(0.9642, 1.0, 0.8249));
  add("rXYZ", xyz(0.6097, 0.3111, 0.0195));
  add("gXYZ", xyz(0.2053, 0.6257, 0.0609));
  add("bXYZ", xyz(0.1492, 0.0632, 0.7446));
  add("rTRC", curve), add("gTRC", curve), add("bTRC", curve);

  const std::uint32_t dataAt = 128 + 4 + 12 * static_cast<std::uint32_t>(table.size());
  std::vector<unsigned char> profile;
  put32(profile, dataAt + static_cast<std::uint32_t>(tags.size()));
  put32(profile, 0), put32(profile, 0x02100000);
  text4(profile, "mntr"), text4(profile, "RGB "), text4(profile, "XYZ ");
  for (int v : {2026, 12, 10, 0, 0, 0}) profile.push_back(static_cast<unsigned char>(v >> 8)), profile.push_back(static_cast<unsigned char>(v));
  text4(profile, "acsp");
  profile.resize(68, 0);  // platform, flags, device, intent: none
  fixed(profile, 0.9642), fixed(profile, 1.0), fixed(profile, 0.8249);
  profile.resize(128, 0);
  put32(profile, static_cast<std::uint32_t>(table.size()));
  for (const Entry& e : table) text4(profile, e.signature), put32(profile, dataAt + e.offset), put32(profile, e.size);
  profile.insert(profile.end(), tags.begin(), tags.end());
  return profile;
}

// What a camera writes about a shot.
struct ShotRecords {
  int orientation = 1;  // 0: no orientation tag
  std::vector<unsigned char> icc;  // empty: no profile
};

// Writes camera, lens, exposure and date EXIF, an XMP title, an IPTC
// caption and, when given, a colour profile into the picture file at path.
inline void WriteShotRecords(const std::filesystem::path& path, const ShotRecords& records) {
  Exiv2::XmpParser::initialize();
  auto image = Exiv2::ImageFactory::open(path.string());
  image->readMetadata();
  Exiv2::ExifData exif;
  exif["Exif.Image.Make"] = "Velmora Test Camera Co.";
  exif["Exif.Image.Model"] = "Model 7";
  exif["Exif.Photo.DateTimeOriginal"] = "2026:11:28 16:42:07";
  exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 15);
  exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
  exif["Exif.Photo.LensModel"] = "35mm F2.8";
  if (records.orientation > 0) exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(records.orientation);
  image->setExifData(exif);
  Exiv2::XmpData xmp;
  xmp["Xmp.dc.title"] = "lang=\"x-default\" Harbour at dusk";
  image->setXmpData(xmp);
  Exiv2::IptcData iptc;
  iptc["Iptc.Application2.Caption"] = "Boats in the harbour, hand-held";
  image->setIptcData(iptc);
  if (!records.icc.empty()) {
    Exiv2::DataBuf icc(records.icc.data(), static_cast<long>(records.icc.size()));
    image->setIccProfile(icc, true);
  }
  image->writeMetadata();
}

// The records of the picture file at path, as the metadata library reads
// them back.
struct ReadBack {
  Exiv2::ExifData exif;
  Exiv2::XmpData xmp;
  Exiv2::IptcData iptc;
  std::vector<unsigned char> icc;

  std::string Exif(const char* key) const {
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    return found == exif.end() ? std::string() : found->toString();
  }
};

inline ReadBack ReadRecords(const std::filesystem::path& path) {
  Exiv2::XmpParser::initialize();
  auto image = Exiv2::ImageFactory::open(path.string());
  image->readMetadata();
  ReadBack back{image->exifData(), image->xmpData(), image->iptcData(), {}};
  if (image->iccProfileDefined())
    back.icc.assign(image->iccProfile()->pData_, image->iccProfile()->pData_ + image->iccProfile()->size_);
  return back;
}

}  // namespace velmora::testing
