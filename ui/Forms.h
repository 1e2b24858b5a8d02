#pragma once

#include <QString>

class QWidget;
class TSearchForm;
class TMuteForm;
class TForm4;
class TGroupNameForm;
class TDeviceNameForm;
class TAboutBoxForm;

// The windows that exist once for the whole run, created at program start in this order after
// the main window, and reachable program-wide under their names. Null until created (and in
// tests that create a window on its own).
extern TSearchForm* SearchForm;
extern TMuteForm* MuteForm;
extern TForm4* Form4;
extern TGroupNameForm* GroupNameForm;
extern TDeviceNameForm* DeviceNameForm;
extern TAboutBoxForm* AboutBoxForm;

// The name shown in the task bar and the caption of every message box.
inline QString ApplicationTitle() {
    return QStringLiteral("ZYL Controls Fadelink");
}

// The program's one error display: application title as caption, error icon, OK, the message
// with "." appended when its last character's code is above that of ".".
void ShowErrorMessage(QWidget* parent, const QString& message);
