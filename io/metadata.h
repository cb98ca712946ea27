// What a picture file says about itself beyond its pixels: its EXIF, XMP
// and IPTC records and its colour profile, carried over to the restored
// picture.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::io {

class PictureMetadata {
 public:
  PictureMetadata();  // none at all
  ~PictureMetadata();
  PictureMetadata(const PictureMetadata&);
  PictureMetadata& operator=(const PictureMetadata&);

  // The metadata of the picture file at `path`. A file whose metadata
  // cannot be parsed gives none, and *warning (when given) says why; a
  // format that holds no metadata gives none and no warning.
  static PictureMetadata Read(const std::filesystem::path& path, std::string* warning);

  bool empty() const;
  // The EXIF orientation, 1 to 8; 1 when there is none.
  int orientation() const;
  // Whether the picture file is one the picture decoder turns upright by
  // itself (JPEG and TIFF); others are turned by the reader.
  bool turnedByDecoder() const;
  // The embedded ICC profile, byte for byte; empty when there is none.
  const std::vector<unsigned char>& iccProfile() const;

  // `encoded`, a picture encoded in the format of `extension`, with this
  // metadata written into it: orientation 1 (the pixels are upright), the
  // software named, the thumbnail of the blurred picture left out, the
  // pixel dimensions those of the picture. Without metadata, or for a
  // format that holds none (BMP), `encoded` comes back unchanged. When the
  // metadata cannot be written the picture comes back without it and
  // *warning (when given) says why.
  std::vector<unsigned char> AddTo(std::vector<unsigned char> encoded, const std::string& extension,
                                   std::string* warning) const;

 private:
  struct Records;
  std::shared_ptr<const Records> records_;  // shared: the records never change once read
};

// The pixel size (rows, cols) the metadata library reads from a picture
// file's header, for formats the header reader does not parse itself (TIFF
// among them); (0, 0) when it finds none.
std::pair<long long, long long> MetadataPixelSize(const std::filesystem::path& path);

// The name written as the software of restored pictures.
std::string SoftwareName();

}  // namespace velmora::io
