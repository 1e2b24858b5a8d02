#pragma once

#include <QLoggingCategory>
#include <QString>

// The trace facility: constructors, destructors and the poll threads call it with fixed texts
// such as "TGroup.Create Begin". It maps to a debug-level category that is off by default;
// enable it with QT_LOGGING_RULES="fadelink.trace.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcTrace)

void Trace(const QString& text);
