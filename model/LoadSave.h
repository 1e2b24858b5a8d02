#pragma once

#include <QRect>
#include <QString>

class TGroups;

// The main window's position and outer size, as a project file stores them (x = Left, y = Top).
// The main window implements it; the project file code never sees a window.
class IFormBounds {
public:
    virtual ~IFormBounds();
    virtual QRect FormBounds() const = 0;
    virtual void SetFormBounds(const QRect& r) = 0;
};

// Writes the registry and the window bounds to `fileName` as a project file, replacing it only
// when the whole text was written. Without bounds the default window bounds are written.
// Raises EFileError "Cannot create file <name>".
void SaveProject(TGroups& registry, const QString& fileName, const IFormBounds* bounds);

// Reads a project file into `registry` (just created, empty) and hands the window bounds it
// holds to `bounds` (when given). A file that does not exist loads as an empty project. Raises
// EFileError "Cannot open file <name>" for a file that exists but cannot be read, and the
// conversion errors of the values; what was read before an error stays in the registry.
void LoadProject(TGroups& registry, const QString& fileName, IFormBounds* bounds);
