// Loading and saving the punch settings in the per-user registry key.
#pragma once

#include "app/punchsettings.h"

inline constexpr const char* SettingsKey = "\\Software\\Tessaly\\Punchlet";
// The imprint text's value; the 22 button values are PunchSettings::StoreOrder().
inline constexpr const char* ImprintTextValue = "B5_03";

// Reads the stored settings into the record, once per run, while all-up is
// still allowed (so a stored 0 can release a button). Any failure is silent:
// every group gets its default and the text stays as it was. All-up is
// switched off at the end, whatever happened.
void LoadPunchSettings(PunchSettings& settings);

// Writes the 22 pressed states (1 or 0) and then the text, in the load's
// order, with one atomic replace of the key file. A save that cannot write
// raises ERegistryException naming the first value, and stores nothing; so
// does one that cannot get the key file's lock in time.
void SavePunchSettings(const PunchSettings& settings);
