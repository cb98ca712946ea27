// Whole-or-nothing writes as the engine makes them (the picture library's
// staged files and the transform wisdom are built on them): what a failure
// at each step leaves behind, and writers racing for one target or for the
// process's umask.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/plan_cache.h"
#include "pipeline/spectral.h"
#include "pipeline/staged_write.h"

namespace {

namespace fs = std::filesystem;
using velmora::StagedWrite;
using velmora::WriteStaged;

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "velmora-staged-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  // Sorted names of the entries in the folder.
  std::vector<std::string> Entries(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_ / sub)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::span<const unsigned char> Bytes(const std::string& text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

using Names = std::vector<std::string>;

}  // namespace

TEST(StagedWrites, TheTemporaryIsHiddenBesideTheTargetUntilCommitted) {
  const Scratch folder;
  Put(folder / "out.tif", "old");
  StagedWrite staged(folder / "out.tif");
  ASSERT_EQ(staged.error(), 0);
  const fs::path temporary = staged.temporary();
  EXPECT_EQ(temporary.parent_path(), folder.path());
  EXPECT_EQ(temporary.extension(), ".tif");
  EXPECT_EQ(temporary.filename().string().rfind(".out.partial-", 0), 0u) << temporary;
  ASSERT_EQ(staged.Write(Bytes("new ")), 0);
  ASSERT_EQ(staged.Write(Bytes("text")), 0);
  EXPECT_EQ(Read(folder / "out.tif"), "old");  // nothing shows before the rename
  ASSERT_EQ(staged.Commit(), 0);
  EXPECT_EQ(Read(folder / "out.tif"), "new text");
  EXPECT_FALSE(fs::exists(temporary));
  EXPECT_EQ(folder.Entries(), Names{"out.tif"});
}

TEST(StagedWrites, AFolderThatCannotTakeTheFileCreatesNothing) {
  const Scratch folder;
  StagedWrite staged(folder / "missing" / "out.png");
  EXPECT_EQ(staged.error(), ENOENT);
  EXPECT_TRUE(staged.temporary().empty());
  EXPECT_EQ(staged.Write(Bytes("x")), ENOENT);
  EXPECT_EQ(staged.Commit(), ENOENT);
  EXPECT_EQ(WriteStaged(folder / "missing" / "out.png", Bytes("x")), ENOENT);
  EXPECT_TRUE(folder.Entries().empty());
}

// A write cut short (here by a file-size limit, as a full disk would) and a
// rename refused (the target is a folder) both leave the target as it was
// and no temporary file once the writer is gone.
TEST(StagedWrites, FailedWritesAndRenamesLeaveTheOldTargetAndNoTemporary) {
  const Scratch folder;
  const std::string old(10000, 'o');
  Put(folder / "out.bin", old);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of the end of the process
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int cut = WriteStaged(folder / "out.bin", Bytes(std::string(8192, 'n')));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(cut, EFBIG);
  EXPECT_EQ(Read(folder / "out.bin"), old);
  EXPECT_EQ(folder.Entries(), Names{"out.bin"});

  fs::create_directory(folder / "taken");
  {
    StagedWrite staged(folder / "taken");
    ASSERT_EQ(staged.Write(Bytes("text")), 0);
    EXPECT_EQ(staged.Commit(), EISDIR);
    EXPECT_TRUE(fs::exists(staged.temporary()));  // until the writer goes
  }
  EXPECT_TRUE(fs::is_directory(folder / "taken"));
  EXPECT_EQ(folder.Entries(), (Names{"out.bin", "taken"}));
}

TEST(StagedWrites, DiscardingRemovesTheTemporaryAtOnceAndCommitsNothing) {
  const Scratch folder;
  StagedWrite staged(folder / "out.png");
  ASSERT_EQ(staged.Write(Bytes("abc")), 0);
  staged.Discard();
  EXPECT_FALSE(staged.open());
  EXPECT_TRUE(folder.Entries().empty());
  EXPECT_EQ(staged.Write(Bytes("abc")), EBADF);
  EXPECT_NE(staged.Commit(), 0);
  EXPECT_TRUE(folder.Entries().empty());
}

// Writers on several threads: each target ends as one writer's text whole,
// no temporary file stays, the files get the permissions the umask allows
// (not the owner-only ones of a fresh temporary file), and the umask, which
// is read by setting it, is still the process's afterwards.
TEST(StagedWrites, ConcurrentWritersDoNotMixTheirTextAndGetTheUsualPermissions) {
  const Scratch folder;
  const mode_t previous = ::umask(027);
  std::vector<std::string> texts;
  for (int t = 0; t < 4; ++t) texts.push_back(std::string(20000 + t, static_cast<char>('a' + t)));
  std::vector<std::thread> writers;
  std::vector<int> failures(texts.size(), 0);
  for (size_t t = 0; t < texts.size(); ++t)
    writers.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) {
        if (WriteStaged(folder / "shared.txt", Bytes(texts[t])) != 0) ++failures[t];
        if (WriteStaged(folder / ("own" + std::to_string(t)), Bytes(texts[t])) != 0) ++failures[t];
      }
    });
  for (std::thread& w : writers) w.join();
  const mode_t after = ::umask(previous);
  EXPECT_EQ(after, 027);
  EXPECT_EQ(failures, std::vector<int>(texts.size(), 0));
  EXPECT_NE(std::find(texts.begin(), texts.end(), Read(folder / "shared.txt")), texts.end());
  EXPECT_EQ(folder.Entries(), (Names{"own0", "own1", "own2", "own3", "shared.txt"}));
  EXPECT_EQ(fs::status(folder / "own0").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// The transform wisdom goes through the same writes: a save that fails
// keeps the wisdom owed, and the next save writes it.
TEST(StagedWrites, AFailedWisdomSaveIsRetriedAndLeavesNoTemporary) {
  const Scratch folder;
  setenv("XDG_CACHE_HOME", (folder / "cache").c_str(), 1);
  const fs::path wisdom = velmora::WisdomPath();
  fs::create_directories(wisdom);  // in the way of the rename
  const int rows = 43, cols = 61;  // a size nothing else here plans
  velmora::FloatArray plane(velmora::GridSize(rows, cols));
  std::fill(plane.get(), plane.get() + plane.size(), 0.5f);
  velmora::ComplexArray spectrum(velmora::GridSize(rows, velmora::HalfCols(cols)));
  velmora::RealFft2d(plane.get(), spectrum.get(), rows, cols);
  ASSERT_GT(velmora::PendingTransformCount(), 0u);
  velmora::MeasurePendingTransforms(60.0);
  ASSERT_EQ(velmora::PendingTransformCount(), 0u);
  EXPECT_TRUE(fs::is_directory(wisdom));
  EXPECT_EQ(folder.Entries("cache/velmora"), (Names{"fftw-wisdom", "planning-credit"}));
  EXPECT_EQ(Read(wisdom.parent_path() / "planning-credit"), "0\n");

  fs::remove(wisdom);
  velmora::SaveTransformWisdom();
  ASSERT_TRUE(fs::is_regular_file(wisdom));
  EXPECT_NE(Read(wisdom).find("fftw"), std::string::npos);
  EXPECT_EQ(folder.Entries("cache/velmora"), (Names{"fftw-wisdom", "planning-credit"}));
}
