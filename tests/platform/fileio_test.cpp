#include "platform/fileio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/longpath.h"
#include "support/tempfolder.h"

namespace fs = std::filesystem;

namespace {

TEST(FileIO, ReadsAreBoundedAndOnlyRegularFilesAreRead) {
  TempFolder folder("fileio");
  const std::string file = folder.Path() + "ten";
  WriteBytes(file, "0123456789");
  std::vector<uint8_t> bytes;
  // Up to the limit exactly, and with no limit at all.
  for (const size_t limit : {size_t{10}, SIZE_MAX}) {
    EXPECT_EQ(ReadFile(file, limit, bytes), 0);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789");
  }
  std::string text = "old";
  EXPECT_EQ(ReadFile(file, 9, text), EFBIG);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(ReadFile(folder.Path() + "missing", 10, text), ENOENT);
  EXPECT_EQ(ReadFile(folder.Path(), 10, text), EISDIR);
  // A named pipe with no writer would block a plain open for ever.
  ASSERT_EQ(::mkfifo((folder.Path() + "pipe").c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(folder.Path() + "pipe", 10, text), EINVAL);
  EXPECT_EQ(ReadFile("", 10, text), ENOENT);

  // A source whose size says nothing (a pipe) is read to its end, and bounded.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string many(100000, 'p');
  TFileHandle reader(ends[0]);
  {
    TFileHandle writer(ends[1]);
    ASSERT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 1 << 20), 0);
    ASSERT_EQ(WriteAll(writer.Get(), std::string_view(many)), 0);
  }
  EXPECT_EQ(ReadAll(reader.Get(), SIZE_MAX, text), 0);
  EXPECT_EQ(text, many);
}

TEST(FileIO, PathsLongerThanTheKernelTakesWorkEverywhere) {
  TempFolder folder("fileio");
  const std::string deep = MakeDeepFolder(folder.Path());
  ASSERT_GT(deep.size(), static_cast<size_t>(PATH_MAX));
  const std::string file = deep + "picture.jpg";
  ASSERT_TRUE(WriteDeepFile(file, "deep bytes"));
  struct stat st {};
  EXPECT_EQ(StatPath(file, st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(StatPath(deep, st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(StatPath(deep + "none", st), ENOENT);
  std::string text;
  EXPECT_EQ(ReadFile(file, 100, text), 0);
  EXPECT_EQ(text, "deep bytes");
  // ".." and symbolic links resolve as the kernel would resolve them.
  const std::string last = deep.substr(deep.size() - 201, 200);
  EXPECT_EQ(ReadFile(deep + "../" + last + "/picture.jpg", 100, text), 0);
  const std::string first = deep.substr(folder.Path().size(), 200);
  ASSERT_EQ(::symlink(first.c_str(), (folder.Path() + "link").c_str()), 0);
  text.clear();
  EXPECT_EQ(
      ReadFile(folder.Path() + "link/" + deep.substr(folder.Path().size() + 201) + "picture.jpg",
               100, text),
      0);
  EXPECT_EQ(text, "deep bytes");

  TAtomicWriter writer(std::string_view("new bytes"));
  EXPECT_EQ(writer.Publish(file), EEXIST);
  EXPECT_EQ(writer.Publish(deep + "out.jpg"), 0);
  EXPECT_EQ(ReadFile(deep + "out.jpg", 100, text), 0);
  EXPECT_EQ(text, "new bytes");
  TAtomicWriter replacing(std::string_view("replaced"));
  EXPECT_EQ(replacing.Replace(file), 0);
  EXPECT_EQ(ReadFile(file, 100, text), 0);
  EXPECT_EQ(text, "replaced");
}

using TMethod = TAtomicWriter::TMethod;

class AtomicWriterTest : public testing::TestWithParam<TMethod> {};

TEST_P(AtomicWriterTest, PublishNeverReplacesAndAFreeNameGetsTheBytes) {
  TempFolder folder("fileio");
  const std::string file = folder.Path() + "file.jpg";
  const std::string dir = folder.Path() + "dir.jpg";
  const std::string dangling = folder.Path() + "dangling.jpg";
  WriteBytes(file, "someone else's picture");
  fs::create_directory(dir);
  fs::create_symlink(folder.Path() + "pointee", dangling);

  const std::string data("\xFF\xD8\x00\x7F\x80\xFF\xD9", 7);
  TAtomicWriter writer(data, ".t-XXXXXX", 0666, GetParam());
  EXPECT_EQ(writer.Publish(file), EEXIST);
  EXPECT_EQ(writer.Publish(dir), EEXIST);
  EXPECT_EQ(writer.Publish(dangling), EEXIST);
  EXPECT_EQ(ReadBytes(file), "someone else's picture");
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_FALSE(fs::exists(folder.Path() + "pointee"));  // not written through the link

  const mode_t mask = ::umask(022);
  EXPECT_EQ(writer.Publish(folder.Path() + "free.jpg"), 0);
  ::umask(mask);
  EXPECT_EQ(writer.Method(), GetParam());
  EXPECT_EQ(ReadBytes(folder.Path() + "free.jpg"), data);
  struct stat st {};
  ASSERT_EQ(::stat((folder.Path() + "free.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // as any new file, not a temporary's 0600
  EXPECT_EQ(writer.Publish(folder.Path() + "second.jpg"), EALREADY);
  EXPECT_EQ(folder.Names(),
            (std::set<std::string>{"file.jpg", "dir.jpg", "dangling.jpg", "free.jpg"}));
}

TEST_P(AtomicWriterTest, FailuresSayWhyAndLeaveNothing) {
  TempFolder folder("fileio");
  WriteBytes(folder.Path() + "plain", "x");
  const std::string data = "some bytes";
  const struct {
    std::string target;
    int error;
  } cases[] = {{folder.Path() + "missing/a.jpg", ENOENT},
               {folder.Path() + "plain/a.jpg", ENOTDIR},
               {folder.Path() + std::string(300, 'n') + ".jpg", ENAMETOOLONG}};
  for (const auto& c : cases) {
    TAtomicWriter writer(data, ".t-XXXXXX", 0666, GetParam());
    EXPECT_EQ(writer.Publish(c.target), c.error) << c.target;
  }

  // A file size limit below the data fails the write part way, as a full disk would.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 3;
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int published =
      TAtomicWriter(data, ".t-XXXXXX", 0666, GetParam()).Publish(folder.Path() + "a.jpg");
  const int replaced = TAtomicWriter(data, ".t-XXXXXX").Replace(folder.Path() + "plain");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(published, EFBIG);
  EXPECT_EQ(replaced, EFBIG);
  EXPECT_EQ(ReadBytes(folder.Path() + "plain"), "x");
  EXPECT_EQ(folder.Names(), std::set<std::string>{"plain"});
}

INSTANTIATE_TEST_SUITE_P(Methods, AtomicWriterTest,
                         testing::Values(TMethod::TmpFile, TMethod::Link, TMethod::Rename));

TEST(AtomicWriter, WithoutLinksOrExclusiveRenameItRefusesRatherThanWriteInPlace) {
  TempFolder folder("fileio");
  TAtomicWriter writer(std::string_view("bytes"), ".t-XXXXXX", 0666, TMethod::Unsupported);
  EXPECT_EQ(writer.Publish(folder.Path() + "a.jpg"), EOPNOTSUPP);
  EXPECT_TRUE(folder.Names().empty());
}

// Faults the writer's system calls meet, one kind at a time. Hit counts the
// faulty calls made.
struct Fault {
  // clang-format off
  enum Kind { None, ShortWrite, Interrupted, WriteFails, CloseFails, SyncFails, NoTmpFile,
              NoLink, NoProc, NoLinkByDescriptor };
  // clang-format on
  static inline Kind kind = None;
  static inline int calls = 0;
  static bool Hit(bool when) { return when && ++calls; }
  static int Failed(int error) { return errno = error, -1; }

  static ssize_t Write(int fd, const void* buffer, size_t count) {
    if (Hit(kind == Interrupted && calls < 3)) return Failed(EINTR);
    if (Hit(kind == WriteFails)) return Failed(EIO);
    return ::write(fd, buffer, Hit(kind == ShortWrite && count > 1) ? count / 2 : count);
  }
  static int Close(int fd) {
    return ::close(fd) == 0 && !Hit(kind == CloseFails) ? 0 : Failed(EIO);
  }
  static int Fsync(int fd) { return Hit(kind == SyncFails) ? Failed(EIO) : ::fsync(fd); }
  static int OpenAt(int folder, const char* name, int flags, mode_t mode) {
    if (Hit(kind == NoTmpFile && (flags & O_TMPFILE) == O_TMPFILE)) return Failed(EOPNOTSUPP);
    return ::openat(folder, name, flags, mode);
  }
  // What a FAT card says to every hard link, and a system without /proc.
  static int LinkAt(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
    if (Hit(kind == NoLink && (flags & AT_SYMLINK_FOLLOW) == 0)) return Failed(EPERM);
    if (Hit((kind == NoProc || kind == NoLinkByDescriptor) && (flags & AT_EMPTY_PATH) != 0))
      return Failed(EPERM);
    if (Hit((kind == NoProc || kind == NoLink) && std::string_view(from).starts_with("/proc/")))
      return Failed(ENOENT);
    return ::linkat(fromFolder, from, toFolder, to, flags);
  }
};

TEST(AtomicWriter, EveryFaultOfTheSystemCallsFailsCleanlyOrFallsBack) {
  const TFileSystemCalls real = FileSystemCalls;
  FileSystemCalls = {Fault::Write, Fault::Close, Fault::Fsync, Fault::OpenAt, Fault::LinkAt};
  const std::string data(100000, 'd');
  const struct {
    Fault::Kind fault;
    TMethod method;  // the writer's first choice
    int published;   // what Publish says
    TMethod used;    // the method it ends with
  } cases[] = {
      {Fault::ShortWrite, TMethod::TmpFile, 0, TMethod::TmpFile},
      {Fault::ShortWrite, TMethod::Link, 0, TMethod::Link},
      {Fault::Interrupted, TMethod::TmpFile, 0, TMethod::TmpFile},
      {Fault::Interrupted, TMethod::Rename, 0, TMethod::Rename},
      {Fault::WriteFails, TMethod::TmpFile, EIO, TMethod::TmpFile},
      {Fault::WriteFails, TMethod::Link, EIO, TMethod::Link},
      {Fault::CloseFails, TMethod::Link, EIO, TMethod::Link},
      {Fault::CloseFails, TMethod::Rename, EIO, TMethod::Rename},
      {Fault::SyncFails, TMethod::TmpFile, EIO, TMethod::TmpFile},
      {Fault::SyncFails, TMethod::Link, EIO, TMethod::Link},
      {Fault::NoTmpFile, TMethod::TmpFile, 0, TMethod::Link},
      {Fault::NoProc, TMethod::TmpFile, 0, TMethod::Link},
      {Fault::NoLinkByDescriptor, TMethod::TmpFile, 0, TMethod::TmpFile},
      {Fault::NoLink, TMethod::TmpFile, 0, TMethod::Rename},
      {Fault::NoLink, TMethod::Link, 0, TMethod::Rename},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "fault " << c.fault << ", method " << int(c.method));
    TempFolder folder("faults");
    Fault::kind = c.fault;
    Fault::calls = 0;
    TAtomicWriter writer(data, ".t-XXXXXX", 0666, c.method);
    EXPECT_EQ(writer.Publish(folder.Path() + "a.jpg"), c.published);
    EXPECT_GT(Fault::calls, 0);  // the fault was met
    EXPECT_EQ(writer.Method(), c.used);
    Fault::kind = Fault::None;
    // All of the bytes under the name, or nothing at all in the folder.
    if (c.published == 0) {
      EXPECT_EQ(ReadBytes(folder.Path() + "a.jpg"), data);
      EXPECT_EQ(folder.Names(), std::set<std::string>{"a.jpg"});
    } else {
      EXPECT_TRUE(folder.Names().empty());
    }
    // Replace stages a named temporary: a fault there leaves the old file.
    if (c.fault <= Fault::SyncFails && c.method == TMethod::Link) {
      WriteBytes(folder.Path() + "old", "old");
      Fault::kind = c.fault;
      EXPECT_EQ(TAtomicWriter(data).Replace(folder.Path() + "old"), c.published);
      Fault::kind = Fault::None;
      EXPECT_EQ(ReadBytes(folder.Path() + "old"), c.published == 0 ? data : "old");
    }
  }
  FileSystemCalls = real;
}

TEST(AtomicWriter, ReplaceSwapsTheWholeFileAndKeepsItsTemporaryNameOutOfSight) {
  TempFolder folder("fileio");
  const std::string key = folder.Path() + "Punchlet.reg";
  WriteBytes(key, std::string(5000, 'o'));
  TAtomicWriter writer(std::string_view("new"), "Punchlet.reg.tmp.XXXXXX", 0600);
  EXPECT_EQ(writer.Replace(key), 0);
  EXPECT_EQ(ReadBytes(key), "new");
  struct stat st {};
  ASSERT_EQ(::stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(folder.Names(), std::set<std::string>{"Punchlet.reg"});
  EXPECT_EQ(writer.Replace(key), EALREADY);
}

}  // namespace
