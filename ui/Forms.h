#pragma once

#include <QString>

class QWidget;

// The name shown in the task bar and the caption of every message box.
inline QString ApplicationTitle() {
    return QStringLiteral("ZYL Controls Fadelink");
}

// The program's one error display: application title as caption, error icon, OK, the message
// with "." appended when its last character's code is above that of ".".
void ShowErrorMessage(QWidget* parent, const QString& message);
