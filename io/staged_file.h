// Files that appear whole or not at all, for the front ends: the engine's
// StagedWrite with its failures as IoErrors, and every temporary file on
// record for an interrupt that must remove it. A reader never sees a
// partial file, and a failure leaves the target as it was.
#pragma once

#include <filesystem>
#include <span>

#include "pipeline/staged_write.h"

namespace velmora::io {

class StagedFile {
 public:
  // Reserves a fresh temporary name beside target, keeping target's
  // extension (encoders choose the format by it). Throws an IoError when the
  // folder cannot take it.
  explicit StagedFile(const std::filesystem::path& target);
  ~StagedFile();  // removes the temporary file unless committed

  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  const std::filesystem::path& temporary() const { return staged_.temporary(); }
  const std::filesystem::path& target() const { return staged_.target(); }

  // Writes all bytes to the temporary file and flushes them to the disk.
  void Write(std::span<const unsigned char> bytes);

  // Closes the temporary file so that others may write it by name.
  void Close();

  // True when something has been written to the temporary file.
  bool HasContent() const;

  // Renames the temporary file onto the target.
  void Commit();

 private:
  StagedWrite staged_;
};

// The staging files that exist now, for a signal handler that must remove
// them without unwinding: it may call this, which only unlinks.
void RemoveStagingFilesNow();

// Writes bytes to target through a StagedFile.
void WriteFileAtomically(const std::filesystem::path& target, std::span<const unsigned char> bytes);

}  // namespace velmora::io
