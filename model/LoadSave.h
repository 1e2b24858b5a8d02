#pragma once

#include "model/Constants.h"

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
// when the whole text was written (where the folder allows no temporary file, the file is
// written directly). A name that stands for anything but a regular file (a device, a pipe, a
// directory) is refused; symbolic links are followed to the file they lead to. Without bounds
// the default window bounds are written. Raises EFileError "Cannot create file <name>".
void SaveProject(TGroups& registry, const QString& fileName, const IFormBounds* bounds);

// Reads a project file into `registry` (just created, empty), every change made with the project
// file as its source (TChangeSource::File), and hands the window bounds it
// holds to `bounds` (when given). A file that does not exist loads as an empty project. Raises
// EFileError "Cannot open file <name>" for a file that exists but cannot be read, "<name> is
// damaged: it ends before </Groups>" for one whose Groups element is missing or never closed,
// and the conversion errors of the values; what was read before an error stays in the registry.
void LoadProject(TGroups& registry, const QString& fileName, IFormBounds* bounds);
