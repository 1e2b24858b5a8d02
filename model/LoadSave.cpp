#include "model/LoadSave.h"

#include "device/DeviceUnit.h"
#include "model/Constants.h"
#include "model/Errors.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Utils.h"
#include "model/logging.h"
#include "xml/Cp1252.h"
#include "xml/LibXmlParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

IFormBounds::~IFormBounds() = default;

namespace {

// The predefined entities of the markup characters, which the reader turns back, and a character
// reference for the zero character, which would end the document where it stands (a name holds
// one after reading "&#0;"); every other character stands as it is.
QString Escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case 0:
            out += QLatin1String("&#0;");
            break;
        case '\'':
            out += QLatin1String("&apos;");
            break;
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

class TProjectText {
public:
    // One line: `spaces` blanks, then the text, then CR LF.
    void Line(int spaces, const QString& text) {
        FText += QString(spaces, QLatin1Char(' '));
        FText += text;
        FText += QLatin1String("\r\n");
    }
    // name='value' followed by `after`.
    void Attr(int spaces, const char* prefix, const QString& value, const char* after = "'") {
        Line(spaces, QLatin1String(prefix) + value + QLatin1String(after));
    }
    const QString& Text() const { return FText; }

private:
    QString FText;
};

void WriteDevice(TProjectText& out, const TDevice& device) {
    out.Attr(6, "<Device LongName='", Escaped(device.LongName()));
    out.Attr(14, "ShortName='", Escaped(device.ShortName()));
    out.Attr(14, "IPAddress='", Escaped(device.IPAddress()));
    out.Attr(14, "Mute_CHA='", BoolToText(device.Mute_CHA()));
    out.Attr(14, "Mute_CHB='", BoolToText(device.Mute_CHB()), "'>");
    out.Line(6, QStringLiteral("</Device>"));
}

void WriteGroup(TProjectText& out, const TGroup& group) {
    out.Attr(2, "<Group LongName='", Escaped(group.LongName()));
    out.Attr(9, "ShortName='", Escaped(group.ShortName()));
    out.Attr(9, "Volume_A='", FloatToStr(group.Volume_A()));
    out.Attr(9, "Volume_B='", FloatToStr(group.Volume_B()));
    out.Attr(9, "Sensitivity_A='", FloatToStr(group.Sensitivity_A()));
    out.Attr(9, "Sensitivity_B='", FloatToStr(group.Sensitivity_B()));
    out.Attr(9, "Limiter_A='", FloatToStr(group.Limiter_A()));
    out.Attr(9, "Limiter_B='", FloatToStr(group.Limiter_B()));
    out.Attr(9, "Volume_Lock='", BoolToText(group.Volume_Lock()));
    out.Attr(9, "Sensitivity_Lock='", BoolToText(group.Sensitivity_Lock()));
    out.Attr(9, "Limiter_Lock='", BoolToText(group.Limiter_Lock()));
    out.Attr(9, "Mute='", BoolToText(group.Mute()), "'>");
    out.Line(4, QStringLiteral("<Devices>"));
    for (const TDevice* device : group.Devices())
        WriteDevice(out, *device);
    out.Line(4, QStringLiteral("</Devices>"));
    out.Line(2, QStringLiteral("</Group>"));
}

QString ProjectText(const TGroups& registry, const QRect& form) {
    TProjectText out;
    out.Attr(0, "<Groups Mute='", BoolToText(registry.Mute()));
    out.Attr(8, "Volume='", FloatToStr(registry.Volume()), "'>");
    for (const TGroup* group : registry.Groups())
        WriteGroup(out, *group);
    out.Line(0, QStringLiteral("</Groups>"));
    out.Line(0, QStringLiteral("<Application>"));
    out.Attr(2, "<Form Left='", QString::number(form.x()));
    out.Attr(8, "Top='", QString::number(form.y()));
    out.Attr(8, "Width='", QString::number(form.width()));
    out.Attr(8, "Height='", QString::number(form.height()), "'>");
    out.Line(2, QStringLiteral("</Form>"));
    out.Line(0, QStringLiteral("</Application>"));
    return out.Text();
}

bool IsStartOrEmpty(const XmlReader& reader) {
    return reader.Kind() == XmlReader::StartTag || reader.Kind() == XmlReader::EmptyElementTag;
}

// `size` cut, where needed, so that a rectangle starting at `start` can hold it: QRect keeps the
// far edge start + size - 1 and gives the size back as edge - start + 1, both in an int. Only a
// hand-edited file comes near those limits, and no screen is that large.
int SizeWithinRange(int start, int size) {
    constexpr qint64 kMin = std::numeric_limits<int>::min();
    constexpr qint64 kMax = std::numeric_limits<int>::max();
    const qint64 edge = std::clamp(qint64(start) + size - 1, kMin, kMax - 1);
    return int(std::clamp(edge - start, kMin, kMax - 1) + 1);
}

// Entered after an Application tag: applies the first Form element's bounds. It also stops at
// the end of the Application element and after an empty Form tag, so that a Groups element
// further on is still found.
void LoadFormBounds(XmlReader& reader, IFormBounds* bounds) {
    while (reader.Next()) {
        const XmlReader::TPartKind kind = reader.Kind();
        const QString name = reader.Name();
        if (kind == XmlReader::EndTag &&
            (name == QLatin1String("Form") || name == QLatin1String("Application")))
            return;
        if (IsStartOrEmpty(reader) && name == QLatin1String("Form")) {
            const int top = StrToInt(reader.Attribute(QStringLiteral("Top")));
            const int height = StrToInt(reader.Attribute(QStringLiteral("Height")));
            const int left = StrToInt(reader.Attribute(QStringLiteral("Left")));
            const int width = StrToInt(reader.Attribute(QStringLiteral("Width")));
            if (bounds)
                bounds->SetFormBounds(
                    QRect(left, top, SizeWithinRange(left, width), SizeWithinRange(top, height)));
            if (kind == XmlReader::EmptyElementTag)
                return;
        }
    }
}

// Whether no file of that name exists at all (as opposed to one that cannot be read).
bool IsMissing(const QString& fileName) {
    std::error_code error;
    const std::filesystem::path path(QFile::encodeName(fileName).toStdString());
    return std::filesystem::status(path, error).type() == std::filesystem::file_type::not_found;
}

// Whether a save may go to `fileName`: nothing is there yet (a dangling symbolic link counts:
// its target is created), or a regular file, directly or through symbolic links, which the save
// then writes (the links stay). A device, a pipe, a socket, a directory or a loop of links is
// never replaced by a project file.
bool IsSaveTarget(const QString& fileName) {
    struct stat target {};
    if (::stat(QFile::encodeName(fileName).constData(), &target) == 0)
        return S_ISREG(target.st_mode);
    return errno != ELOOP;
}

// Whether `name` is the name a save gives its temporary file: the project's name, a dot and six
// letters mixing upper and lower case. A name a person would choose, such as "show.pac.backup"
// or "show.pac.OLDONE", never is.
bool IsTemporaryName(const QString& name, const QString& prefix) {
    if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
        return false;
    bool upper = false;
    bool lower = false;
    for (const QChar c : QStringView(name).sliced(prefix.size())) {
        const bool isUpper = c >= QLatin1Char('A') && c <= QLatin1Char('Z');
        const bool isLower = c >= QLatin1Char('a') && c <= QLatin1Char('z');
        if (!isUpper && !isLower)
            return false;
        upper = upper || isUpper;
        lower = lower || isLower;
    }
    return upper && lower;
}

// Whether a file holds what a save writes, or the start of it (a save killed before it wrote).
bool HoldsProjectText(const QString& fileName) {
    static const QByteArray kStart = QByteArrayLiteral("<Groups Mute='");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(kStart.size());
    return kStart.startsWith(head);
}

// A save killed between writing its temporary file and putting it in place leaves that file
// beside the project. Those of this user are removed once a save of the same project succeeded.
void RemoveStaleTemporaries(const QString& fileName) {
    const QString written = QFileInfo(fileName).canonicalFilePath();
    if (written.isEmpty())
        return;
    const QFileInfo info(written);
    const QString prefix = info.fileName() + QLatin1Char('.');
    const QDir folder = info.dir();
    const QStringList candidates = folder.entryList({prefix + QStringLiteral("??????")},
                                                    QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    for (const QString& name : candidates) {
        const QString path = folder.filePath(name);
        const QByteArray encoded = QFile::encodeName(path);
        struct stat entry {};
        if (IsTemporaryName(name, prefix) && ::lstat(encoded.constData(), &entry) == 0 &&
            S_ISREG(entry.st_mode) && entry.st_uid == ::geteuid() && HoldsProjectText(path))
            ::unlink(encoded.constData());
    }
}

} // namespace

void SaveProject(TGroups& registry, const QString& fileName, const IFormBounds* bounds) {
    const QString cannotCreate = QStringLiteral("Cannot create file ") + fileName;
    if (!IsSaveTarget(fileName)) {
        qCDebug(lcProject, "%s not saved: not a regular file, or a loop of links", qPrintable(fileName));
        throw EFileError(cannotCreate);
    }
    const QRect form = bounds ? bounds->FormBounds() : DefaultFormBounds;
    const QByteArray bytes = UnicodeToCp1252(ProjectText(registry, form), '?');
    // The previous file is replaced only once the new text is completely on disk. Unbuffered:
    // a short write must show here, since commit() does not notice one in its final flush and
    // would put a truncated file in place of the old one. A user who may write the file but not
    // its folder, where no temporary file can be made, has the file written directly.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size() ||
        !file.commit()) {
        qCDebug(lcProject, "%s not saved: %s", qPrintable(fileName), qPrintable(file.errorString()));
        throw EFileError(cannotCreate);
    }
    RemoveStaleTemporaries(fileName);
}

void LoadProject(TGroups& registry, const QString& fileName, IFormBounds* bounds) {
    XmlReader reader;
    // A missing file starts an empty project; one that exists but cannot be read must not, or
    // the next Save would write the empty project over it.
    if (!reader.Open(fileName)) {
        if (IsMissing(fileName)) {
            qCDebug(lcProject, "%s does not exist: an empty project", qPrintable(fileName));
            return;
        }
        qCDebug(lcProject, "%s not loaded: it exists but cannot be read", qPrintable(fileName));
        throw EFileError(QStringLiteral("Cannot open file ") + fileName);
    }
    reader.Start();
    // Every file this program writes closes its Groups element. One that ends before (cut
    // short, empty, not a project at all) would otherwise open as a project with groups or
    // devices missing, and the next Save would make the loss permanent.
    bool complete = false;
    while (reader.Next()) {
        if (!IsStartOrEmpty(reader))
            continue;
        const QString name = reader.Name();
        if (name == QLatin1String("Groups")) {
            registry.SetVolume(StrToFloat(reader.Attribute(QStringLiteral("Volume"))), TChangeSource::File());
            registry.SetMute(TextToBool(reader.Attribute(QStringLiteral("Mute"))), TChangeSource::File());
            // An empty Groups tag holds no groups; reading on for its end tag would swallow
            // the Application element that follows.
            complete = reader.Kind() == XmlReader::EmptyElementTag || registry.LoadGroups(reader);
        } else if (name == QLatin1String("Application") && reader.Kind() == XmlReader::StartTag) {
            LoadFormBounds(reader, bounds);
        }
    }
    if (!complete) {
        qCDebug(lcProject, "%s not loaded whole: no closed Groups element", qPrintable(fileName));
        throw EFileError(fileName + QStringLiteral(" is damaged: it ends before </Groups>"));
    }
}
