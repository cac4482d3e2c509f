// The version line and document, and the version this build was given: the
// project's version from CMake, the commit short and hexadecimal or absent.
#include <algorithm>

#include "jsonvalue.h"
#include "tool_test_support.h"
#include "version.h"

namespace {

TEST(Version, LineAndDocumentShowTheCommitOnlyWhenKnown) {
  const struct {
    qm::TBuildId build;
    std::string line, document;
  } rows[] = {
      {{"1.1.0", "abc1234"}, "Quillmap 1.1.0 (abc1234)", R"({"format":1,"version":"1.1.0","commit":"abc1234"})"},
      {{"1.1.0", ""}, "Quillmap 1.1.0", R"({"format":1,"version":"1.1.0"})"},
      {{"2.0.10", "0123456789ab"}, "Quillmap 2.0.10 (0123456789ab)",
       R"({"format":1,"version":"2.0.10","commit":"0123456789ab"})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(qm::VersionLine(row.build), row.line);
    EXPECT_EQ(qm::VersionDocument(row.build).dump(), row.document);
  }
}

TEST(Version, ThisBuildCarriesTheProjectVersion) {
  EXPECT_EQ(qm::ThisBuild().Version, QM_PROJECT_VERSION);
  const std::string& commit = qm::ThisBuild().Commit;
  const bool hex = std::all_of(commit.begin(), commit.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
  EXPECT_TRUE(commit.empty() || (hex && commit.size() >= 7 && commit.size() <= 40)) << commit;
}

} // namespace
