// The size a picture file declares in its header, read without decoding
// it: a picture too large to restore is refused before its pixels take any
// memory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace velmora::io {

struct PictureSize {
  long long rows = 0, cols = 0;
};

// The size declared by a PNG, JPEG or BMP header, or what the metadata
// library reads for other formats (TIFF among them); empty when the file
// declares none it can find.
std::optional<PictureSize> DeclaredPictureSize(const std::filesystem::path& path);

// Whether the file starts as a picture format the program reads: JPEG,
// PNG, TIFF, BMP, WebP, JPEG 2000, the portable any-maps (PBM to PAM, PFM),
// Sun raster, Radiance HDR or OpenEXR. Others the image library would also
// try (medical DICOM among them) are no photographs and are not decoded.
bool IsPictureFormat(const std::filesystem::path& path);

// The most pixels a picture may have: well above any camera's, and what a
// job on it needs (some hundred bytes a pixel) still within a large
// workstation's memory.
inline constexpr long long kLargestPicturePixels = 250'000'000;

// Throws an IoError (bad input) naming the size when the file declares
// more than kLargestPicturePixels pixels; `what` names the file in the
// message ("the picture 'x.png'").
void CheckDeclaredSize(const std::filesystem::path& path, const std::string& what);

}  // namespace velmora::io
