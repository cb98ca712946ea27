#include "io/metadata.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string_view>

#include <zlib.h>

// The library's headers still declare std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace velmora::io {

struct PictureMetadata::Records {
  Exiv2::ExifData exif;
  Exiv2::XmpData xmp;
  Exiv2::IptcData iptc;
  std::vector<unsigned char> icc;
  int orientation = 1;
  bool turnedByDecoder = false;
};

namespace {

// The XMP toolkit must be set up once before any thread uses it, and the
// library's own warnings would otherwise go to stderr line by line: a
// damaged record is reported once, by the caller.
void PrepareLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize();
  });
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

int OrientationOf(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp) {
  long value = 1;
  const auto inExif = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
  if (inExif != exif.end() && inExif->count() > 0) {
    value = inExif->toLong();
  } else {
    const auto inXmp = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    if (inXmp != xmp.end() && inXmp->count() > 0) value = inXmp->toLong();
  }
  return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

// Tags that describe how the pixels of the source file were stored; the
// written file has its own.
bool DescribesStorage(const Exiv2::Exifdatum& datum) {
  static constexpr std::string_view kStorageTags[] = {
      "NewSubfileType", "SubfileType", "ImageWidth", "ImageLength", "BitsPerSample",
      "Compression", "PhotometricInterpretation", "FillOrder", "StripOffsets", "SamplesPerPixel",
      "RowsPerStrip", "StripByteCounts", "PlanarConfiguration", "Predictor", "TileWidth",
      "TileLength", "TileOffsets", "TileByteCounts", "SampleFormat", "ExtraSamples",
      "JPEGInterchangeFormat", "JPEGInterchangeFormatLength", "InterColorProfile", "SubIFDs",
      "IPTCNAA", "XMLPacket", "ImageResources"};
  if (datum.groupName() != "Image") return false;
  const std::string name = datum.tagName();
  return std::find(std::begin(kStorageTags), std::end(kStorageTags), name) != std::end(kStorageTags);
}

// The thumbnail shows the blurred picture, and the further images of a
// multi-image file are not written.
bool BelongsToAnotherImage(const Exiv2::Exifdatum& datum) {
  const std::string group = datum.groupName();
  if (group == "Thumbnail" || group.rfind("SubImage", 0) == 0 || group.rfind("SubThumb", 0) == 0) return true;
  return group.size() > 5 && group.rfind("Image", 0) == 0 && std::isdigit(static_cast<unsigned char>(group[5]));
}

Exiv2::ExifData ExifForResult(const Exiv2::ExifData& source, long width, long height) {
  Exiv2::ExifData exif;
  for (const Exiv2::Exifdatum& datum : source)
    if (!DescribesStorage(datum) && !BelongsToAnotherImage(datum)) exif.add(datum);
  exif["Exif.Image.Orientation"] = static_cast<uint16_t>(1);
  exif["Exif.Image.Software"] = SoftwareName();
  if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != exif.end() && width > 0 && height > 0) {
    exif["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(width);
    exif["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(height);
  }
  return exif;
}

Exiv2::XmpData XmpForResult(const Exiv2::XmpData& source) {
  Exiv2::XmpData xmp = source;
  if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end()) xmp["Xmp.tiff.Orientation"] = "1";
  return xmp;
}

void Put32(unsigned char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// Puts the profile into a PNG stream as its iCCP chunk, right after the
// header chunk. The metadata library would write the chunk with an empty
// profile name, which the PNG reference decoder rejects, so it is built here.
std::vector<unsigned char> WithPngProfile(const std::vector<unsigned char>& png, const std::vector<unsigned char>& icc) {
  constexpr std::size_t kSignature = 8, kHeaderEnd = kSignature + 8 + 13 + 4;
  if (png.size() < kHeaderEnd || std::memcmp(&png[kSignature + 4], "IHDR", 4) != 0)
    throw std::runtime_error("the PNG stream has no header chunk");
  uLongf packedSize = compressBound(static_cast<uLong>(icc.size()));
  std::vector<unsigned char> packed(packedSize);
  if (compress2(packed.data(), &packedSize, icc.data(), static_cast<uLong>(icc.size()), Z_BEST_COMPRESSION) != Z_OK)
    throw std::runtime_error("the colour profile cannot be compressed");
  // length, type, the profile's name and its NUL, the method (deflate), the
  // compressed profile, the check sum
  static constexpr char kName[] = "ICC profile";
  const std::size_t dataSize = sizeof kName + 1 + packedSize;
  std::vector<unsigned char> out(png.size() + 12 + dataSize);
  std::memcpy(out.data(), png.data(), kHeaderEnd);
  unsigned char* chunk = out.data() + kHeaderEnd;
  Put32(chunk, static_cast<uint32_t>(dataSize));
  std::memcpy(chunk + 4, "iCCP", 4);
  std::memcpy(chunk + 8, kName, sizeof kName);
  chunk[8 + sizeof kName] = 0;
  std::memcpy(chunk + 9 + sizeof kName, packed.data(), packedSize);
  Put32(chunk + 8 + dataSize, static_cast<uint32_t>(crc32(0, chunk + 4, static_cast<uInt>(4 + dataSize))));
  std::memcpy(chunk + 12 + dataSize, png.data() + kHeaderEnd, png.size() - kHeaderEnd);
  return out;
}

std::string Reason(const std::exception& e) {
  std::string reason = e.what();
  while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back()))) reason.pop_back();
  return reason.empty() ? "unknown problem" : reason;
}

}  // namespace

PictureMetadata::PictureMetadata() = default;
PictureMetadata::~PictureMetadata() = default;
PictureMetadata::PictureMetadata(const PictureMetadata&) = default;
PictureMetadata& PictureMetadata::operator=(const PictureMetadata&) = default;

std::string SoftwareName() { return std::string("Velmora ") + VELMORA_VERSION; }

PictureMetadata PictureMetadata::Read(const std::filesystem::path& path, std::string* warning) {
  PrepareLibrary();
  PictureMetadata metadata;
  try {
    auto image = Exiv2::ImageFactory::open(path.string(), false);
    image->readMetadata();
    auto records = std::make_shared<Records>();
    records->exif = image->exifData();
    records->xmp = image->xmpData();
    records->iptc = image->iptcData();
    if (image->iccProfileDefined()) {
      const Exiv2::DataBuf* icc = image->iccProfile();
      records->icc.assign(icc->pData_, icc->pData_ + icc->size_);
    }
    records->orientation = OrientationOf(records->exif, records->xmp);
    const int type = image->imageType();
    records->turnedByDecoder = type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::tiff;
    if (!records->exif.empty() || !records->xmp.empty() || !records->iptc.empty() || !records->icc.empty())
      metadata.records_ = std::move(records);
  } catch (const Exiv2::AnyError& e) {
    // A format the library does not know holds nothing it could copy.
    if (e.code() == Exiv2::kerFileContainsUnknownImageType) return metadata;
    if (warning) *warning = "the metadata of '" + path.string() + "' cannot be read (" + Reason(e) + "); it is left out";
  } catch (const std::exception& e) {  // running out of memory on a damaged length, among others
    if (warning) *warning = "the metadata of '" + path.string() + "' cannot be read (" + Reason(e) + "); it is left out";
  }
  return metadata;
}

bool PictureMetadata::empty() const { return !records_; }

int PictureMetadata::orientation() const { return records_ ? records_->orientation : 1; }

bool PictureMetadata::turnedByDecoder() const { return records_ && records_->turnedByDecoder; }

std::pair<long long, long long> MetadataPixelSize(const std::filesystem::path& path) {
  PrepareLibrary();
  try {
    auto image = Exiv2::ImageFactory::open(path.string(), false);
    image->readMetadata();
    return {image->pixelHeight(), image->pixelWidth()};
  } catch (const std::exception&) {
    return {0, 0};  // nothing declared that the library can read: the decoder decides
  }
}

const std::vector<unsigned char>& PictureMetadata::iccProfile() const {
  static const std::vector<unsigned char> kNone;
  return records_ ? records_->icc : kNone;
}

std::vector<unsigned char> PictureMetadata::AddTo(std::vector<unsigned char> encoded, const std::string& extension,
                                                  std::string* warning) const {
  const std::string format = Lower(extension);
  const bool holdsMetadata =
      format == ".jpg" || format == ".jpeg" || format == ".png" || format == ".tif" || format == ".tiff";
  if (!records_ || !holdsMetadata || encoded.empty()) return encoded;
  PrepareLibrary();
  try {
    auto image = Exiv2::ImageFactory::open(encoded.data(), static_cast<long>(encoded.size()));
    image->readMetadata();
    image->setExifData(ExifForResult(records_->exif, image->pixelWidth(), image->pixelHeight()));
    image->setXmpData(XmpForResult(records_->xmp));
    image->setIptcData(records_->iptc);
    const bool png = format == ".png";
    if (!records_->icc.empty() && !png) {
      Exiv2::DataBuf icc(records_->icc.data(), static_cast<long>(records_->icc.size()));
      image->setIccProfile(icc, false);
    }
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    if (io.open() != 0) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, "memory");
    const Exiv2::DataBuf written = io.read(static_cast<long>(io.size()));
    io.close();
    if (written.size_ <= 0) throw Exiv2::Error(Exiv2::kerFailedToReadImageData);
    std::vector<unsigned char> result(written.pData_, written.pData_ + written.size_);
    return png && !records_->icc.empty() ? WithPngProfile(result, records_->icc) : result;
  } catch (const std::exception& e) {
    if (warning) *warning = "the metadata cannot be written into the " + format + " result (" + Reason(e) + "); it is left out";
  }
  return encoded;
}

}  // namespace velmora::io
