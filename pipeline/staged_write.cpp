#include "pipeline/staged_write.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

namespace fs = std::filesystem;

namespace {

// mkstemps creates files readable by the owner only; a result should carry
// the permissions any newly created file gets. The umask can only be read by
// setting it: two threads doing so at once could leave it at 0 for good, so
// they take turns.
mode_t NewFileMode() {
  static std::mutex turns;
  std::lock_guard<std::mutex> guard(turns);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

StagedWrite::StagedWrite(const fs::path& target) : target_(target) {
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const std::string extension = target.extension().string();
  std::string hidden(".");
  hidden += target.stem().string();
  hidden += ".partial-XXXXXX";
  hidden += extension;
  const std::string pattern = (folder / hidden).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  descriptor_ = ::mkstemps(name.data(), static_cast<int>(extension.size()));
  if (descriptor_ < 0) {
    error_ = errno;
    return;
  }
  temporary_ = name.data();
  ::fchmod(descriptor_, NewFileMode());
}

StagedWrite::~StagedWrite() { Discard(); }

int StagedWrite::Write(std::span<const unsigned char> bytes) {
  if (error_) return error_;
  if (descriptor_ < 0) return EBADF;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(descriptor_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    // A write that takes nothing would repeat for ever: the disk is full.
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    done += static_cast<size_t>(n);
  }
  return ::fsync(descriptor_) == 0 ? 0 : errno;
}

void StagedWrite::Close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

int StagedWrite::Commit() {
  if (error_) return error_;
  if (committed_) return 0;
  // Some file systems report a failed write only when the file is closed.
  if (descriptor_ >= 0) {
    const int closed = ::close(descriptor_);
    descriptor_ = -1;
    if (closed != 0) return errno;
  }
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return errno;
  committed_ = true;
  return 0;
}

void StagedWrite::Discard() {
  Close();
  if (committed_ || discarded_ || temporary_.empty()) return;
  ::unlink(temporary_.c_str());
  discarded_ = true;
}

int WriteStaged(const fs::path& target, std::span<const unsigned char> bytes) {
  StagedWrite staged(target);
  if (const int error = staged.Write(bytes)) return error;
  return staged.Commit();
}

}  // namespace velmora
