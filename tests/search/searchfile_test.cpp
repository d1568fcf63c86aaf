#include "search/searchfile.h"

#include <fcntl.h>
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

namespace fs = std::filesystem;

namespace {

class SearchTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "searchfile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Root = fs::canonical(pattern).string();  // paths are compared with getcwd's
  }
  void TearDown() override {
    for (const auto& e :
         fs::recursive_directory_iterator(Root, fs::directory_options::skip_permission_denied)) {
      if (e.is_directory() && !e.is_symlink()) chmod(e.path().c_str(), 0755);
    }
    chmod(Root.c_str(), 0755);
    fs::remove_all(Root);
  }
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
  // Everything a file search reports, as full paths; a runaway search is cut short.
  std::vector<std::string> Find(TSearchFile& search) {
    std::vector<std::string> found;
    search.OnFind = [&](TSearchFile*, const std::string& name, const TSearchFileData&,
                        bool& Continue) {
      found.push_back(name);
      Continue = found.size() < 100;
    };
    EXPECT_TRUE(search.Search());
    return found;
  }
  std::vector<std::string> Walk(TSearchDir& walk) {
    std::vector<std::string> found;
    walk.OnFind = [&](TSearchDir*, const std::string& name, const TSearchFileData&, bool&,
                      bool& Continue) {
      found.push_back(name);
      Continue = found.size() < 100;
    };
    EXPECT_TRUE(walk.Search());
    return found;
  }

  std::string Root;
};

using Paths = std::vector<std::string>;

TEST_F(SearchTree, FoldersLevelByLevelThenFilesFolderByFolderInNameOrder) {
  // Made out of order, so neither creation nor byte order can pass for name order.
  const std::string p = Dir("P");
  Dir("P/B");
  Dir("P/A/C");
  File("P/C.JPG");
  File("P/a.jpg");
  File("P/a.txt");
  File("P/B/b.jpg");
  File("P/A/C/c.jpg");
  File("P/A/a.jpeg");

  TSearchDir walk;
  walk.BaseDir = p;
  EXPECT_EQ(Walk(walk), (Paths{p, p + "/A", p + "/B", p + "/A/C"}));

  TSearchFile search;
  search.Recursive = true;
  search.Directory = p;
  search.SearchName = "*.jpg";
  EXPECT_EQ(Find(search), (Paths{p + "/a.jpg", p + "/C.JPG", p + "/B/b.jpg", p + "/A/C/c.jpg"}));

  // A trailing separator, a relative path, and the plain (one folder) search.
  search.Directory = p + "/";
  EXPECT_EQ(Find(search), (Paths{p + "/a.jpg", p + "/C.JPG", p + "/B/b.jpg", p + "/A/C/c.jpg"}));
  const fs::path cwd = fs::current_path();
  fs::current_path(Root);
  search.Directory = "P/A/../A";
  search.SearchName = "*.jpe*";
  const Paths relative = Find(search);
  fs::current_path(cwd);
  EXPECT_EQ(relative, (Paths{p + "/A/a.jpeg"}));
  search.Recursive = false;
  search.Directory = p;
  search.SearchName = "a*";
  EXPECT_EQ(Find(search), (Paths{p + "/A", p + "/a.jpg", p + "/a.txt"}));

  // A missing folder reports nothing; only the walk calls that a failure.
  search.Directory = p + "/missing";
  EXPECT_EQ(Find(search), Paths{});
  search.Recursive = true;
  EXPECT_EQ(Find(search), Paths{});
  walk.BaseDir = p + "/missing";
  EXPECT_FALSE(walk.Search());
}

TEST_F(SearchTree, RecordsDescribeTheEntry) {
  const std::string p = Dir("P");
  Dir("P/x.jpg");
  File("P/.hidden");
  File("P/noext");
  File("P/ro.jpg");
  chmod((p + "/ro.jpg").c_str(), 0444);
  const std::string big = File("P/big.bin");
  ASSERT_EQ(truncate(big.c_str(), (int64_t{5} << 30) + 3), 0);

  // A known local time; the packed format keeps even seconds only.
  struct tm t {};
  t.tm_year = 2001 - 1900;
  t.tm_mon = 1;
  t.tm_mday = 3;
  t.tm_hour = 4;
  t.tm_min = 5;
  t.tm_sec = 7;
  t.tm_isdst = -1;
  const struct timespec known[2] = {{mktime(&t), 0}, {mktime(&t), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (p + "/noext").c_str(), known, 0), 0);
  const struct timespec old[2] = {{86400 * 365, 0}, {86400 * 365, 0}};  // 1971
  ASSERT_EQ(utimensat(AT_FDCWD, big.c_str(), old, 0), 0);

  std::vector<TSearchFileData> found;
  TSearchFile search;
  search.Directory = p;
  search.OnFind = [&](TSearchFile* sender, const std::string& name, const TSearchFileData& d,
                      bool&) {
    EXPECT_EQ(sender, &search);
    EXPECT_EQ(name, p + "/" + d.FileName);
    found.push_back(d);
  };
  ASSERT_TRUE(search.Search());  // an empty mask means every entry
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].FileName, ".hidden");
  EXPECT_TRUE(found[0].IsHidden);
  EXPECT_FALSE(found[0].IsReadOnly);

  const TSearchFileData& bigData = found[1];
  EXPECT_EQ(bigData.Size, (int64_t{5} << 30) + 3);
  EXPECT_FALSE(bigData.HasLastWriteTime);
  EXPECT_FALSE(bigData.HasLastAccessTime);
  EXPECT_FALSE(bigData.IsHidden);
  if (bigData.HasCreationTime) {  // made just now, where the file system keeps it
    EXPECT_NEAR(bigData.CreationTime, 25569.0 + time(nullptr) / 86400.0, 1.0);
  }

  const TSearchFileData& noext = found[2];
  EXPECT_EQ(noext.ShortName, "noext");
  ASSERT_TRUE(noext.HasLastWriteTime);
  EXPECT_DOUBLE_EQ(noext.LastWriteTime, 36925.0 + (4 * 3600 + 5 * 60 + 6) / 86400.0);
  EXPECT_EQ(noext.Size, 0);

  EXPECT_TRUE(found[3].IsReadOnly);
  EXPECT_EQ(found[4].FileName, "x.jpg");
  EXPECT_TRUE(found[4].IsDirectory);
  EXPECT_FALSE(found[4].IsSystem || found[4].IsArchive || found[4].Reserved);

  // The folder is found by a picture mask too.
  search.SearchName = "*.JPG";
  EXPECT_EQ(Find(search), (Paths{p + "/ro.jpg", p + "/x.jpg"}));
}

TEST(SearchMask, WildcardsAndCase) {
  EXPECT_TRUE(MatchesMask("noext", "*.*"));
  EXPECT_TRUE(MatchesMask("Photo.JPG", "*.jpg"));
  EXPECT_FALSE(MatchesMask("photo.jpeg", "*.jpg"));
  EXPECT_FALSE(MatchesMask("photo.jpg.txt", "*.jpg"));
  EXPECT_TRUE(MatchesMask("a.jpg.jpg", "*.jpg"));
  EXPECT_TRUE(MatchesMask("xaxxbyb", "*a*b?b"));
  EXPECT_TRUE(MatchesMask("abcbd", "*b?"));
  EXPECT_FALSE(MatchesMask("abcbde", "*b?"));
  EXPECT_TRUE(MatchesMask("\xE5\x86\x99.bmp", "?.bmp"));  // one character, three bytes
  EXPECT_FALSE(MatchesMask("ab.bmp", "?.bmp"));
  EXPECT_TRUE(MatchesMask("[a].jpg", "[a].jpg"));
  EXPECT_FALSE(MatchesMask("a.jpg", "[a].jpg"));
}

TEST_F(SearchTree, SkipAndIgnoreSubDir) {
  const std::string p = Dir("P");
  Dir("P/A/C");
  File("P/A/a.jpg");
  File("P/A/C/c.jpg");
  File("P/p.jpg");

  TSearchFile search;
  search.Recursive = true;
  search.Directory = p;
  bool skip = false;
  std::vector<std::string> folders;
  search.OnFindDir = [&](TSearchFile*, const std::string& name, const TSearchFileData& d,
                         bool& Skip, bool& IgnoreSubDir) {
    folders.push_back(name);
    EXPECT_TRUE(d.IsDirectory);
    if (d.FileName == "A") (skip ? Skip : IgnoreSubDir) = true;
  };
  skip = true;
  EXPECT_EQ(Find(search), (Paths{p + "/A", p + "/p.jpg", p + "/A/C/c.jpg"}));
  EXPECT_EQ(folders, (Paths{p, p + "/A", p + "/A/C"}));
  skip = false;
  folders.clear();
  EXPECT_EQ(Find(search), (Paths{p + "/A", p + "/p.jpg", p + "/A/a.jpg", p + "/A/C"}));
  EXPECT_EQ(folders, (Paths{p, p + "/A"}));
}

TEST_F(SearchTree, AbortReentryAndHandlerErrors) {
  const std::string p = Dir("P");
  Dir("P/A");
  File("P/a.jpg");
  File("P/b.jpg");

  TSearchFile search;
  search.Directory = p;
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
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(inner);

  search.OnFind = [&](TSearchFile*, const std::string&, const TSearchFileData&, bool&) {
    throw std::runtime_error("handler");
  };
  EXPECT_THROW(search.Search(), std::runtime_error);
  EXPECT_EQ(Find(search).size(), 3u);  // not left busy

  TSearchDir walk;
  walk.BaseDir = p;
  EXPECT_FALSE(walk.Search());
  calls = 0;
  walk.OnFind = [&](TSearchDir* sender, const std::string&, const TSearchFileData&, bool&,
                    bool& Continue) {
    ++calls;
    inner = sender->Search();
    Continue = calls < 2;
  };
  EXPECT_FALSE(walk.Search());
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(inner);
}

TEST_F(SearchTree, LinkCyclesEndAndRootNeedsNoExtraSeparator) {
  const std::string p = Dir("P");
  Dir("P/A");
  File("P/A/a.jpg");
  ASSERT_EQ(symlink(p.c_str(), (p + "/A/loop").c_str()), 0);
  ASSERT_EQ(symlink((p + "/A").c_str(), (p + "/Z").c_str()), 0);

  TSearchDir walk;
  walk.BaseDir = p;
  EXPECT_EQ(Walk(walk), (Paths{p, p + "/A"}));
  TSearchFile search;
  search.Recursive = true;
  search.Directory = p;
  search.SearchName = "*.jpg";
  int folders = 0;
  search.OnFindDir = [&](TSearchFile*, const std::string&, const TSearchFileData&, bool&,
                         bool& IgnoreSubDir) { IgnoreSubDir = ++folders > 100; };
  EXPECT_EQ(Find(search), Paths{p + "/A/a.jpg"});
  EXPECT_EQ(folders, 2);

  std::vector<std::string> names;
  walk.BaseDir = "/";
  walk.OnFind = [&](TSearchDir*, const std::string& name, const TSearchFileData&,
                    bool& IgnoreSubDir, bool&) {
    names.push_back(name);
    IgnoreSubDir = name != "/";
  };
  EXPECT_TRUE(walk.Search());
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "/");
  for (const std::string& name : names) EXPECT_EQ(name.find("//"), std::string::npos) << name;
  search.Recursive = false;
  search.Directory = "/";
  const std::string top = std::next(fs::path(Root).begin())->string();
  search.SearchName = top;
  EXPECT_EQ(Find(search), Paths{"/" + top});
}

TEST_F(SearchTree, UnreadableFolderIsPassedOver) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  const std::string p = Dir("P");
  Dir("P/A/C");
  Dir("P/B");
  File("P/A/a.jpg");
  File("P/B/b.jpg");
  chmod((p + "/A").c_str(), 0);

  TSearchFile search;
  search.Recursive = true;
  search.Directory = p;
  EXPECT_EQ(Find(search), (Paths{p + "/A", p + "/B", p + "/B/b.jpg"}));
}

}  // namespace
