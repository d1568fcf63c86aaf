// The punch settings: the pressed states of the settings window's 22 group
// buttons and the imprint text, with the rules of a button group. The settings
// window shows and updates this record; the pipeline reads it.
#pragma once

#include <array>
#include <string>

enum class SizeClass { L, M, S };
enum class ShapeMode { AsIs, Square };
enum class BackgroundColour { White, Black };
// In the order of the frame group's buttons 1..11.
enum class FrameColour { None, Blue, Green, YellowGreen, Aqua, Purple, Pink, Red, Brown, Orange, Yellow };

class PunchSettings {
 public:
  static constexpr int GroupCount = 6;
  static constexpr const char* InitialImprintText = "(ここに文字を入力)";

  // One group button: its group (1..6), its number in the group (1..n) and
  // its stored value's name.
  struct Button {
    int group;
    int number;
    const char* valueName;
  };
  // All 22 buttons in the order they are read, written and made final.
  static const std::array<Button, 22>& StoreOrder();
  static int ButtonCount(int group);

  bool Pressed(int group, int number) const;
  // Pressing releases the group's other buttons; releasing works only while
  // all-up is allowed. Out-of-range buttons are ignored.
  void SetPressed(int group, int number, bool pressed);
  // The pressed button of a group, 0 when none is.
  int PressedButton(int group) const;

  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool allow) { FAllowAllUp = allow; }

  // Presses each group's default, in the order the load falls back in.
  void PressDefaults();

  std::string imprintText = InitialImprintText;

  // What the pipeline reads. A group with no pressed button reads as that
  // group's default.
  SizeClass sizeClass() const;
  ShapeMode shapeMode() const;
  BackgroundColour backgroundColour() const;
  FrameColour frameColour() const;
  bool textImprint() const;
  bool roundCorners() const;

 private:
  int Effective(int group) const;
  // FPressed[group - 1] = pressed button number, 0 = none.
  std::array<int, GroupCount> FPressed{};
  bool FAllowAllUp = true;
};
