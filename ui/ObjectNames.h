#pragma once

#include <QObject>
#include <QString>

// Gives a control the name its window knows it by, so that tests and tools find it with
// findChild instead of reaching into the window's members; returns the control.
template <class T> T* Named(T* object, const char* name) {
    object->setObjectName(QLatin1String(name));
    return object;
}
