// Opening a project file of arbitrary bytes. Conversion and file errors are expected and end the
// load; anything else escaping is a fault. Whatever the load put into the registry (also when an
// error stopped it half-way) must survive Save and Open: the saved file opens without an error,
// holds every device, and saving what it opens writes the same text again.
#include "device/DeviceUnit.h"
#include "fuzz/FuzzSupport.h"
#include "model/Errors.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/LoadSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRect>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <numeric>

namespace {
class TBounds : public IFormBounds {
public:
    QRect FormBounds() const override { return FRect; }
    void SetFormBounds(const QRect& r) override { FRect = r; }

private:
    QRect FRect{190, 105, 1475, 901};
};

// Saving syncs the file to disk; in memory that costs nothing, which keeps the engine fast.
QString TemporaryPattern() {
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    const QString base = memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
    return base + QStringLiteral("/fuzz-XXXXXX");
}

struct TPlace {
    TPlace() { HoldToLoopbackWithoutPollThreads(); }
    QTemporaryDir Dir{TemporaryPattern()};
    const QString Input = Dir.filePath(QStringLiteral("input.pac"));
    const QString Saved = Dir.filePath(QStringLiteral("saved.pac"));
    const QString Resaved = Dir.filePath(QStringLiteral("resaved.pac"));
};

TPlace& Place() {
    static TPlace place;
    return place;
}

void Write(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    FuzzCheck(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
              "the input file can be written");
}

QByteArray Read(const QString& fileName) {
    QFile file(fileName);
    FuzzCheck(file.open(QIODevice::ReadOnly), "a saved file can be read");
    return file.readAll();
}

qsizetype DeviceCount(const TGroups& registry) {
    return std::accumulate(
        registry.Groups().cbegin(), registry.Groups().cend(), qsizetype(0),
        [](qsizetype count, const TGroup* group) { return count + group->Devices().size(); });
}

// Opens `fileName` into a new registry; true when no error stopped the load.
bool Open(const QString& fileName, std::unique_ptr<TGroups>& registry, TBounds& bounds) {
    registry = std::make_unique<TGroups>();
    try {
        LoadProject(*registry, fileName, &bounds);
        return true;
    } catch (const EFadelinkError&) {
        return false;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TPlace& place = Place();
    FuzzCheck(place.Dir.isValid(), "a temporary directory exists");
    Write(place.Input, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));

    std::unique_ptr<TGroups> loaded;
    TBounds bounds;
    Open(place.Input, loaded, bounds);

    SaveProject(*loaded, place.Saved, &bounds);
    std::unique_ptr<TGroups> reopened;
    TBounds reopenedBounds;
    FuzzCheck(Open(place.Saved, reopened, reopenedBounds), "a saved project opens without an error");
    FuzzCheck(DeviceCount(*reopened) == DeviceCount(*loaded), "a saved project keeps every device");
    FuzzCheck(reopenedBounds.FormBounds() == bounds.FormBounds(), "a saved project keeps the window bounds");

    // The first save may still merge groups that share a short name; from then on the text
    // stands still.
    SaveProject(*reopened, place.Resaved, &reopenedBounds);
    std::unique_ptr<TGroups> again;
    TBounds againBounds;
    FuzzCheck(Open(place.Resaved, again, againBounds), "a saved project opens without an error");
    SaveProject(*again, place.Saved, &againBounds);
    FuzzCheck(Read(place.Saved) == Read(place.Resaved),
              "saving an opened saved project writes the same text");
    return 0;
}
