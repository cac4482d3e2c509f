// The file view a level is read through: whatever order the bytes are asked
// for in (forward in steps smaller and larger than the window, overlapping the
// last range, back to the start again, large copies straight from the file),
// they are the file's bytes.
#include <cstring>
#include <random>

#include "fileview.h"
#include "platform.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

TEST(FileView, EveryWayOfReadingGivesTheFilesBytes) {
  ScratchDir dir;
  Bytes content(3'000'001);
  std::mt19937 rng(7);
  for (uint8_t& b : content) b = uint8_t(rng());
  WriteBytes(dir.path / "f.bin", content);
  qm::TDiskFile file;
  file.OpenRead((dir.path / "f.bin").string());
  qm::TFileView view;
  view.Open(file, content.size());
  ASSERT_EQ(view.Size(), content.size());

  auto expectAt = [&](size_t from, size_t n) {
    const uint8_t* p = view.Ensure(from, from + n);
    ASSERT_EQ(std::memcmp(p, content.data() + from, n), 0) << "bytes " << from << " to " << from + n;
  };
  // Forward in steps of every size, sometimes releasing what was passed, twice over
  // (the second walk starts again at the beginning).
  for (int walk = 0; walk < 2; ++walk) {
    for (size_t at = 0; at < content.size();) {
      const size_t n = std::min<size_t>(content.size() - at, 1 + rng() % (walk == 0 ? 70'000 : 400'000));
      expectAt(at, n);
      // Sometimes the next range starts inside this one.
      at += rng() % 4 == 0 ? n / 2 : n;
      if (rng() % 3 == 0) view.ReleaseBefore(at);
    }
  }
  // Large copies, some over bytes the view holds and some beyond them.
  view.Ensure(1'000'000, 1'300'000);
  for (const auto& [from, n] : {std::pair<size_t, size_t>{900'000, 500'000}, {1'100'000, 100}, {0, 3'000'001},
                                {2'999'000, 1'001}, {1'299'999, 2}}) {
    Bytes out(n);
    view.CopyOut(from, out.data(), n);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin() + long(from))) << "copy of " << n << " from " << from;
  }
}

}  // namespace
