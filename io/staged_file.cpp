#include "io/staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "io/errors.h"

namespace velmora::io {

namespace fs = std::filesystem;

namespace {

// The staging files that exist, kept where a signal handler can read them:
// a slot's name is written before it is marked used, and read only when
// marked, so the handler never sees half a name.
constexpr int kStagingSlots = 16;
constexpr size_t kPathBytes = 4096;
char g_paths[kStagingSlots][kPathBytes];
std::atomic<bool> g_used[kStagingSlots];

void RegisterStagingFile(const char* path) {
  if (std::strlen(path) >= kPathBytes) return;
  for (int i = 0; i < kStagingSlots; ++i) {
    if (g_used[i].load()) continue;
    std::strcpy(g_paths[i], path);
    g_used[i].store(true);
    return;
  }
}

void UnregisterStagingFile(const char* path) {
  for (int i = 0; i < kStagingSlots; ++i)
    if (g_used[i].load() && std::strcmp(g_paths[i], path) == 0) g_used[i].store(false);
}

std::string Describe(const std::string& what, const fs::path& path, int error) {
  return what + " '" + path.string() + "': " + std::strerror(error);
}

// mkstemp creates files readable by the owner only; a result should carry
// the permissions any newly created file gets.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

StagedFile::StagedFile(const fs::path& target) : target_(target) {
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
  if (descriptor_ < 0) throw BadFile(Describe("cannot create a file in the folder", folder, errno));
  temporary_ = name.data();
  ::fchmod(descriptor_, NewFileMode());
  // A second Ctrl-C ends the process without unwinding: it removes the
  // file by this record.
  RegisterStagingFile(temporary_.c_str());
}

StagedFile::~StagedFile() {
  Close();
  if (!committed_) ::unlink(temporary_.c_str());
  UnregisterStagingFile(temporary_.c_str());
}

void StagedFile::Write(std::span<const unsigned char> bytes) {
  if (descriptor_ < 0) throw IoError(Problem::kInternal, "write to a closed staged file");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(descriptor_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw BadFile(Describe("cannot write", target_, n < 0 ? errno : ENOSPC));
    done += static_cast<size_t>(n);
  }
  if (::fsync(descriptor_) != 0) throw BadFile(Describe("cannot write", target_, errno));
}

void StagedFile::Close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

bool StagedFile::HasContent() const {
  std::error_code error;
  const auto size = fs::file_size(temporary_, error);
  return !error && size > 0;
}

void StagedFile::Commit() {
  Close();
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
    throw BadFile(Describe("cannot write", target_, errno));
  committed_ = true;
  UnregisterStagingFile(temporary_.c_str());
}

void RemoveStagingFilesNow() {
  for (int i = 0; i < kStagingSlots; ++i)
    if (g_used[i].load()) ::unlink(g_paths[i]);
}

void WriteFileAtomically(const fs::path& target, std::span<const unsigned char> bytes) {
  StagedFile staged(target);
  staged.Write(bytes);
  staged.Commit();
}

}  // namespace velmora::io
