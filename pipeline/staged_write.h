// Files that appear whole or not at all: bytes go to a temporary file in the
// target's folder, are flushed to the disk, and the temporary file is renamed
// onto the target only once complete. A reader never sees a partial file, and
// a failure leaves the target as it was.
//
// Failures come back as errno values rather than exceptions: the engine's
// caches give up quietly on them, and the picture library words its own
// errors for the user.
#pragma once

#include <filesystem>
#include <span>

namespace velmora {

class StagedWrite {
 public:
  // Creates a fresh temporary file beside target, hidden and named after it,
  // keeping target's extension (encoders choose the format by it). When the
  // folder cannot take it, error() tells why and nothing is created.
  explicit StagedWrite(const std::filesystem::path& target);
  ~StagedWrite();  // removes the temporary file unless committed

  StagedWrite(const StagedWrite&) = delete;
  StagedWrite& operator=(const StagedWrite&) = delete;

  // 0 once the temporary file exists, else the errno of its creation.
  int error() const { return error_; }
  const std::filesystem::path& temporary() const { return temporary_; }
  const std::filesystem::path& target() const { return target_; }
  bool open() const { return descriptor_ >= 0; }

  // Writes all bytes to the temporary file and flushes them to the disk:
  // 0, or the errno of the failure.
  int Write(std::span<const unsigned char> bytes);

  // Closes the temporary file so that others may write it by name.
  void Close();

  // Closes the temporary file and renames it onto the target: 0, or the
  // errno of the failure, after which the temporary file is still removed
  // at the end.
  int Commit();

  // Removes the temporary file now unless committed, for callers that must
  // know it gone before they forget its name.
  void Discard();

 private:
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  int descriptor_ = -1;
  int error_ = 0;
  bool committed_ = false;
  bool discarded_ = false;
};

// Writes bytes to target through a StagedWrite: 0, or the errno of the step
// that failed (the target is then as it was, and no temporary file is left).
int WriteStaged(const std::filesystem::path& target, std::span<const unsigned char> bytes);

}  // namespace velmora
