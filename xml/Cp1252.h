#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Windows-1252, the code page of project files. Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D, which the
// code page leaves undefined, map to the control characters of the same code.
QString Cp1252ToUnicode(QByteArrayView bytes);
// A character the code page lacks becomes `replacement`.
QByteArray UnicodeToCp1252(const QString& text, char replacement = '?');
