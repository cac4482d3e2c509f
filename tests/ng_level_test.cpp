// Levels built with the TRNG editor, in both forms of their sound map: the
// demo data count holding the number of map entries, and a count of 0 before
// the standard 740-byte map (older builds). Run through the real program: the
// report, an unchanged save and an edit, against the builder's bytes.
#include "binary_run.h"
#include "tool_test_support.h"
#include "trlevel.h"

using namespace qmtest;

namespace {

struct NgForm {
  const char* Name;
  void (*Apply)(BLevel&);
};

const NgForm kForms[] = {
    {"counted sound map", [](BLevel& L) { SetNgTrailer(L, 2048, 40); }},
    {"standard sound map, count 0", [](BLevel& L) { SetNgTrailerWithStandardMap(L, 40); }},
    {"standard sound map, no raw tail", [](BLevel& L) { SetNgTrailerWithStandardMap(L, 300), L.rawTail.clear(); }},
};

BLevel NgLevel(const NgForm& form) {
  BLevel L = SampleLevel(6, 3);
  FillPages(L, 0, 3, 500);  // small chunks keep the saves quick
  L.trailingBytes = Bytes(6, 0);
  form.Apply(L);
  return L;
}

class NgLevelRun : public ::testing::Test {
protected:
  std::string Run(const std::vector<std::string>& args, int expectedStatus = 0) {
    const BinaryRun run = RunBinary(scratch_.path, QM_TOOL_PATH, args);
    EXPECT_EQ(run.status, expectedStatus);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.substr(0, kBanner.size()), kBanner);
    return run.out.substr(std::min(run.out.size(), kBanner.size()));
  }
  ScratchDir scratch_;
};

TEST_F(NgLevelRun, ReportSaveAndEditInEitherSoundMapForm) {
  const std::string saved = Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...", "Done."});
  for (const NgForm& form : kForms) {
    SCOPED_TRACE(form.Name);
    const BLevel L = NgLevel(form);
    const Bytes file = Build(L);
    const fs::path p = scratch_.path / "ng.tr4";
    WriteBytes(p, file);
    EXPECT_EQ(Run({"ng.tr4", "/Info"}), ReportText("TR4", {3, 0, 5, 2, 5, 2, 3, 6, 6, 6, 8, 5, 4, 2}));

    // Read and written again unchanged: the same level data, count field and
    // map included, and the same trailer.
    qm::Ttrlevel M;
    ASSERT_EQ(M.ParseLevel(file.data(), file.size(), "ng.tr4"), 0);
    EXPECT_TRUE(M.IsNgLevel());
    const Bytes again = AsBytes(M.SerializeLevel());
    EXPECT_EQ(Diff(again, file, 6), "");
    EXPECT_TRUE(again == file) << "chunks compressed as the builder does";

    EXPECT_EQ(Run({"ng.tr4", "/Water", "1", "1", "2"}), saved);
    BLevel after = L;
    for (size_t i : {1u, 2u}) after.rooms[i].flags[0] |= 0x01;
    EXPECT_EQ(Diff(ReadBytes(p), Build(after), 6), "");
  }
}

}  // namespace
