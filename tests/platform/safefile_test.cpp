#include "platform/safefile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "support/tempfolder.h"

namespace fs = std::filesystem;

namespace {


std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const std::vector<uint8_t> kData = {0xFF, 0xD8, 0x00, 0x7F, 0x80, 0xFF, 0xD9};

using TMethod = TNoReplaceWriter::TMethod;

class NoReplaceWriterTest : public testing::TestWithParam<TMethod> {};

TEST_P(NoReplaceWriterTest, TakenNamesAreLeftAloneAndAFreeOneGetsTheBytes) {
  TempFolder folder("safefile");
  const std::string file = folder.Path() + "file.jpg";
  const std::string dir = folder.Path() + "dir.jpg";
  const std::string dangling = folder.Path() + "dangling.jpg";
  const std::string pointee = folder.Path() + "pointee";
  WriteAll(file, "someone else's picture");
  fs::create_directory(dir);
  fs::create_symlink(pointee, dangling);

  TNoReplaceWriter writer(kData, GetParam());
  EXPECT_FALSE(writer.Publish(file));
  EXPECT_FALSE(writer.Publish(dir));
  EXPECT_FALSE(writer.Publish(dangling));
  const std::vector<uint8_t> before = ReadAll(file);
  EXPECT_EQ(std::string(before.begin(), before.end()), "someone else's picture");
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_FALSE(fs::exists(pointee));  // the link was not written through

  const std::string free = folder.Path() + "free.jpg";
  const mode_t mask = ::umask(022);
  EXPECT_TRUE(writer.Publish(free));
  ::umask(mask);
  EXPECT_EQ(writer.Method(), GetParam());
  EXPECT_EQ(ReadAll(free), kData);
  struct stat st {};
  ASSERT_EQ(::stat(free.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // as for any new file, not a temporary's 0600
  EXPECT_THROW(writer.Publish(folder.Path() + "second.jpg"), EFCreateError);
  EXPECT_EQ(folder.Names(),
            (std::set<std::string>{"file.jpg", "dir.jpg", "dangling.jpg", "free.jpg"}));
}

TEST_P(NoReplaceWriterTest, UncreatableTargetRaisesCreateErrorNamingItAndLeavesNothing) {
  TempFolder folder("safefile");
  const std::string plain = folder.Path() + "plain";
  WriteAll(plain, "x");
  for (const std::string& target : {folder.Path() + "missing/加工済_a.jpg", plain + "/加工済_a.jpg",
                                    folder.Path() + std::string(300, 'n') + ".jpg"}) {
    TNoReplaceWriter writer(kData, GetParam());
    try {
      writer.Publish(target);
      ADD_FAILURE() << "no error for " << target;
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "ファイル " + target + " を作成できません");
    }
  }
  EXPECT_EQ(folder.Names(), std::set<std::string>{"plain"});
}

TEST_P(NoReplaceWriterTest, FailedWriteRaisesCreateErrorAndLeavesNoPartialFile) {
  TempFolder folder("safefile");
  const std::string target = folder.Path() + "加工済_a.jpg";
  // A file size limit below the data makes the write fail part way, as a full disk would.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 3;
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool raised = false;
  try {
    TNoReplaceWriter(kData, GetParam()).Publish(target);
  } catch (const EFCreateError& e) {
    raised = e.Message() == "ファイル " + target + " を作成できません";
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_TRUE(raised);
  EXPECT_TRUE(folder.Names().empty());
}

INSTANTIATE_TEST_SUITE_P(Methods, NoReplaceWriterTest,
                         testing::Values(TMethod::Link, TMethod::Rename, TMethod::Direct));

}  // namespace
