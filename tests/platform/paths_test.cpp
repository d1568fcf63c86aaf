#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/files.h"
#include "support/tempfolder.h"

namespace fs = std::filesystem;

namespace {

TEST(Paths, ExtensionFolderAndName) {
  EXPECT_EQ(ExtractFileExt("/a/b/photo.tar.JPEG"), ".JPEG");
  EXPECT_EQ(ExtractFileExt("/a/b.d/photo"), "");  // a dot in the folder is not an extension
  EXPECT_EQ(ExtractFileExt("photo."), ".");
  EXPECT_EQ(ExtractFileExt(""), "");
  EXPECT_EQ(ExtractFilePath("/a/b/c.jpg"), "/a/b/");
  EXPECT_EQ(ExtractFilePath("c.jpg"), "");
  EXPECT_EQ(ExtractFileName("/a/b/c.jpg"), "c.jpg");
  EXPECT_EQ(ExtractFileName("/a/b/"), "");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/"), "/");
}

TEST(Paths, ExpandFileName) {
  EXPECT_EQ(ExpandFileName("/a/./b//c/../d"), "/a/b/d");
  EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
  EXPECT_EQ(ExpandFileName("/"), "/");
  EXPECT_EQ(ExpandFileName("/.."), "/");
  const std::string cwd = fs::current_path().string();
  EXPECT_EQ(ExpandFileName("x.jpg"), cwd == "/" ? "/x.jpg" : cwd + "/x.jpg");
}

TEST(Paths, PictureExtensionsIgnoreCaseOnly) {
  for (const char* ext : {".bmp", ".BMP", ".Bmp", ".jpg", ".Jpg", ".JPG", ".jpeg", ".JPEG"})
    EXPECT_TRUE(IsPictureExtension(ext)) << ext;
  for (const char* ext : {".jpe", ".jfif", ".gif", ".png", ".bmpx", "bmp", ".jp", "", "."})
    EXPECT_FALSE(IsPictureExtension(ext)) << ext;
  EXPECT_TRUE(IsBmpExtension(".bMp"));
  EXPECT_FALSE(IsBmpExtension(".jpg"));
  EXPECT_TRUE(IsJpegExtension(".jPeG"));
  EXPECT_FALSE(IsJpegExtension(".bmp"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  EXPECT_TRUE(SameText("Photo.JPG", "photo.jpg"));
}

TEST(Paths, LookupPathFollowsStat) {
  const TempFolder folder("paths");
  const std::string dir = folder.Root();
  const std::string file = dir + "/f.jpg";
  WriteBytes(file, "");
  ASSERT_EQ(symlink(dir.c_str(), (dir + "/link").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/gone").c_str(), (dir + "/dangling").c_str()), 0);

  EXPECT_EQ(LookupPath(dir), PathKind::Directory);
  EXPECT_EQ(LookupPath(dir + "/"), PathKind::Directory);
  EXPECT_EQ(LookupPath(dir + "/link"), PathKind::Directory);
  EXPECT_EQ(LookupPath(file), PathKind::File);
  EXPECT_EQ(LookupPath(file + "/"), PathKind::None);
  EXPECT_EQ(LookupPath(dir + "/missing"), PathKind::None);
  EXPECT_EQ(LookupPath(dir + "/dangling"), PathKind::None);
  EXPECT_EQ(LookupPath(""), PathKind::None);
  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(FileExists(dir + "/dangling"));
  EXPECT_FALSE(FileExists(dir));
  EXPECT_FALSE(FileExists(dir + "/missing"));
}

}  // namespace
