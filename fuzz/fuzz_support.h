// What the fuzz targets share: the input bytes as a file, for the readers
// that take a path.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <filesystem>
#include <fstream>
#include <string>

namespace velmora::fuzz {

inline const std::filesystem::path& ScratchPath() {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("velmora-fuzz-" + std::to_string(::getpid()));
  return path;
}

// Writes the bytes to this process's scratch file and returns its path; the
// file is removed when the process ends.
inline const std::filesystem::path& ScratchFile(const uint8_t* data, size_t size) {
  static const bool removedAtExit = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove(ScratchPath(), ignored);
  }) == 0;
  (void)removedAtExit;
  std::ofstream(ScratchPath(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return ScratchPath();
}

}  // namespace velmora::fuzz
