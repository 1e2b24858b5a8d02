// The project-file reader on arbitrary bytes, read to exhaustion. Besides not crashing it must
// end, report no more parts than the document has bytes, stay exhausted once it said so, read
// the same parts again after Start(), and give tag names and attribute values in the shapes its
// callers rely on.
#include "fuzz/FuzzSupport.h"
#include "xml/LibXmlParser.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {
// Attribute names the loader asks for, plus a few that documents commonly carry.
const char* const kAttributeNames[] = {"LongName", "ShortName", "IPAddress", "Volume",  "Mute", "Volume_A",
                                       "Mute_CHA", "Left",      "encoding",  "version", "a",    ""};

bool HasBlank(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
    });
}

bool EndsName(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n') || c == QLatin1Char('/') || c == QLatin1Char('>');
}

// One pass over the document: the kind and name of every part, with every attribute looked up.
QList<QString> ReadParts(XmlReader& reader, qsizetype documentSize) {
    QList<QString> parts;
    while (reader.Next()) {
        FuzzCheck(parts.size() < documentSize, "no more parts than the document has bytes");
        const XmlReader::TPartKind kind = reader.Kind();
        const QString name = reader.Name();
        if (kind != XmlReader::Other)
            for (const QChar c : name)
                FuzzCheck(!EndsName(c), "a tag name holds no blank, '/' or '>'");
        QString part = QString::number(int(kind)) + QLatin1Char(':') + name;
        for (const char* attribute : kAttributeNames) {
            const QString value = reader.Attribute(QLatin1String(attribute));
            FuzzCheck(!HasBlank(value), "attribute values hold no tab, carriage return or line feed");
            FuzzCheck(kind != XmlReader::EndTag || value.isEmpty(), "end tags have no attributes");
            part += QLatin1Char('|') + value;
        }
        parts.append(part);
    }
    FuzzCheck(!reader.Next() && !reader.Next(), "an exhausted reader stays exhausted");
    return parts;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray document(reinterpret_cast<const char*>(data), qsizetype(size));
    XmlReader reader;
    reader.OpenBytes(document);
    const QList<QString> first = ReadParts(reader, document.size());
    reader.Start();
    FuzzCheck(ReadParts(reader, document.size()) == first, "Start() reads the same parts again");
    return 0;
}
