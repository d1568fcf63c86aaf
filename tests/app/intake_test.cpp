#include "app/intake.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/tempfolder.h"

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

namespace {

class IntakeTree : public ::testing::Test {
 protected:
  void SetUp() override {
    R = fs::canonical(folder.Root()).string();  // compared with getcwd's paths
  }
  void Make(const Paths& entries) { MakeTree(R, entries); }
  // The job list for arguments relative to R, as the program would see them
  // when started there.
  Paths RelativeJobs(const Paths& arguments) {
    const fs::path cwd = fs::current_path();
    fs::current_path(R);
    Paths jobs = BuildJobList(arguments);
    fs::current_path(cwd);
    return jobs;
  }

  TempFolder folder{"intake"};
  std::string R;
};

TEST_F(IntakeTree, PictureFilesAreTakenAsWritten) {
  Make({"a.JPG", "b.txt", "c.Bmp", "d.jpeg", "e.jpe", "f.jfif"});
  EXPECT_EQ(BuildJobList({R + "/a.JPG", R + "/b.txt", R + "/c.Bmp"}),
            (Paths{R + "/a.JPG", R + "/c.Bmp"}));
  // Duplicates stay; missing, empty and other paths vanish without a trace.
  EXPECT_EQ(RelativeJobs({"d.jpeg", "missing.jpg", "", "e.jpe", "f.jfif", "./d.jpeg", "a.JPG/"}),
            (Paths{"d.jpeg", "./d.jpeg"}));
  // No length limit: a path of over 400 bytes is taken whole.
  std::string deep = "d";
  while (deep.size() < 400) deep += "/subfolder";
  Make({deep + "/", deep + "/long.bmp"});
  EXPECT_EQ(BuildJobList({R + "/" + deep + "/long.bmp"}), Paths{R + "/" + deep + "/long.bmp"});
}

TEST_F(IntakeTree, FoldersGiveAllBmpThenAllJpgThenAllJpegAsFullPaths) {
  Make({"P/sub/", "P/y.jpg", "P/x.bmp", "P/sub/z.bmp", "P/sub/w.JPEG", "P/notes.txt", "pic.jpg/",
        "pic.jpg/inner.bmp", "P/album.jpg/"});
  const std::string p = R + "/P";
  // The subfolder album.jpg is walked but is no job.
  const Paths tree{p + "/x.bmp", p + "/sub/z.bmp", p + "/y.jpg", p + "/sub/w.JPEG"};
  EXPECT_EQ(BuildJobList({p}), tree);
  EXPECT_EQ(RelativeJobs({"P/"}), tree);
  // A folder named like a picture is searched, not taken; order of arguments holds.
  EXPECT_EQ(RelativeJobs({"P/y.jpg", "pic.jpg", "P/x.bmp"}),
            (Paths{"P/y.jpg", R + "/pic.jpg/inner.bmp", "P/x.bmp"}));
}

TEST(Intake, ModeFollowsTheJobCount) {
  EXPECT_EQ(DecideMode(0), RunMode::None);
  EXPECT_EQ(DecideMode(1), RunMode::Single);
  EXPECT_EQ(DecideMode(2), RunMode::Batch);
  EXPECT_EQ(DecideMode(1000), RunMode::Batch);
}

}  // namespace
