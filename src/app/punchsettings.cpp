#include "app/punchsettings.h"

namespace {
constexpr std::array<int, PunchSettings::GroupCount> kButtonCounts{3, 2, 2, 11, 2, 2};
// Default button per group: M, as-is, white, no frame, no imprint, corners on.
constexpr std::array<int, PunchSettings::GroupCount> kDefaults{2, 1, 1, 1, 1, 2};
// Groups in the order their defaults are pressed (group 6 sits between 2 and 3).
constexpr std::array<int, PunchSettings::GroupCount> kDefaultOrder{1, 2, 6, 3, 4, 5};
}  // namespace

const std::array<PunchSettings::Button, 22>& PunchSettings::StoreOrder() {
  static const std::array<Button, 22> order{{
      {1, 1, "B1_01"}, {1, 2, "B1_02"}, {1, 3, "B1_03"}, {2, 1, "B2_01"}, {2, 2, "B2_02"},
      {6, 1, "B6_01"}, {6, 2, "B6_02"}, {3, 1, "B3_01"}, {3, 2, "B3_02"}, {4, 1, "B4_01"},
      {4, 2, "B4_02"}, {4, 3, "B4_03"}, {4, 4, "B4_04"}, {4, 5, "B4_05"}, {4, 6, "B4_06"},
      {4, 7, "B4_07"}, {4, 8, "B4_08"}, {4, 9, "B4_09"}, {4, 10, "B4_10"}, {4, 11, "B4_11"},
      {5, 1, "B5_01"}, {5, 2, "B5_02"},
  }};
  return order;
}

int PunchSettings::ButtonCount(int group) {
  return group >= 1 && group <= GroupCount ? kButtonCounts[group - 1] : 0;
}

bool PunchSettings::Pressed(int group, int number) const {
  return number >= 1 && number <= ButtonCount(group) && FPressed[group - 1] == number;
}

void PunchSettings::SetPressed(int group, int number, bool pressed) {
  if (number < 1 || number > ButtonCount(group)) return;
  int& current = FPressed[group - 1];
  if (pressed) {
    current = number;
  } else if (current == number && FAllowAllUp) {
    current = 0;
  }
}

int PunchSettings::PressedButton(int group) const {
  return group >= 1 && group <= GroupCount ? FPressed[group - 1] : 0;
}

void PunchSettings::PressDefaults() {
  for (int group : kDefaultOrder) SetPressed(group, kDefaults[group - 1], true);
}

int PunchSettings::Effective(int group) const {
  const int pressed = FPressed[group - 1];
  return pressed != 0 ? pressed : kDefaults[group - 1];
}

SizeClass PunchSettings::sizeClass() const { return static_cast<SizeClass>(Effective(1) - 1); }
ShapeMode PunchSettings::shapeMode() const {
  return Effective(2) == 2 ? ShapeMode::Square : ShapeMode::AsIs;
}
BackgroundColour PunchSettings::backgroundColour() const {
  return Effective(3) == 2 ? BackgroundColour::Black : BackgroundColour::White;
}
FrameColour PunchSettings::frameColour() const { return static_cast<FrameColour>(Effective(4) - 1); }
bool PunchSettings::textImprint() const { return Effective(5) == 2; }
bool PunchSettings::roundCorners() const { return Effective(6) == 2; }
