#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

#include "platform/errors.h"
#include "support/files.h"
#include "support/tempconfig.h"

namespace fs = std::filesystem;

// While set, syncing a folder fails as a failing disk would; files sync as usual.
static std::atomic<bool> gFolderSyncFails = false;

extern "C" int fsync(int fd) {
  struct stat info;
  if (gFolderSyncFails && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

const char* const kKey = "\\Software\\Tessaly\\Punchlet";
const std::string kHeader = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n";

// The message of the ERegistryException a call raises, or with detail the
// second line of its report; "" when none is raised.
template <typename F>
std::string Failure(F call, bool detail = false) {
  try {
    call();
  } catch (const ERegistryException& e) {
    return detail ? e.Detail() : e.Message();
  }
  return "";
}

TEST(Registry, ValuesRoundTripThroughTheExportFormat) {
  TempConfigHome config;
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey(kKey, false));
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  EXPECT_EQ(ReadBytes(config.KeyFile()), kHeader);

  const std::string quoted = "C:\\dir \"q\" 日本語\t";
  reg.WriteInteger("Neg", -2);
  reg.WriteString("Quoted", quoted);
  reg.WriteExpandString("Expand", "%HOME%\\あ");
  reg.WriteString("Lines", "one\ntwo\r\n");
  reg.WriteInteger("NEG", 7);  // same value, other spelling: replaced where it stands
  EXPECT_EQ(reg.ReadInteger("neg"), 7);
  EXPECT_EQ(ReadBytes(config.KeyFile()), kHeader +
                                             "\"Neg\"=dword:00000007\n"
                                             "\"Quoted\"=\"C:\\\\dir \\\"q\\\" 日本語\t\"\n"
                                             "\"Expand\"=hex(2):25,48,4f,4d,45,25,5c,e3,81,82,00\n"
                                             "\"Lines\"=hex(1):6f,6e,65,0a,74,77,6f,0d,0a,00\n");

  TRegistry other;  // relative to the root when no key is open
  ASSERT_TRUE(other.OpenKey("Software\\Tessaly\\Punchlet\\", false));
  EXPECT_EQ(other.ReadInteger("neg"), 7);
  EXPECT_EQ(other.ReadString("quoted"), quoted);
  EXPECT_EQ(other.ReadString("Expand"), "%HOME%\\あ");
  EXPECT_EQ(other.GetDataType("Expand"), REG_EXPAND_SZ);
  EXPECT_EQ(other.ReadString("Lines"), "one\ntwo\r\n");
  // An open key reads the file as it was when opened or last written through
  // it, so one load sees one version however many values it reads.
  other.WriteInteger("Neg", -1);
  EXPECT_EQ(reg.ReadInteger("Neg"), 7);
  EXPECT_EQ(reg.ReadString("Quoted"), quoted);
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadInteger("Neg"), -1);
}

TEST(Registry, ReadsFailOnMissingWrongTypeAndClosedKey) {
  TempConfigHome config;
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteInteger("Int", 1);
  reg.WriteString("Str", "x");
  reg.WriteExpandString("Exp", "y");
  EXPECT_EQ(Failure([&] { reg.ReadInteger("Gone"); }), "'Gone' の取得に失敗しました");
  EXPECT_EQ(Failure([&] { reg.ReadString("Gone"); }), "'Gone' の取得に失敗しました");
  EXPECT_EQ(Failure([&] { reg.ReadInteger("Str"); }), "データ型 'Str' が無効です");
  EXPECT_EQ(Failure([&] { reg.ReadInteger("Exp"); }), "データ型 'Exp' が無効です");
  EXPECT_EQ(Failure([&] { reg.ReadString("Int"); }), "データ型 'Int' が無効です");

  reg.CloseKey();
  EXPECT_NE(Failure([&] { reg.ReadInteger("Int"); }), "");
  EXPECT_FALSE(reg.ValueExists("Int"));
  EXPECT_EQ(Failure([&] { reg.WriteInteger("Int", 2); }), "'Int' の設定に失敗しました");

  // Keys with no place in the config folder fail, and the open key stays open.
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  for (const char* key : {"\\Software", "\\Other\\Key", "\\Software\\..\\x", "\\Software\\a/b"}) {
    EXPECT_FALSE(reg.OpenKey(key, true)) << key;
  }
  EXPECT_EQ(reg.ReadInteger("Int"), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(config.Folder()), {}), 1);
}

TEST(Registry, ReadsHandWrittenFilesAndKeepsTheirOtherLines) {
  TempConfigHome config;
  WriteBytes(config.KeyFile(),
             "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
             "; a comment\r\n"
             "[hkey_current_user\\software\\Tessaly\\Punchlet]\r\n"
             "\"A\"=dword:0000001F\r\n"
             "\"Twice\"=dword:00000001\r\n"
             "\"Long\"=hex(2):e3,81,82,\\\r\n"
             "  41,00\r\n"
             "\"Four\"=hex(4):01,02,00,80\r\n"
             "\"Multi\"=hex(7):41,00,00\r\n"
             "@=\"default\"\r\n"
             "\"TWICE\"=dword:00000002\r\n"
             "\r\n"
             "[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet\\Sub]\r\n"
             "\"A\"=anything goes here\r\n");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadInteger("A"), 31);
  EXPECT_EQ(reg.ReadString("Long"), "あA");
  EXPECT_EQ(reg.ReadInteger("Four"), static_cast<int32_t>(0x80000201u));
  EXPECT_EQ(reg.GetDataType("Multi"), REG_BINARY);
  EXPECT_EQ(reg.ReadString(""), "default");
  EXPECT_EQ(reg.ReadInteger("twice"), 2);  // a name given twice: the later line counts

  reg.WriteInteger("New", 5);  // lands in this key's section, not in the subkey's
  const std::string text = ReadBytes(config.KeyFile());
  EXPECT_NE(text.find("; a comment\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Long\"=hex(2):e3,81,82,\\\n  41,00\n"), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"default\"\n\"New\"=dword:00000005\n\n[HKEY_CURRENT_USER"),
            std::string::npos)
      << text;
  // ... and is written back once, where the name first stood.
  EXPECT_NE(text.find("\"A\"=dword:0000001F\n\"TWICE\"=dword:00000002\n\"Long\""),
            std::string::npos)
      << text;
}

TEST(Registry, MalformedLinesAreSkippedAndKeptOnlyOutsideTheKey) {
  TempConfigHome config;
  const std::string good = kHeader + "\"Keep\"=dword:00000001\n";
  const std::string foreign = "\n[HKEY_CURRENT_USER\\Software\\Other]\n\"X\"=what ever\nstray\n";
  const std::string fresh = "\"Fresh\"=dword:00000009\n";
  struct Case {
    std::string file, written;  // written: the file after a write of Fresh
    int keep;                   // the value read, -1 when reads fail
  };
  for (const Case& c : std::initializer_list<Case>{
           // Not an export at all: nothing is read and a write starts over.
           {"\"Keep\"=dword:00000001\n", kHeader + fresh, -1},
           // Broken lines in the key are skipped and dropped when it is written.
           {good + "\"Bad\"=dword:12345678Z\n", good + fresh, 1},
           {good + "\"Bad\"=\"open\n\"Bad\"=\"a\\nb\"\nstray words\n", good + fresh, 1},
           {good + "\"Bad\"=hex(2):e3,,00\n[unclosed\n\"Keep\"=dword:\n", good + fresh, 1},
           // Other sections and lines outside any key stay as they were.
           {"REGEDIT4\nloose line\n" + foreign +
                "\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n",
            "REGEDIT4\nloose line\n" + foreign +
                "\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n" + fresh,
            -1},
           {good + foreign, good + fresh + foreign, 1},
       }) {
    SCOPED_TRACE(c.file);
    WriteBytes(config.KeyFile(), c.file);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ValueExists("Keep"), c.keep >= 0);
    if (c.keep >= 0) {
      EXPECT_EQ(reg.ReadInteger("Keep"), c.keep);
    }
    EXPECT_FALSE(reg.ValueExists("Bad"));
    reg.WriteInteger("Fresh", 9);
    EXPECT_EQ(ReadBytes(config.KeyFile()), c.written);
  }
  fs::resize_file(config.KeyFile(), 2u << 20);  // too big to be read into memory
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_NE(Failure([&] { reg.ReadInteger("Fresh"); }), "");
}

TEST(Registry, OtherEncodingsAreReadAndWrittenBackAsUtf8) {
  TempConfigHome config;
  // The registry editor's own export: UTF-16LE with a byte order mark.
  const std::u16string exported =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      u"\"名前\"=\"値\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\r\n"
      u"\"Text\"=\"日本語\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : exported) bytes += {char(c & 0xFF), char(c >> 8)};
  WriteBytes(config.KeyFile(), bytes);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadString("Text"), "日本語");
  reg.WriteInteger("N", 1);
  EXPECT_EQ(ReadBytes(config.KeyFile()),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other]\n\"名前\"=\"値\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n"
            "\"Text\"=\"日本語\"\n\"N\"=dword:00000001\n");

  // A text in the Japanese code page, and bytes that are not even that.
  WriteBytes(config.KeyFile(), kHeader + "\"Sjis\"=\"\x93\xfa\x96\x7b\"\n\"Latin\"=\"caf\xe9\"\n");
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadString("Sjis"), "日本");
  EXPECT_EQ(reg.ReadString("Latin"), "caf\u00e9");
}

TEST(Registry, FailedWriteNamesTheValueAndLeavesNothingBehind) {
  TempConfigHome config;
  const fs::path folder = config.KeyFile().parent_path();
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteInteger("Kept", 1);  // a value that would make the file too big to read is refused
  EXPECT_EQ(Failure([&] { reg.WriteString("Huge", std::string(2u << 20, 'x')); }),
            "'Huge' の設定に失敗しました");
  EXPECT_EQ(reg.ReadInteger("Kept"), 1);
  // Once the new file is in place, a folder that cannot be synced fails nothing.
  gFolderSyncFails = true;
  reg.WriteInteger("Synced", 2);
  gFolderSyncFails = false;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadInteger("Synced"), 2);
  fs::remove(config.KeyFile());
  fs::create_directory(config.KeyFile());  // the rename cannot replace a folder
  EXPECT_EQ(Failure([&] { reg.WriteInteger("B1_02", 0); }), "'B1_02' の設定に失敗しました");
  // The report says which file and why, not only which value.
  EXPECT_EQ(Failure([&] { reg.WriteInteger("B1_02", 0); }, true),
            config.KeyFile().string() + ": not a regular file");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2);  // key folder and lock
  fs::remove_all(folder);
  WriteBytes(folder, "a file where the key's folder belongs");
  EXPECT_EQ(Failure([&] { reg.WriteString("B5_03", "x"); }), "'B5_03' の設定に失敗しました");
  // A key that cannot be opened names the file it tried in the write's report.
  EXPECT_FALSE(reg.OpenKey(kKey, true));
  EXPECT_EQ(Failure([&] { reg.WriteString("B5_03", "x"); }, true),
            config.KeyFile().string() + ": " + std::strerror(ENOTDIR));
}

TEST(Registry, ConcurrentAndCrashingWritersNeverLoseOrTearTheFile) {
  TempConfigHome config;
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  auto writeMany = [](char prefix) {
    TRegistry mine;
    ASSERT_TRUE(mine.OpenKey(kKey, false));
    for (int i = 0; i < 40; ++i) mine.WriteInteger(prefix + std::to_string(i), i);
  };
  std::thread a(writeMany, 'A'), b(writeMany, 'B');
  a.join();
  b.join();
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(reg.ReadInteger("A" + std::to_string(i)), i);
    EXPECT_EQ(reg.ReadInteger("B" + std::to_string(i)), i);
  }

  // A writer killed at any moment leaves a complete file and no lock behind.
  const std::string padding(4000, 'p');
  for (int round = 0; round < 4; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        for (int i = 0;; ++i) reg.WriteString("Pad" + std::to_string(i % 50), padding);
      } catch (...) {
      }
      ::_exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 20 * round));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadInteger("A39"), 39);
    if (reg.ValueExists("Pad0")) {
      EXPECT_EQ(reg.ReadString("Pad0"), padding);
    }
    reg.WriteInteger("Round", round);
  }

  // A temporary file torn by a crash is no part of the key and goes at the next write.
  const fs::path torn = config.KeyFile().string() + ".tmp.Ab12Cd";
  WriteBytes(torn, "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Tes");
  EXPECT_EQ(reg.ReadInteger("Round"), 3);
  reg.WriteInteger("Round", 4);
  EXPECT_FALSE(fs::exists(torn));
}

}  // namespace
