#include "app/outputnaming.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "imaging/jpegimage.h"
#include "imaging/picture.h"
#include "platform/errors.h"
#include "platform/fileio.h"
#include "support/files.h"
#include "support/longpath.h"
#include "support/tempfolder.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string Save(const std::string& source, const std::string& text) {
  const std::vector<uint8_t> bytes = Bytes(text);
  return SaveUnderFreeName(source, bytes);
}

TEST(OutputNaming, CandidateNames) {
  EXPECT_EQ(CandidateName("/x/photos/IMG_01.JPEG", 1), "/x/photos/加工済_IMG_01.jpg");
  EXPECT_EQ(CandidateName("/x/photos/IMG_01.JPEG", 2), "/x/photos/加工済2_IMG_01.jpg");
  EXPECT_EQ(CandidateName("/x/photos/IMG_01.JPEG", 10), "/x/photos/加工済10_IMG_01.jpg");
  EXPECT_EQ(CandidateName("/x/photos/IMG_01.JPEG", 255), "/x/photos/加工済255_IMG_01.jpg");
  EXPECT_EQ(CandidateName("/x/a.bmp", 1), CandidateName("/x/a.jpg", 1));
  EXPECT_EQ(CandidateName("/x/加工済_a.jpg", 1), "/x/加工済_加工済_a.jpg");
  EXPECT_EQ(CandidateName("/x/a.tar.gz", 1), "/x/加工済_a.tar.jpg");
  EXPECT_EQ(CandidateName("/x/noext", 1), "/x/加工済_noext.jpg");
  EXPECT_EQ(CandidateName("/x/a.b/file", 3), "/x/a.b/加工済3_file.jpg");
  EXPECT_EQ(CandidateName("photo.Bmp", 1), "加工済_photo.jpg");
  EXPECT_EQ(CandidateName("/root.jpeg", 1), "/加工済_root.jpg");
}

TEST(OutputNaming, RepeatedSavesTakeEachNameOnceThenFailClearly) {
  TempFolder folder("naming");
  const std::string source = folder.Path() + "IMG_01.JPEG";
  for (int n = 1; n <= 255; ++n) {
    const std::string text = "picture " + std::to_string(n);
    if (n > 3 && n < 254) {  // saves in between would only take time
      WriteBytes(CandidateName(source, n), text);
      continue;
    }
    ASSERT_EQ(Save(source, text), CandidateName(source, n));
  }
  EXPECT_EQ(ReadBytes(folder.Path() + "加工済_IMG_01.jpg"), "picture 1");
  EXPECT_EQ(ReadBytes(folder.Path() + "加工済2_IMG_01.jpg"), "picture 2");
  EXPECT_EQ(ReadBytes(folder.Path() + "加工済255_IMG_01.jpg"), "picture 255");
  try {
    Save(source, "one too many");
    FAIL() << "no error when every name is taken";
  } catch (const ESaveError& e) {
    EXPECT_EQ(e.Message(),
              source + " の保存先の名前 (加工済_ … 加工済255_) がすべて使われています");
  }
  EXPECT_EQ(folder.Names().size(), 255u);  // nothing written, no temporary file left
  EXPECT_EQ(ReadBytes(folder.Path() + "加工済_IMG_01.jpg"), "picture 1");
}

TEST(OutputNaming, SharedBaseNamesEarlierOutputsAndTakenEntries) {
  TempFolder folder("naming");
  const std::string& dir = folder.Path();
  EXPECT_EQ(Save(dir + "a.bmp", "from bmp"), dir + "加工済_a.jpg");
  EXPECT_EQ(Save(dir + "a.jpg", "from jpg"), dir + "加工済2_a.jpg");
  EXPECT_EQ(Save(dir + "加工済_a.jpg", "again"), dir + "加工済_加工済_a.jpg");
  EXPECT_EQ(ReadBytes(dir + "加工済_a.jpg"), "from bmp");

  // A folder and a dangling link bearing names are skipped and left as they are.
  fs::create_directory(dir + "加工済_b.jpg");
  fs::create_symlink(dir + "nowhere", dir + "加工済2_b.jpg");
  EXPECT_EQ(Save(dir + "b.jpeg", "b"), dir + "加工済3_b.jpg");
  EXPECT_TRUE(fs::is_empty(dir + "加工済_b.jpg"));
  EXPECT_FALSE(fs::exists(dir + "nowhere"));
  EXPECT_EQ(folder.Names(),
            (std::set<std::string>{"加工済_a.jpg", "加工済2_a.jpg", "加工済_加工済_a.jpg",
                                   "加工済_b.jpg", "加工済2_b.jpg", "加工済3_b.jpg"}));
}

TEST(OutputNaming, BareNameWritesIntoTheCurrentFolder) {
  TempFolder folder("naming");
  const fs::path previous = fs::current_path();
  fs::current_path(folder.Path());
  std::string written;
  EXPECT_NO_THROW(written = Save("photo.bmp", "bare"));
  fs::current_path(previous);
  EXPECT_EQ(written, "加工済_photo.jpg");
  EXPECT_EQ(ReadBytes(folder.Path() + "加工済_photo.jpg"), "bare");
  EXPECT_EQ(folder.Names(), std::set<std::string>{"加工済_photo.jpg"});
}

// Another program creating the name after the existence test: staged here by
// an existence test that finds every name free.
bool NothingTaken(const std::string&) { return false; }

TEST(OutputNaming, NameTakenAfterTheExistenceTestIsNeverReplaced) {
  TempFolder folder("naming");
  const std::string source = folder.Path() + "a.bmp";
  WriteBytes(CandidateName(source, 1), "theirs");
  const std::vector<uint8_t> ours = Bytes("ours");
  EXPECT_EQ(SaveUnderFreeName(source, ours, NothingTaken), CandidateName(source, 2));
  EXPECT_EQ(ReadBytes(CandidateName(source, 1)), "theirs");
  EXPECT_EQ(ReadBytes(CandidateName(source, 2)), "ours");

  for (int n = 3; n <= 255; ++n) WriteBytes(CandidateName(source, n), "theirs");
  EXPECT_THROW(SaveUnderFreeName(source, ours, NothingTaken), ESaveError);
  EXPECT_EQ(folder.Names().size(), 255u);  // the temporary file is gone too
  EXPECT_EQ(ReadBytes(CandidateName(source, 255)), "theirs");
}

TEST(OutputNaming, UnwritableFolderRaisesCreateErrorNamingTheCandidate) {
  TempFolder folder("naming");
  WriteBytes(folder.Path() + "plain", "x");
  for (const std::string& source :
       {folder.Path() + "missing/a.bmp", folder.Path() + "plain/a.bmp"}) {
    try {
      Save(source, "lost");
      ADD_FAILURE() << "no error for " << source;
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "ファイル " + CandidateName(source, 1) + " を作成できません");
      EXPECT_EQ(e.FileName(), CandidateName(source, 1));
      EXPECT_EQ(e.Reason(), source.find("missing") != std::string::npos
                                ? "No such file or directory"
                                : "Not a directory");
    }
  }
  EXPECT_EQ(folder.Names(), std::set<std::string>{"plain"});
}

TEST(OutputNaming, NamesNearTheLimitFailWithTheReasonAndLongPathsWork) {
  TempFolder folder("naming");
  // "加工済_" adds 10 bytes and "加工済2_" 11: a 245-byte source name fits the
  // 255-byte limit once, and a 246-byte one never.
  const std::string fits = folder.Path() + std::string(241, 'f') + ".bmp";
  EXPECT_EQ(Save(fits, "one"), CandidateName(fits, 1));
  for (const std::string& source : {fits, folder.Path() + std::string(242, 'g') + ".bmp"}) {
    try {
      Save(source, "lost");
      ADD_FAILURE() << "no error for " << source;
    } catch (const EFCreateError& e) {
      const std::string candidate = CandidateName(source, source == fits ? 2 : 1);
      EXPECT_EQ(e.Message(), "ファイル " + candidate + " を作成できません");
      EXPECT_EQ(ErrorReport(e), e.Message() + ".\n" + candidate + ": File name too long");
    }
  }
  EXPECT_EQ(folder.Names().size(), 1u);

  const std::string deep = MakeDeepFolder(folder.Path()) + "a.bmp";
  EXPECT_EQ(Save(deep, "deep"), CandidateName(deep, 1));
  EXPECT_EQ(Save(deep, "deeper"), CandidateName(deep, 2));
  struct stat info {};
  EXPECT_EQ(StatPath(CandidateName(deep, 2), info), 0);
  EXPECT_EQ(info.st_size, 6);
}

// The start-of-frame marker of a JPEG file and its number of components.
std::pair<int, int> FrameOf(const std::string& file) {
  const auto* p = reinterpret_cast<const uint8_t*>(file.data());
  size_t pos = 2;
  while (pos + 9 < file.size() && p[pos] == 0xFF) {
    const int marker = p[pos + 1];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
      return {marker, p[pos + 9]};
    pos += 2 + (p[pos + 2] << 8 | p[pos + 3]);
  }
  return {0, 0};
}

TEST(OutputNaming, OnlyADeadWritersTemporaryOfThisBootIsSwept) {
  TempFolder folder("naming");
  // A writer that must use a named temporary, killed while it writes.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileSystemCalls.Write = [](int, const void*, size_t) -> ssize_t {
      for (;;) ::pause();
    };
    const std::string bytes = "never finished";
    TAtomicWriter(bytes, OutputTempPattern(), 0666, TAtomicWriter::TMethod::Link)
        .Publish(folder.Path() + "x.jpg");
    ::_exit(1);
  }
  const std::string mine = OutputTempPattern();  // this process, alive
  const std::string prefix = mine.substr(0, mine.find('-') + 1);
  const std::string boot = mine.substr(mine.find('-', prefix.size()) + 1, 32);
  const std::string dead = prefix + std::to_string(child) + "-";
  auto names = [&] { return folder.Names(); };
  for (int i = 0; i < 500 && names().empty(); ++i) ::usleep(10000);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_EQ(names().size(), 1u);
  const std::string killed = *names().begin();
  EXPECT_TRUE(killed.starts_with(dead + boot + "-")) << killed;
  const std::set<std::string> kept = {
      prefix + std::to_string(::getpid()) + "-" + boot + "-Ab12Cd.tmp",  // a live writer's
      dead + std::string(32, '0') + "-Ab12Cd.tmp",                       // another boot's
      dead + boot + "-Ab12Cd.tmp.jpg",                                   // not the pattern
      dead + boot + "-Ab12C.tmp",
      ".加工済-Ab12Cd.tmp",
  };
  for (const std::string& name : kept) WriteBytes(folder.Path() + name, "");
  EXPECT_EQ(Save(folder.Path() + "a.bmp", "saved"), folder.Path() + "加工済_a.jpg");
  std::set<std::string> left = kept;
  left.insert("加工済_a.jpg");
  EXPECT_EQ(names(), left);
}

TEST(OutputNaming, SavePunchedWritesABaselineColourJpegOfThePicture) {
  TempFolder folder("naming");
  Picture picture;
  picture.Create(37, 21, 24);
  for (int y = 0; y < 21; ++y) {
    uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < 37; ++x) {  // blue, green, red
      row[3 * x] = 40;
      row[3 * x + 1] = 120;
      row[3 * x + 2] = 220;
    }
  }
  const TJPEGSettings defaults = JPEGDefaults();
  JPEGDefaults().Grayscale = true;  // must not leak into the output
  JPEGDefaults().ProgressiveEncode = true;
  std::string written;
  EXPECT_NO_THROW(written = SavePunched(folder.Path() + "IMG_01.JPEG", picture));
  JPEGDefaults() = defaults;
  ASSERT_EQ(written, folder.Path() + "加工済_IMG_01.jpg");

  const std::string file = ReadBytes(written);
  ASSERT_GT(file.size(), 2u);
  EXPECT_EQ(file.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(FrameOf(file), std::make_pair(0xC0, 3));
  TJPEGImage decoded;
  decoded.LoadFromFile(written);
  const Picture& back = decoded.Bitmap();
  ASSERT_EQ(back.Width(), 37);
  ASSERT_EQ(back.Height(), 21);
  ASSERT_EQ(back.BitCount(), 24);
  const uint8_t* pixel = back.ScanLine(10) + 3 * 18;
  EXPECT_NEAR(pixel[0], 40, 4);
  EXPECT_NEAR(pixel[1], 120, 4);
  EXPECT_NEAR(pixel[2], 220, 4);

  EXPECT_THROW(SavePunched(folder.Path() + "empty.bmp", Picture()), EInvalidGraphic);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"加工済_IMG_01.jpg"});
}

}  // namespace
