#include "app/settingsstore.h"

#include <exception>
#include <vector>

#include "platform/registry.h"

void LoadPunchSettings(PunchSettings& settings) {
  TRegistry reg(HKEY_CURRENT_USER);
  // Creating the key on a first run; if it fails, the first read fails too.
  reg.OpenKey(SettingsKey, true);
  try {
    // Pressing releases the rest of a group, so the last nonzero value wins.
    for (const PunchSettings::Button& button : PunchSettings::StoreOrder()) {
      settings.SetPressed(button.group, button.number, reg.ReadInteger(button.valueName) != 0);
    }
    // A missing text is an empty one; a text of another type is a failure.
    settings.imprintText =
        reg.ValueExists(ImprintTextValue) ? reg.ReadString(ImprintTextValue) : std::string();
  } catch (const std::exception&) {
    // Whatever was read before the failure is replaced group by group.
    settings.PressDefaults();
  }
  reg.CloseKey();
  settings.SetAllowAllUp(false);
}

void SavePunchSettings(const PunchSettings& settings) {
  TRegistry reg(HKEY_CURRENT_USER);
  // A key that cannot be opened makes the write fail, naming the first value.
  reg.OpenKey(SettingsKey, true);
  std::vector<TRegistry::TValue> values;
  for (const PunchSettings::Button& button : PunchSettings::StoreOrder()) {
    values.push_back(TRegistry::Integer(button.valueName,
                                        settings.Pressed(button.group, button.number) ? 1 : 0));
  }
  values.push_back(TRegistry::String(ImprintTextValue, settings.imprintText));
  // One replace of the file: a save stores all 23 values or none.
  reg.WriteValues(values);
  reg.CloseKey();
}
