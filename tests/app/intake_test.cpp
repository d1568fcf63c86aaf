#include "app/intake.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::string>;

class IntakeTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "intake-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Root = fs::canonical(pattern).string();
  }
  void TearDown() override { fs::remove_all(Root); }
  std::string Dir(const std::string& rel) {
    fs::create_directories(Root + "/" + rel);
    return Root + "/" + rel;
  }
  std::string File(const std::string& rel) {
    const std::string path = Root + "/" + rel;
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    EXPECT_GE(fd, 0) << path;
    close(fd);
    return path;
  }

  std::string Root;
};

TEST_F(IntakeTree, FilesAreTakenAsGivenWhenTheirExtensionIsAPicture) {
  const std::string a = File("a.JPG");
  const std::string b = File("b.txt");
  const std::string c = File("c.Bmp");
  const std::string d = File("d.jpeg");
  const std::string e = File("e.jpe");
  const std::string f = File("f.jfif");

  EXPECT_EQ(BuildJobList({a, b, c}), (Paths{a, c}));
  // Duplicates stay; missing, empty and non-picture paths vanish without a trace.
  EXPECT_EQ(BuildJobList({d, Root + "/missing.jpg", "", e, f, d, a + "/"}), (Paths{d, d}));
  // A relative argument is kept exactly as written.
  const fs::path cwd = fs::current_path();
  fs::current_path(Root);
  const Paths relative = BuildJobList({"a.JPG", "./c.Bmp"});
  fs::current_path(cwd);
  EXPECT_EQ(relative, (Paths{"a.JPG", "./c.Bmp"}));
  // No length limit: a path far beyond the old 260-byte buffer still works.
  std::string deep = "d";
  while (deep.size() < 400) deep += "/subfolder";
  Dir(deep);
  const std::string longFile = File(deep + "/long.bmp");
  EXPECT_EQ(BuildJobList({longFile}), Paths{longFile});
}

TEST_F(IntakeTree, FoldersContributeAllBmpThenAllJpgThenAllJpeg) {
  const std::string p = Dir("P");
  Dir("P/sub");
  File("P/y.jpg");
  File("P/x.bmp");
  File("P/sub/z.bmp");
  File("P/sub/w.JPEG");
  File("P/notes.txt");
  const std::string pic = Dir("pic.jpg");
  File("pic.jpg/inner.bmp");

  const Paths tree{p + "/x.bmp", p + "/sub/z.bmp", p + "/y.jpg", p + "/sub/w.JPEG"};
  EXPECT_EQ(BuildJobList({p}), tree);
  EXPECT_EQ(BuildJobList({p + "/"}), tree);
  // A folder whose name looks like a picture is searched, not taken.
  EXPECT_EQ(BuildJobList({pic}), Paths{pic + "/inner.bmp"});

  // A relative folder is reported as a full path; files and folders mix in order.
  const fs::path cwd = fs::current_path();
  fs::current_path(Root);
  const Paths mixed = BuildJobList({"P/y.jpg", "pic.jpg", "P/x.bmp"});
  fs::current_path(cwd);
  EXPECT_EQ(mixed, (Paths{"P/y.jpg", pic + "/inner.bmp", "P/x.bmp"}));
}

TEST(Intake, ModeFollowsTheJobCount) {
  EXPECT_EQ(DecideMode(0), RunMode::None);
  EXPECT_EQ(DecideMode(1), RunMode::Single);
  EXPECT_EQ(DecideMode(2), RunMode::Batch);
  EXPECT_EQ(DecideMode(1000), RunMode::Batch);
}

}  // namespace
