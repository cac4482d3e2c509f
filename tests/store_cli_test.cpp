// Saving through the real program where the system sets limits: a file-size
// limit, a folder deeper than the path limit, and modification times far from
// today. The levels come from the builder, dry and with the water flag set.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "binary_run.h"
#include "tool_test_support.h"

namespace qmtest {
namespace {

const std::string kWaterSaved =
    Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...", "Done."});

class StoreCliTest : public ::testing::Test {
protected:
  void SetUp() override {
    BLevel level = SampleLevel(5, 2);
    for (BRoom& r : level.rooms) r.flags[0] &= 0xFE;
    dry_ = Build(level);
    for (BRoom& r : level.rooms) r.flags[0] |= 0x01;
    wet_ = Build(level);
  }

  std::vector<std::string> Entries(const fs::path& dir) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
  Bytes dry_, wet_;
};

// A file-size limit below the level's size: the write fails like any other
// (no signal ends the run), the level stays and nothing is left beside it.
TEST_F(StoreCliTest, AFileSizeLimitFailsTheSaveWithAReport) {
  WriteBytes(dir_ / "lvl.tr3", dry_);
  ASSERT_GT(dry_.size(), 64u << 10);
  // The shell's unit is 512 or 1024 bytes: 16 of them is far below the level.
  const BinaryRun run = RunBinary(dir_, "/bin/sh",
                                  {"-c", "ulimit -f 16 && exec \"$0\" \"$@\"", QM_TOOL_PATH, "lvl.tr3", "/Water", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  const std::string head = kBanner + Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...",
                                            "I/O error " + std::to_string(EFBIG) + "."});
  EXPECT_EQ(run.out.substr(0, head.size()), head);
  const std::string place = run.out.substr(std::min(head.size(), run.out.size()));
  EXPECT_EQ(place.substr(0, 8), "writing ") << place;
  EXPECT_NE(place.find(dir_.string()), std::string::npos) << place;
  EXPECT_EQ(ReadBytes(dir_ / "lvl.tr3"), dry_);
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{"lvl.tr3"});
}

// ---- a folder deeper than the path limit ----

constexpr int kDepth = 20, kRunDepth = 8;  // 20 folders of 240 bytes; the run starts 8 deep
const std::string kSegment(240, 'd');

// The names in the folder name of the folder at, sorted; empty when it is no
// folder.
std::vector<std::string> NamesAt(int at, const std::string& name) {
  std::vector<std::string> names;
  const int fd = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
  while (const dirent* e = d ? ::readdir(d) : nullptr)
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
  if (d) ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Removes the folder name in the folder at, with everything in it, by
// descriptor (no full path could reach its depths).
void RemoveTreeAt(int at, const std::string& name) {
  const int fd = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) {
    ::unlinkat(at, name.c_str(), 0);
    return;
  }
  for (const std::string& n : NamesAt(fd, ".")) RemoveTreeAt(fd, n);
  ::close(fd);
  ::unlinkat(at, name.c_str(), AT_REMOVEDIR);
}

Bytes ReadAt(int folder, const std::string& name) {
  Bytes b;
  const int fd = ::openat(folder, name.c_str(), O_RDONLY);
  uint8_t chunk[65536];
  for (ssize_t got; fd >= 0 && (got = ::read(fd, chunk, sizeof chunk)) > 0;) b.insert(b.end(), chunk, chunk + got);
  if (fd >= 0) ::close(fd);
  return b;
}

// Saving a level deeper than the path limit, named relative to a folder
// halfway down: by its own name and through a link beside it.
TEST_F(StoreCliTest, ALevelBeyondThePathLimitIsSavedLikeAnyOther) {
  int folder = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
  fs::path runIn = dir_;
  std::string relative;
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(::mkdirat(folder, kSegment.c_str(), 0755), 0);
    const int inner = ::openat(folder, kSegment.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(inner, 0);
    ::close(folder);
    folder = inner;
    if (i < kRunDepth) runIn /= kSegment;
    else relative += kSegment + "/";
  }
  ASSERT_GT(dir_.string().size() + kDepth * (kSegment.size() + 1), size_t{PATH_MAX});
  ASSERT_LT(runIn.string().size(), size_t{PATH_MAX});
  ASSERT_LT(relative.size() + 20, size_t{PATH_MAX});
  ASSERT_EQ(::symlinkat("lvl.tr3", folder, "link.tr3"), 0);

  for (const std::string name : {"lvl.tr3", "link.tr3"}) {
    SCOPED_TRACE(name);
    const int fd = ::openat(folder, "lvl.tr3", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::write(fd, dry_.data(), dry_.size()), ssize_t(dry_.size()));
    ::close(fd);
    const BinaryRun run = RunBinary(runIn, QM_TOOL_PATH, {relative + name, "/Water", "1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + kWaterSaved);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadAt(folder, "lvl.tr3"), wet_);
    struct stat st {};
    EXPECT_EQ(::fstatat(folder, "link.tr3", &st, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(NamesAt(folder, "."), (std::vector<std::string>{"link.tr3", "lvl.tr3"}));
  }
  ::close(folder);
  const int top = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
  RemoveTreeAt(top, kSegment);
  ::close(top);
}

// ---- modification times far from today ----

// A level last modified long before 1970 or after 2262 (beyond a count of
// nanoseconds in 64 bits) loads and saves; the check that nobody else saved it
// meanwhile compares such times as well as any other.
TEST_F(StoreCliTest, ALevelWithAFarModificationTimeIsSaved) {
  const struct {
    const char* what;
    timespec time;
  } rows[] = {
      {"2300-01-01", {10'413'792'000, 123'456'789}},
      {"2446-05-10", {15'032'385'535, 999'999'999}},
      {"1906-08-16", {-2'000'000'000, 5}},
      {"1970-01-01", {0, 0}},
  };
  const fs::path level = dir_ / "lvl.tr3";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteBytes(level, dry_);
    const timespec times[2] = {row.time, row.time};
    ASSERT_EQ(::utimensat(AT_FDCWD, level.c_str(), times, 0), 0);
    struct stat st {};
    ASSERT_EQ(::stat(level.c_str(), &st), 0);
    if (st.st_mtim.tv_sec != row.time.tv_sec) {
      std::cout << "This file system cannot keep the time " << row.what << "\n";
      continue;
    }
    const BinaryRun run = RunBinary(dir_, QM_TOOL_PATH, {"lvl.tr3", "/Water", "1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + kWaterSaved);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadBytes(level), wet_);
  }
}

}  // namespace
}  // namespace qmtest
