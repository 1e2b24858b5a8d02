#pragma once

#include <QString>

class TGroups;

// Whether any device of `registry` has exactly this address text (groups in registry order,
// devices in member order, first match).
bool IPAddressInUse(const TGroups& registry, const QString& text);
