// Replays every input in tests/regressions/ through the fuzz target that once
// found a fault with it. A file is named <target>-<name>.bin after its target;
// level inputs go through both the load and the load-save-load path. Also a
// bound on the memory one hostile size field can claim.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../fuzz/harness.h"
#include "../fuzz/picture_harness.h"
#include "levelbuilder.h"
#include "zblocks.h"

namespace qmtest {
namespace {

using Runner = std::string (*)(const uint8_t*, size_t);

std::vector<Runner> RunnersFor(const std::string& target) {
    if (target == "fuzz_load" || target == "fuzz_roundtrip") return {FuzzLoad, FuzzRoundtrip};
    if (target == "fuzz_container") return {FuzzContainer};
    if (target == "fuzz_number") return {FuzzNumber};
    if (target == "fuzz_picture") return {FuzzPicture};
    return {};
}

TEST(Regression, EveryKeptFuzzInputIsHandledSoundly) {
    const fs::path dir = fs::path(__FILE__).parent_path() / "regressions";
    std::vector<fs::path> inputs;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file() && entry.path().extension() == ".bin") inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
        const std::string name = input.filename().string();
        SCOPED_TRACE(name);
        const std::vector<Runner> runners = RunnersFor(name.substr(0, name.find('-')));
        EXPECT_FALSE(runners.empty()) << "the name does not start with a fuzz target's name";
        const FuzzBytes bytes = ReadFuzzFile(input.string());
        for (Runner run : runners) EXPECT_EQ(run(bytes.data(), bytes.size()), "");
    }
}

// The fuzz targets' properties on levels of every kind as the seeds hold them:
// plain, with bytes after the level data, in the container, NG, the level data
// alone, and edited.
TEST(Regression, BuiltLevelsKeepTheRoundTripProperties) {
    static const uint8_t selectors[9] = {0, 0, 1, 2, 3, 2, 4, 5, 5};
    for (int kind = 1; kind <= 8; ++kind) {
        BLevel level = SampleLevel(kind, unsigned(kind) + 40);
        FillPages(level, 1, unsigned(kind), 700);
        level.trailingBytes = {1, 2, 3};
        std::vector<Bytes> files = {Build(level), WrapZlib(Build(level)), Build(EmptyLevel(KindFromInt(kind)))};
        if (kind >= 6) {
            BLevel extra = level;  // a 32-bit page more than the page count: refused, never cut
            extra.textiles32.resize(2 * 262144, 0x5A);
            files.push_back(Build(extra));
        }
        if (kind == 6 || kind == 7) {
            SetNgTrailer(level, 9, 20, 3);
            files.push_back(Build(level));
        }
        for (size_t f = 0; f < files.size(); ++f)
            for (const bool edit : {false, true}) {
                SCOPED_TRACE("kind " + std::to_string(kind) + ", file " + std::to_string(f) + (edit ? ", edited" : ""));
                FuzzBytes input = {selectors[kind]};
                input.insert(input.end(), files[f].begin(), files[f].end());
                input.push_back(edit ? 1 : 2);  // the last byte's parity chooses
                EXPECT_EQ(FuzzLoad(input.data(), input.size()), "");
                EXPECT_EQ(FuzzRoundtrip(input.data(), input.size()), "");
            }
        if (kind >= 6) {
            FuzzBytes input = {uint8_t((kind == 8 ? 192 : 132) + selectors[kind])};
            const Bytes data = BuildLevelData(level);
            input.insert(input.end(), data.begin(), data.end());
            EXPECT_EQ(FuzzRoundtrip(input.data(), input.size()), "") << "level data alone, kind " << kind;
        }
    }
}

// The picture target's properties on every form its seeds hold: each colour
// type and bit depth, plain and interlaced, read as it is, with its check
// sums set right, and as the choices of a sound picture (which must be read).
TEST(Regression, BuiltPicturesKeepThePictureTargetsProperties) {
    for (uint8_t form = 0; form < 15; ++form)
        for (const bool interlaced : {false, true}) {
            SCOPED_TRACE("form " + std::to_string(form) + (interlaced ? ", interlaced" : ""));
            PictureBytes input = {2, form, uint8_t(interlaced ? 7 : 6), 2, 0, 1, 2, 3};
            EXPECT_EQ(FuzzPicture(input.data(), input.size()), "");
            PictureBytes file;
            ASSERT_TRUE(BuildPicture(input.data() + 1, input.size() - 1, file));
            for (const uint8_t mode : {0, 1}) {
                input = {mode};
                input.insert(input.end(), file.begin(), file.end());
                EXPECT_EQ(FuzzPicture(input.data(), input.size()), "");
            }
        }
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// 2 MiB that does not compress, stated as a 2 GiB block: the stated size may
// size the first output block only modestly, never by the claim.
TEST(Regression, LyingSizeFieldDoesNotSizeTheOutputBlock) {
    FuzzBytes data(2u << 20);
    uint32_t x = 12345;
    for (uint8_t& b : data) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    const FuzzBytes packed = Plain(qm::CompressBlock(data.data(), data.size()));
    const long before = PeakRssKiB();
    EXPECT_EQ(Plain(qm::DecompressBlock(packed.data(), packed.size(), INT32_MAX)), data);
    EXPECT_LT(PeakRssKiB() - before, 512L * 1024) << "peak memory grew by more than 512 MiB";
}

} // namespace
} // namespace qmtest
