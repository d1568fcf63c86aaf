// What screen readers are told about our buttons: push buttons, or radio
// buttons with their checked state when they belong to a group, named by
// their accessible name or else by their caption. Other widgets keep Qt's own
// description (the role Client).
#pragma once

// Registers the description with Qt once; later calls do nothing.
void InstallButtonAccessibility();
