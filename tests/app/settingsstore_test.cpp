#include "app/settingsstore.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>

#include "platform/errors.h"
#include "platform/registry.h"
#include "support/tempconfig.h"

namespace {

const char* const kNames[22] = {"B1_01", "B1_02", "B1_03", "B2_01", "B2_02", "B6_01",
                                "B6_02", "B3_01", "B3_02", "B4_01", "B4_02", "B4_03",
                                "B4_04", "B4_05", "B4_06", "B4_07", "B4_08", "B4_09",
                                "B4_10", "B4_11", "B5_01", "B5_02"};
// M, as-is, white, no frame, no imprint, corners on.
constexpr std::array<int, 6> kDefaults{2, 1, 1, 1, 1, 2};

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
  EXPECT_EQ(config.ReadText(config.KeyFile()),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n");

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

  config.WriteText(config.KeyFile(), "\"B1_01\"=dword:00000001\n");  // not the export format
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
  std::string expected = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n";
  const std::set<std::string> pressed{"B1_02", "B6_02", "B3_02", "B4_07", "B5_02"};
  for (const char* name : kNames) {
    expected.append("\"").append(name).append("\"=dword:0000000");
    expected.append(pressed.contains(name) ? "1\n" : "0\n");
  }
  expected.append("\"B5_03\"=\"").append(escaped).append("\"\n");
  EXPECT_EQ(config.ReadText(config.KeyFile()), expected);

  // All numbers present, the text missing: an empty text, not the initial one.
  Store(config, {{"B1_03", 1}}, "", {"B5_03"});
  PunchSettings noText;
  EXPECT_EQ(Loaded(noText)[0], 3);
  EXPECT_EQ(noText.imprintText, "");

  // A save that cannot write stops at the first value and names it.
  std::filesystem::remove(config.KeyFile());
  std::filesystem::create_directory(config.KeyFile());
  try {
    SavePunchSettings(settings);
    ADD_FAILURE() << "the save did not fail";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.Message(), "'B1_01' の設定に失敗しました");
  }
}

}  // namespace
