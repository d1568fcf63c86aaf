#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/errors.h"

namespace fs = std::filesystem;

namespace {

const char* const kKey = "\\Software\\Tessaly\\Punchlet";
const char* const kHeader = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old != nullptr) FOldConfig = old;
    std::string folder = (fs::temp_directory_path() / "registry_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    FConfig = folder;
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  }
  void TearDown() override {
    if (FOldConfig) {
      ::setenv("XDG_CONFIG_HOME", FOldConfig->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    fs::remove_all(FConfig);
  }

  fs::path KeyFile() const { return FConfig / "Tessaly" / "Punchlet.reg"; }
  static std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  // The message of the ERegistryException a call raises, "" when none.
  template <typename F>
  static std::string Failure(F call) {
    try {
      call();
    } catch (const ERegistryException& e) {
      return e.Message();
    }
    return "";
  }

  fs::path FConfig;
  std::optional<std::string> FOldConfig;
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheExportFormat) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey(kKey, false));
  EXPECT_FALSE(fs::exists(KeyFile()));
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  EXPECT_EQ(ReadText(KeyFile()), kHeader);

  const std::string quoted = "C:\\dir \"q\" 日本語\t";
  reg.WriteInteger("Neg", -2);
  reg.WriteString("Quoted", quoted);
  reg.WriteExpandString("Expand", "%HOME%\\あ");
  reg.WriteString("Lines", "one\ntwo\r\n");
  reg.WriteInteger("NEG", 7);  // same value, other spelling: replaced where it stands
  EXPECT_EQ(ReadText(KeyFile()), std::string(kHeader) +
                                     "\"Neg\"=dword:00000007\n"
                                     "\"Quoted\"=\"C:\\\\dir \\\"q\\\" 日本語\t\"\n"
                                     "\"Expand\"=hex(2):25,48,4f,4d,45,25,5c,e3,81,82,00\n"
                                     "\"Lines\"=hex(1):6f,6e,65,0a,74,77,6f,0d,0a,00\n");

  TRegistry other;  // a second accessor reads what the first wrote
  EXPECT_FALSE(other.OpenKey("\\Software\\Tessaly", false));
  ASSERT_TRUE(other.OpenKey("Software\\Tessaly\\Punchlet\\", false));
  EXPECT_EQ(other.ReadInteger("neg"), 7);
  EXPECT_EQ(other.ReadString("quoted"), quoted);
  EXPECT_EQ(other.ReadString("Expand"), "%HOME%\\あ");
  EXPECT_EQ(other.ReadString("Lines"), "one\ntwo\r\n");
  EXPECT_EQ(other.GetDataType("Neg"), REG_DWORD);
  EXPECT_EQ(other.GetDataType("Quoted"), REG_SZ);
  EXPECT_EQ(other.GetDataType("Expand"), REG_EXPAND_SZ);
  other.WriteInteger("Neg", -1);
  EXPECT_EQ(reg.ReadInteger("Neg"), -1);
}

TEST_F(RegistryTest, ReadsFailOnMissingWrongTypeAndClosedKey) {
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
  EXPECT_FALSE(reg.ValueExists("Gone"));
  EXPECT_EQ(reg.GetDataType("Gone"), REG_NONE);

  reg.CloseKey();
  EXPECT_NE(Failure([&] { reg.ReadInteger("Int"); }), "");
  EXPECT_NE(Failure([&] { reg.ReadString("Str"); }), "");
  EXPECT_FALSE(reg.ValueExists("Int"));
  EXPECT_EQ(Failure([&] { reg.WriteInteger("Int", 2); }), "'Int' の設定に失敗しました");

  // Keys that have no place in the config folder, and a failed open keeps the old key.
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  for (const char* key : {"\\Software", "\\Other\\Key", "\\Software\\..\\x", "\\Software\\a/b"}) {
    EXPECT_FALSE(reg.OpenKey(key, true)) << key;
  }
  EXPECT_EQ(reg.ReadInteger("Int"), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(FConfig), fs::directory_iterator()), 1);
}

TEST_F(RegistryTest, ReadsHandWrittenFilesAndKeepsTheirOtherLines) {
  WriteText(KeyFile(),
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
            "; a comment\r\n"
            "[hkey_current_user\\software\\Tessaly\\Punchlet]\r\n"
            "\"A\"=dword:0000001F\r\n"
            "\"Long\"=hex(2):e3,81,82,\\\r\n"
            "  41,00\r\n"
            "\"Four\"=hex(4):01,02,00,80\r\n"
            "\"Multi\"=hex(7):41,00,00\r\n"
            "@=\"default\"\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet\\Sub]\r\n"
            "\"A\"=anything goes here\r\n");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadInteger("A"), 31);
  EXPECT_EQ(reg.ReadString("Long"), "あA");
  EXPECT_EQ(reg.ReadInteger("Four"), static_cast<int32_t>(0x80000201u));
  EXPECT_EQ(reg.GetDataType("Multi"), REG_BINARY);
  EXPECT_NE(Failure([&] { reg.ReadString("Multi"); }), "");
  EXPECT_EQ(reg.ReadString(""), "default");

  reg.WriteInteger("New", 5);  // lands in this key's section, not in the subkey's
  const std::string text = ReadText(KeyFile());
  EXPECT_NE(text.find("@=\"default\"\n\"New\"=dword:00000005\n\n[HKEY_CURRENT_USER"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"Long\"=hex(2):e3,81,82,\\\n  41,00\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"A\"=anything goes here\n"), std::string::npos) << text;
}

TEST_F(RegistryTest, UnparsableFileFailsReadsAndAWriteStartsOver) {
  const std::string good = std::string(kHeader) + "\"Keep\"=dword:00000001\n";
  for (const std::string& garbage :
       {std::string("\"Keep\"=dword:00000001\n"), good + "\"Bad\"=dword:12345678Z\n",
        good + "\"Bad\"=\"open\n", good + "\"Bad\"=\"a\\nb\"\n", good + "stray words\n",
        good + "\"Bad\"=hex(2):e3,,00\n", good + "[unclosed\n"}) {
    WriteText(KeyFile(), garbage);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_NE(Failure([&] { reg.ReadInteger("Keep"); }), "") << garbage;
    EXPECT_FALSE(reg.ValueExists("Keep")) << garbage;
    reg.WriteInteger("Fresh", 9);
    EXPECT_EQ(ReadText(KeyFile()), std::string(kHeader) + "\"Fresh\"=dword:00000009\n");
  }
  // A huge file is refused rather than read into memory.
  WriteText(KeyFile(), good);
  fs::resize_file(KeyFile(), 17u << 20);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_NE(Failure([&] { reg.ReadInteger("Keep"); }), "");
}

TEST_F(RegistryTest, FailedWriteNamesTheValueAndLeavesNothingBehind) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteInteger("B1_01", 1);
  // A folder where the key file should be: the rename cannot replace it.
  fs::remove(KeyFile());
  fs::create_directory(KeyFile());
  EXPECT_EQ(Failure([&] { reg.WriteInteger("B1_02", 0); }), "'B1_02' の設定に失敗しました");
  for (const auto& entry : fs::directory_iterator(KeyFile().parent_path())) {
    EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
  }
  // A file where the key's folder should be: nothing can be created below it.
  fs::remove_all(KeyFile().parent_path());
  WriteText(KeyFile().parent_path(), "not a folder");
  EXPECT_EQ(Failure([&] { reg.WriteString("B5_03", "x"); }), "'B5_03' の設定に失敗しました");
  EXPECT_FALSE(reg.OpenKey(kKey, true));
}

TEST_F(RegistryTest, ConcurrentAndCrashingWritersNeverLoseOrTearTheFile) {
  {
    TRegistry first;
    ASSERT_TRUE(first.OpenKey(kKey, true));
    auto writeMany = [](const char* prefix) {
      TRegistry reg;
      ASSERT_TRUE(reg.OpenKey(kKey, false));
      for (int i = 0; i < 40; ++i) reg.WriteInteger(prefix + std::to_string(i), i);
    };
    std::thread a(writeMany, "A"), b(writeMany, "B");
    a.join();
    b.join();
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(first.ReadInteger("A" + std::to_string(i)), i);
      EXPECT_EQ(first.ReadInteger("B" + std::to_string(i)), i);
    }
  }

  // A writer killed at an arbitrary moment leaves the old or the new file
  // complete, and its lock does not outlive it.
  const std::string padding(4000, 'p');
  for (int round = 0; round < 5; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        TRegistry reg;
        reg.OpenKey(kKey, false);
        for (int i = 0;; ++i) {
          reg.WriteInteger("Counter", i);
          reg.WriteString("Padding" + std::to_string(i % 50), padding);
        }
      } catch (...) {
      }
      ::_exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 15 * round));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadInteger("A39"), 39);
    if (reg.ValueExists("Padding0")) {
      EXPECT_EQ(reg.ReadString("Padding0"), padding);
    }
    reg.WriteInteger("AfterKill", round);
  }

  // A temporary file torn by a crash is no part of the key, and goes at the next write.
  const fs::path torn = KeyFile().string() + ".tmp.Ab12Cd";
  WriteText(torn, "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Tes");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadInteger("AfterKill"), 4);
  reg.WriteInteger("AfterKill", 5);
  EXPECT_FALSE(fs::exists(torn));
  EXPECT_EQ(reg.ReadInteger("B0"), 0);
}

}  // namespace
