#include "app/settingsstore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/errors.h"
#include "platform/registry.h"
#include "support/files.h"
#include "support/tempconfig.h"

namespace {

const char* const kNames[22] = {"B1_01", "B1_02", "B1_03", "B2_01", "B2_02", "B6_01",
                                "B6_02", "B3_01", "B3_02", "B4_01", "B4_02", "B4_03",
                                "B4_04", "B4_05", "B4_06", "B4_07", "B4_08", "B4_09",
                                "B4_10", "B4_11", "B5_01", "B5_02"};
// M, as-is, white, no frame, no imprint, corners on.
constexpr std::array<int, 6> kDefaults{2, 1, 1, 1, 1, 2};
const std::string kEmptyKey = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n";

// A fresh key: the 22 values (0 unless given) and the text, leaving out the names in skip.
void Store(const TempConfigHome& config, const std::map<std::string, int>& values,
           const std::string& text, std::set<std::string> skip = {}) {
  std::filesystem::remove(config.KeyFile());
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(SettingsKey, true));
  for (const char* name : kNames) {
    if (!skip.contains(name)) reg.WriteInteger(name, values.contains(name) ? values.at(name) : 0);
  }
  if (!skip.contains("B5_03")) reg.WriteString("B5_03", text);
}

std::array<int, 6> Loaded(PunchSettings& settings) {
  LoadPunchSettings(settings);
  EXPECT_FALSE(settings.AllowAllUp());
  std::array<int, 6> pressed{};
  for (int group = 1; group <= 6; ++group) pressed[group - 1] = settings.PressedButton(group);
  return pressed;
}

TEST(SettingsStore, FailedLoadsPressTheDefaultsAndKeepTheText) {
  TempConfigHome config;
  PunchSettings first;  // first run: the key is made, empty
  EXPECT_EQ(Loaded(first), kDefaults);
  EXPECT_EQ(first.imprintText, "(ここに文字を入力)");
  EXPECT_EQ(ReadBytes(config.KeyFile()), kEmptyKey);

  // Groups 1 and 2 come before the missing values and still end at their defaults.
  const std::map<std::string, int> chosen{{"B1_01", 1}, {"B2_02", 1}, {"B3_02", 1},
                                          {"B4_05", 1}, {"B5_02", 1}, {"B6_01", 1}};
  Store(config, chosen, "stored", {"B6_01", "B6_02"});
  PunchSettings settings;
  settings.imprintText = "typed";
  EXPECT_EQ(Loaded(settings), kDefaults);
  EXPECT_EQ(settings.imprintText, "typed");

  // The text stored as a number fails the last read.
  Store(config, chosen, "", {"B5_03"});
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(SettingsKey, false));
  reg.WriteInteger("B5_03", 1);
  PunchSettings numberText;
  EXPECT_EQ(Loaded(numberText), kDefaults);
  EXPECT_EQ(numberText.imprintText, "(ここに文字を入力)");

  WriteBytes(config.KeyFile(), "\"B1_01\"=dword:00000001\n");  // not the export format
  PunchSettings garbage;
  EXPECT_EQ(Loaded(garbage), kDefaults);
}

TEST(SettingsStore, LoadTakesTheStoredStatesAndSaveWritesThemBack) {
  TempConfigHome config;
  std::string longText, escaped;
  for (int i = 0; i < 100; ++i) {
    longText += "あa\"";
    escaped += "あa\\\"";
  }
  // Two of group 1: the later wins. Group 2 all 0: none. 2 counts as pressed.
  Store(config,
        {{"B1_01", 1}, {"B1_02", 1}, {"B6_02", 2}, {"B3_02", 1}, {"B4_07", 1}, {"B5_02", 1}},
        longText);
  PunchSettings settings;
  EXPECT_EQ(Loaded(settings), (std::array<int, 6>{2, 0, 2, 7, 2, 2}));
  EXPECT_EQ(settings.imprintText, longText);

  std::filesystem::remove(config.KeyFile());
  SavePunchSettings(settings);
  std::string expected = kEmptyKey;
  const std::set<std::string> pressed{"B1_02", "B6_02", "B3_02", "B4_07", "B5_02"};
  for (const char* name : kNames) {
    expected.append("\"").append(name).append("\"=dword:0000000");
    expected.append(pressed.contains(name) ? "1\n" : "0\n");
  }
  expected.append("\"B5_03\"=\"").append(escaped).append("\"\n");
  EXPECT_EQ(ReadBytes(config.KeyFile()), expected);

  // All numbers present, the text missing: an empty text, not the initial one.
  Store(config, {{"B1_03", 1}}, "", {"B5_03"});
  PunchSettings noText;
  EXPECT_EQ(Loaded(noText)[0], 3);
  EXPECT_EQ(noText.imprintText, "");
}

// The message of the ERegistryException a save raises, "" when none.
// The failure's message, or with report its whole two-line report.
std::string SaveFailure(const PunchSettings& settings, bool report = false) {
  try {
    SavePunchSettings(settings);
  } catch (const ERegistryException& e) {
    return report ? ErrorReport(e) : e.Message();
  }
  return "";
}

// Another instance holding the key file's lock, as a hung one would: from a
// thread of its own, with its own open file, until released (or 10 seconds
// have passed, so a store that waits for ever fails the test instead of
// hanging it).
class HeldLock {
 public:
  explicit HeldLock(const TempConfigHome& config) {
    std::promise<bool> taken;
    std::future<bool> held = taken.get_future();
    FThread = std::thread([this, &taken, path = config.KeyFile().string() + ".lock"] {
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      taken.set_value(fd >= 0 && ::flock(fd, LOCK_EX) == 0);
      std::unique_lock<std::mutex> lock(FMutex);
      FWake.wait_for(lock, std::chrono::seconds(10), [this] { return FReleased; });
      ::close(fd);
    });
    EXPECT_TRUE(held.get());
  }
  ~HeldLock() { Release(); }
  void Release() {
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      FReleased = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FReleased = false;
  std::thread FThread;
};

}  // namespace

TEST(SettingsStore, SaveReplacesTheFileWholeOrNotAtAll) {
  TempConfigHome config;
  PunchSettings first, second;
  first.PressDefaults();
  first.imprintText = "first";
  second.PressDefaults();
  for (auto [group, number] : {std::pair{1, 1}, {2, 2}, {3, 2}, {4, 11}, {5, 2}, {6, 1}})
    second.SetPressed(group, number, true);
  second.imprintText = "second";
  SavePunchSettings(first);
  const std::string firstFile = ReadBytes(config.KeyFile());

  // Loads while another instance saves now one, now the other: every load
  // sees one of the two whole, never a mix.
  std::atomic<bool> saving = true;
  std::thread saver([&] {
    for (int i = 0; i < 40; ++i) SavePunchSettings(i % 2 ? first : second);
    saving = false;
  });
  int loads = 0, mixed = 0;
  while (saving || loads < 5) {
    PunchSettings loaded;
    LoadPunchSettings(loaded);
    const PunchSettings& like = loaded.imprintText == "first" ? first : second;
    for (int group = 1; group <= 6; ++group)
      mixed += loaded.PressedButton(group) != like.PressedButton(group);
    ++loads;
  }
  saver.join();
  EXPECT_EQ(mixed, 0) << "in " << loads << " loads";
  EXPECT_EQ(ReadBytes(config.KeyFile()), firstFile);

  // A save too big for the key file stores none of its values.
  second.imprintText.assign(2u << 20, 'x');
  EXPECT_EQ(SaveFailure(second), "'B1_01' の設定に失敗しました");
  EXPECT_EQ(ReadBytes(config.KeyFile()), firstFile);

  // The file's permission bits survive a save; without the owner's write bit
  // the user has locked it, and it stays as it is even for root.
  second.imprintText = "second";
  std::filesystem::permissions(config.KeyFile(), std::filesystem::perms(0664));
  const mode_t mask = ::umask(022);  // would take the group's write bit from a new file
  SavePunchSettings(second);
  ::umask(mask);
  EXPECT_EQ(std::filesystem::status(config.KeyFile()).permissions(), std::filesystem::perms(0664));
  const std::string secondFile = ReadBytes(config.KeyFile());
  std::filesystem::permissions(config.KeyFile(), std::filesystem::perms(0444));
  EXPECT_EQ(SaveFailure(first, true),
            "'B1_01' の設定に失敗しました.\n" + config.KeyFile().string() + ": Permission denied");
  EXPECT_EQ(ReadBytes(config.KeyFile()), secondFile);
}

TEST(SettingsStore, AHeldLockDelaysLoadAndSaveAtMostBriefly) {
  TempConfigHome config;
  PunchSettings chosen;
  chosen.PressDefaults();
  chosen.SetPressed(1, 3, true);
  chosen.imprintText = "kept";
  SavePunchSettings(chosen);
  const std::string stored = ReadBytes(config.KeyFile());
  {
    HeldLock other(config);
    // A load reads the file as it is.
    PunchSettings loaded;
    LoadPunchSettings(loaded);
    EXPECT_EQ(loaded.PressedButton(1), 3);
    EXPECT_EQ(loaded.imprintText, "kept");
    // A save gives up with a write failure and leaves the file alone.
    PunchSettings changed = chosen;
    changed.SetPressed(1, 1, true);
    EXPECT_EQ(SaveFailure(changed), "'B1_01' の設定に失敗しました");
    EXPECT_EQ(ReadBytes(config.KeyFile()), stored);
    // With no file, a load takes the defaults and makes the empty key, which
    // never replaces anything and so needs no lock.
    std::filesystem::remove(config.KeyFile());
    PunchSettings fresh;
    LoadPunchSettings(fresh);
    EXPECT_EQ(fresh.PressedButton(1), 2);
    EXPECT_EQ(ReadBytes(config.KeyFile()), kEmptyKey);
  }
  // A lock let go while the save waits does not fail it.
  HeldLock brief(config);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    brief.Release();
  });
  EXPECT_EQ(SaveFailure(chosen), "");
  release.join();
  EXPECT_EQ(ReadBytes(config.KeyFile()), stored);
}

TEST(SettingsStore, ALinkInPlaceOfTheFileIsReadAndWrittenThrough) {
  TempConfigHome config;
  namespace fs = std::filesystem;
  const fs::path link = config.KeyFile(), elsewhere = config.Folder() / "dotfiles";
  fs::create_directories(link.parent_path());
  fs::create_directories(elsewhere);
  PunchSettings chosen;
  chosen.PressDefaults();
  chosen.SetPressed(4, 3, true);
  chosen.imprintText = "linked";

  // A link to a file: read through it; a save replaces the file it leads to.
  Store(config,
        {{"B1_03", 1}, {"B2_01", 1}, {"B6_02", 1}, {"B3_01", 1}, {"B4_01", 1}, {"B5_01", 1}},
        "there");
  fs::rename(link, elsewhere / "Punchlet.reg");
  fs::create_symlink("../dotfiles/Punchlet.reg", link);
  PunchSettings loaded;
  LoadPunchSettings(loaded);
  EXPECT_EQ(loaded.PressedButton(1), 3);
  EXPECT_EQ(loaded.imprintText, "there");
  SavePunchSettings(chosen);
  EXPECT_NE(ReadBytes(elsewhere / "Punchlet.reg").find("\"B5_03\"=\"linked\""), std::string::npos);

  // A link that leads nowhere: the defaults, and the load writes nothing. A
  // save makes the file the link leads to, as an editor would.
  fs::remove(elsewhere / "Punchlet.reg");
  PunchSettings dangling;
  dangling.imprintText = "typed";
  EXPECT_EQ(Loaded(dangling), kDefaults);
  EXPECT_EQ(dangling.imprintText, "typed");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_FALSE(fs::exists(elsewhere / "Punchlet.reg"));
  SavePunchSettings(chosen);
  EXPECT_TRUE(fs::is_symlink(link));
  PunchSettings again;
  LoadPunchSettings(again);
  EXPECT_EQ(again.PressedButton(4), 3);

  // A link to a pipe or a folder: the defaults, and a save fails saying
  // why, leaving what the link leads to as it is.
  for (const char* target : {"pipe", "folder"}) {
    SCOPED_TRACE(target);
    const fs::path node = elsewhere / target;
    if (target == std::string("pipe"))
      ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
    else
      fs::create_directory(node);
    fs::remove(link);
    fs::create_symlink(node, link);
    PunchSettings other;
    EXPECT_EQ(Loaded(other), kDefaults);
    EXPECT_EQ(SaveFailure(chosen, true),
              "'B1_01' の設定に失敗しました.\n" + link.string() + ": not a regular file");
    EXPECT_EQ(fs::status(node).type(),
              target == std::string("pipe") ? fs::file_type::fifo : fs::file_type::directory);
  }

  // A link in a loop, or into a missing folder: the defaults, and a save
  // fails as a write failure, leaving the link as it is.
  for (const char* target : {"Punchlet.reg", "../missing/Punchlet.reg"}) {
    SCOPED_TRACE(target);
    fs::remove(link);
    fs::create_symlink(target, link);
    PunchSettings looped;
    EXPECT_EQ(Loaded(looped), kDefaults);
    EXPECT_EQ(SaveFailure(chosen), "'B1_01' の設定に失敗しました");
    EXPECT_EQ(fs::read_symlink(link), target);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(link.parent_path()), {}), 2);  // link and lock
}
