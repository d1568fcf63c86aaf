#include "search/searchfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/longpath.h"
#include "support/tempfolder.h"

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

namespace {

class SearchTree : public ::testing::Test {
 protected:
  void SetUp() override {
    P = fs::canonical(folder.Root()).string() + "/P";  // compared with getcwd's paths
  }
  // A folder a test made unreadable could not be emptied.
  void TearDown() override { chmod((P + "/A").c_str(), 0755); }
  void Make(const Paths& entries) {
    fs::create_directories(P);
    MakeTree(P, entries);
  }
  // Every reported path; a runaway search is cut short.
  Paths Find(TSearchFile& search) {
    Paths found;
    search.OnFind = [&](TSearchFile*, const std::string& name, const TSearchFileData&,
                        bool& Continue) {
      found.push_back(name);
      Continue = found.size() < 100;
    };
    EXPECT_TRUE(search.Search());
    return found;
  }
  Paths Walk(TSearchDir& walk) {
    Paths found;
    walk.OnFind = [&](TSearchDir*, const std::string& name, const TSearchFileData&, bool&,
                      bool& Continue) {
      found.push_back(name);
      Continue = found.size() < 100;
    };
    EXPECT_TRUE(walk.Search());
    return found;
  }

  TempFolder folder{"searchfile"};
  std::string P;
};

TEST_F(SearchTree, FoldersLevelByLevelThenFilesFolderByFolderInNameOrder) {
  // Neither creation order nor byte order is name order here.
  Make({"B/D/", "A/C/", "C.JPG", "a.jpg", "a.txt", "B/b.jpg", "A/C/c.jpg", "A/a.jpeg"});
  TSearchDir walk;
  walk.BaseDir = P;
  EXPECT_EQ(Walk(walk), (Paths{P, P + "/A", P + "/B", P + "/A/C", P + "/B/D"}));

  TSearchFile search;
  search.Recursive = true;
  search.SearchName = "*.jpg";
  const Paths jpgs{P + "/a.jpg", P + "/C.JPG", P + "/B/b.jpg", P + "/A/C/c.jpg"};
  for (const std::string& dir : {P, P + "/"}) {
    search.Directory = dir;
    EXPECT_EQ(Find(search), jpgs) << dir;
  }
  const fs::path cwd = fs::current_path();
  fs::current_path(P);
  search.Directory = "A/../A";
  search.SearchName = "*.jpe*";
  const Paths relative = Find(search);
  fs::current_path(cwd);
  EXPECT_EQ(relative, Paths{P + "/A/a.jpeg"});

  search.Recursive = false;
  search.Directory = P;
  search.SearchName = "a*";
  EXPECT_EQ(Find(search), (Paths{P + "/A", P + "/a.jpg", P + "/a.txt"}));

  // A missing folder reports nothing; only the walk calls that a failure.
  search.Directory = walk.BaseDir = P + "/missing";
  EXPECT_EQ(Find(search), Paths{});
  search.Recursive = true;
  EXPECT_EQ(Find(search), Paths{});
  EXPECT_FALSE(walk.Search());
}

TEST_F(SearchTree, RecordsDescribeTheEntry) {
  Make({"x.jpg/", ".hidden", "noext", "ro.jpg", "big.bin"});
  chmod((P + "/ro.jpg").c_str(), 0444);
  ASSERT_EQ(truncate((P + "/big.bin").c_str(), (int64_t{5} << 30) + 3), 0);
  struct tm t {};  // 2001-02-03 04:05:07 local
  t.tm_year = 101, t.tm_mon = 1, t.tm_mday = 3, t.tm_hour = 4, t.tm_min = 5, t.tm_sec = 7;
  t.tm_isdst = -1;
  const struct timespec known[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
  const struct timespec y1971[2] = {{86400 * 365, 0}, {86400 * 365, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (P + "/noext").c_str(), known, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, (P + "/big.bin").c_str(), y1971, 0), 0);

  std::vector<TSearchFileData> d;
  TSearchFile search;
  search.Directory = P;  // no mask: every entry
  search.OnFind = [&](TSearchFile* sender, const std::string& name, const TSearchFileData& data,
                      bool&) {
    EXPECT_EQ(sender, &search);
    EXPECT_EQ(name, P + "/" + data.FileName);
    d.push_back(data);
  };
  ASSERT_TRUE(search.Search());
  ASSERT_EQ(d.size(), 5u);
  EXPECT_TRUE(d[0].FileName == ".hidden" && d[0].IsHidden && !d[0].IsReadOnly);
  EXPECT_EQ(d[1].Size, (int64_t{5} << 30) + 3);
  EXPECT_FALSE(d[1].HasLastWriteTime || d[1].HasLastAccessTime || d[1].IsHidden);
  if (d[1].HasCreationTime) {  // made just now, where the file system keeps it
    EXPECT_NEAR(d[1].CreationTime, 25569.0 + time(nullptr) / 86400.0, 1.0);
  }
  EXPECT_EQ(d[2].ShortName, "noext");
  ASSERT_TRUE(d[2].HasLastWriteTime);  // two-second steps: 07 reads as 06
  EXPECT_DOUBLE_EQ(d[2].LastWriteTime, 36925.0 + (4 * 3600 + 5 * 60 + 6) / 86400.0);
  EXPECT_TRUE(d[3].IsReadOnly);
  EXPECT_TRUE(d[4].FileName == "x.jpg" && d[4].IsDirectory);
  EXPECT_FALSE(d[4].IsSystem || d[4].IsArchive || d[4].Reserved);

  search.SearchName = "*.JPG";  // the folder matches a picture mask too
  EXPECT_EQ(Find(search), (Paths{P + "/ro.jpg", P + "/x.jpg"}));
}

TEST(SearchMask, WildcardsAndCase) {
  EXPECT_TRUE(MatchesMask("noext", "*.*"));
  EXPECT_TRUE(MatchesMask("Photo.JPG", "*.jpg"));
  EXPECT_TRUE(MatchesMask("a.jpg.jpg", "*.jpg"));
  EXPECT_FALSE(MatchesMask("photo.jpeg", "*.jpg"));
  EXPECT_FALSE(MatchesMask("photo.jpg.txt", "*.jpg"));
  EXPECT_TRUE(MatchesMask("abcbd", "*b?"));
  EXPECT_FALSE(MatchesMask("abcbde", "*b?"));
  EXPECT_TRUE(MatchesMask("\xE5\x86\x99.bmp", "?.bmp"));  // one character, three bytes
  EXPECT_FALSE(MatchesMask("ab.bmp", "?.bmp"));
  EXPECT_TRUE(MatchesMask("[a].jpg", "[a].jpg"));
  EXPECT_FALSE(MatchesMask("a.jpg", "[a].jpg"));
}

TEST_F(SearchTree, SkipAndIgnoreSubDir) {
  Make({"A/C/", "A/a.jpg", "A/C/c.jpg", "p.jpg"});
  TSearchFile search;
  search.Recursive = true;
  search.Directory = P;
  bool skip = true;
  Paths folders;
  search.OnFindDir = [&](TSearchFile*, const std::string& name, const TSearchFileData& data,
                         bool& Skip, bool& IgnoreSubDir) {
    folders.push_back(name);
    if (data.FileName == "A") (skip ? Skip : IgnoreSubDir) = true;
  };
  EXPECT_EQ(Find(search), (Paths{P + "/A", P + "/p.jpg", P + "/A/C/c.jpg"}));
  EXPECT_EQ(folders, (Paths{P, P + "/A", P + "/A/C"}));
  skip = false;
  folders.clear();
  EXPECT_EQ(Find(search), (Paths{P + "/A", P + "/p.jpg", P + "/A/a.jpg", P + "/A/C"}));
  EXPECT_EQ(folders, (Paths{P, P + "/A"}));
}

TEST_F(SearchTree, AbortReentryAndHandlerErrors) {
  Make({"A/", "a.jpg", "b.jpg"});
  TSearchFile search;
  search.Directory = P;
  search.Recursive = true;
  EXPECT_FALSE(search.Search());  // no handler
  int calls = 0;
  bool inner = true;
  search.OnFind = [&](TSearchFile* sender, const std::string&, const TSearchFileData&,
                      bool& Continue) {
    ++calls;
    inner = sender->Search();
    Continue = false;
  };
  EXPECT_FALSE(search.Search());
  EXPECT_TRUE(calls == 1 && !inner);
  search.OnFind = [&](TSearchFile*, const std::string&, const TSearchFileData&, bool&) {
    throw std::runtime_error("handler");
  };
  EXPECT_THROW(search.Search(), std::runtime_error);
  EXPECT_EQ(Find(search).size(), 3u);  // not left busy

  TSearchDir walk;
  walk.BaseDir = P;
  EXPECT_FALSE(walk.Search());
  calls = 0;
  walk.OnFind = [&](TSearchDir* sender, const std::string&, const TSearchFileData&, bool&,
                    bool& Continue) {
    inner = sender->Search();
    Continue = ++calls < 2;
  };
  EXPECT_FALSE(walk.Search());
  EXPECT_TRUE(calls == 2 && !inner);
}

TEST_F(SearchTree, LinkCyclesEndAndRootNeedsNoExtraSeparator) {
  Make({"A/", "A/a.jpg"});
  ASSERT_EQ(symlink(P.c_str(), (P + "/A/loop").c_str()), 0);
  ASSERT_EQ(symlink((P + "/A").c_str(), (P + "/Z").c_str()), 0);
  TSearchDir walk;
  walk.BaseDir = P;
  EXPECT_EQ(Walk(walk), (Paths{P, P + "/A"}));
  TSearchFile search;
  search.Recursive = true;
  search.Directory = P;
  search.SearchName = "*.jpg";
  int folders = 0;  // without a guard the walk would grow without end
  search.OnFindDir = [&](TSearchFile*, const std::string&, const TSearchFileData&, bool&,
                         bool& IgnoreSubDir) { IgnoreSubDir = ++folders > 100; };
  EXPECT_EQ(Find(search), Paths{P + "/A/a.jpg"});
  EXPECT_EQ(folders, 2);

  // The root already ends in a separator.
  search.Recursive = false;
  search.Directory = "/";
  search.SearchName = std::next(fs::path(P).begin())->string();
  EXPECT_EQ(Find(search), Paths{"/" + search.SearchName});
}

TEST_F(SearchTree, UnreadableFolderIsPassedOver) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  Make({"A/C/", "B/", "A/a.jpg", "B/b.jpg"});
  chmod((P + "/A").c_str(), 0);
  TSearchFile search;
  search.Recursive = true;
  search.Directory = P;
  EXPECT_EQ(Find(search), (Paths{P + "/A", P + "/B", P + "/B/b.jpg"}));
}

TEST_F(SearchTree, FoldersDeeperThanThePathLimitAreWalkedAndSearched) {
  Make({"top.jpg"});
  const std::string deep = MakeDeepFolder(P + "/");
  ASSERT_GT(deep.size(), static_cast<size_t>(PATH_MAX));
  ASSERT_TRUE(WriteDeepFile(deep + "x.jpg", "x"));
  TSearchFile search;
  search.Recursive = true;
  search.Directory = P;
  search.SearchName = "*.jpg";
  EXPECT_EQ(Find(search), (Paths{P + "/top.jpg", deep + "x.jpg"}));
  // Started from a folder that deep itself, as a folder argument would be.
  search.Directory = deep;
  EXPECT_EQ(Find(search), Paths{deep + "x.jpg"});
  search.Recursive = false;
  EXPECT_EQ(Find(search), Paths{deep + "x.jpg"});
}

}  // namespace
