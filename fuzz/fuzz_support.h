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

// Writes the bytes to this process's scratch file and returns its path; the
// file is removed when the process ends.
inline const std::filesystem::path& ScratchFile(const uint8_t* data, size_t size) {
  static const std::filesystem::path path = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove(std::filesystem::temp_directory_path() / ("velmora-fuzz-" + std::to_string(::getpid())),
                              ignored);
    });
    return std::filesystem::temp_directory_path() / ("velmora-fuzz-" + std::to_string(::getpid()));
  }();
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                               static_cast<std::streamsize>(size));
  return path;
}

}  // namespace velmora::fuzz
