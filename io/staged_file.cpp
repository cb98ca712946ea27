#include "io/staged_file.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <system_error>

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

}  // namespace

StagedFile::StagedFile(const fs::path& target) : staged_(target) {
  if (staged_.error()) {
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    throw BadFile(Describe("cannot create a file in the folder", folder, staged_.error()));
  }
  // A second Ctrl-C ends the process without unwinding: it removes the
  // file by this record.
  RegisterStagingFile(staged_.temporary().c_str());
}

StagedFile::~StagedFile() {
  // Removed before its record goes, so that an interrupt in between still
  // finds it.
  staged_.Discard();
  UnregisterStagingFile(staged_.temporary().c_str());
}

void StagedFile::Write(std::span<const unsigned char> bytes) {
  if (!staged_.open()) throw IoError(Problem::kInternal, "write to a closed staged file");
  if (const int error = staged_.Write(bytes)) throw BadFile(Describe("cannot write", target(), error));
}

void StagedFile::Close() { staged_.Close(); }

bool StagedFile::HasContent() const {
  std::error_code error;
  const auto size = fs::file_size(temporary(), error);
  return !error && size > 0;
}

void StagedFile::Commit() {
  if (const int error = staged_.Commit()) throw BadFile(Describe("cannot write", target(), error));
  UnregisterStagingFile(staged_.temporary().c_str());
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
