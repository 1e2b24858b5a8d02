#pragma once

#include <QString>

class TGroups;

// The registry that the program currently works on (the main window's, or the headless
// runner's). Whoever creates a registry for the program sets it; a registry that is destroyed
// while current clears it.
void SetCurrentRegistry(TGroups* registry);
TGroups* CurrentRegistry();

// Whether any device of the current registry has exactly this address text (groups in registry
// order, devices in member order, first match). False when there is no current registry.
bool IPAddressInUse(const QString& text);
