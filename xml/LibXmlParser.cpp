#include "xml/LibXmlParser.h"

#include "xml/Cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// Project files are a few kilobytes; anything this large is not one, and reading on would only
// exhaust memory (a device file never ends).
constexpr qsizetype kMaxDocumentSize = 64 * 1024 * 1024;
constexpr qsizetype kReadChunk = 64 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool CanBeginName(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u == ':' || u >= 0x80;
}

bool EndsElementName(char c) {
    return IsBlank(c) || c == '/' || c == '>';
}

bool StartsWith(const QByteArray& doc, qsizetype pos, const char* text) {
    return QByteArrayView(doc).sliced(pos).startsWith(QByteArrayView(text));
}

// The index just past the "find" that follows `from`, or the end of the document.
qsizetype PastNext(const QByteArray& doc, qsizetype from, const char* find) {
    const qsizetype at = doc.indexOf(find, from);
    return at < 0 ? doc.size() : at + qsizetype(qstrlen(find));
}

// A document type declaration ends at the first ">" outside quotes, comments, processing
// instructions and its internal subset.
qsizetype PastDoctype(const QByteArray& doc, qsizetype pos) {
    const qsizetype n = doc.size();
    int depth = 0;
    while (pos < n) {
        const char c = doc.at(pos);
        if (c == '"' || c == '\'') {
            const qsizetype close = doc.indexOf(c, pos + 1);
            if (close < 0)
                return n;
            pos = close + 1;
        } else if (depth > 0 && StartsWith(doc, pos, "<!--")) {
            pos = PastNext(doc, pos + 4, "-->");
        } else if (depth > 0 && StartsWith(doc, pos, "<?")) {
            pos = PastNext(doc, pos + 2, "?>");
        } else {
            if (c == '[')
                ++depth;
            else if (c == ']' && depth > 0)
                --depth;
            else if (c == '>' && depth == 0)
                return pos + 1;
            ++pos;
        }
    }
    return n;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The character of "&#digits;" or "&#xhex;" (`number` is the text after "#"): the low 8 bits
// of the number; an unreadable decimal number gives a space, an unreadable hexadecimal one the
// zero character.
char CharacterReference(QByteArrayView number) {
    const bool hex = number.startsWith('x');
    const QByteArrayView digits = hex ? number.sliced(1) : number;
    if (digits.isEmpty())
        return hex ? '\0' : ' ';
    unsigned value = 0;
    for (const char c : digits) {
        const int d = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0)
            return hex ? '\0' : ' ';
        value = (value * (hex ? 16u : 10u) + unsigned(d)) & 0xFFu;
    }
    return char(value);
}

// The character a predefined entity stands for, or 0 when `name` is none of them.
char PredefinedEntity(QByteArrayView name) {
    if (name == "lt")
        return '<';
    if (name == "gt")
        return '>';
    if (name == "amp")
        return '&';
    if (name == "apos")
        return '\'';
    if (name == "quot")
        return '"';
    return 0;
}

// Walks an attribute list from `pos` up to `end`, calling `visit`(name, raw value) for each
// attribute until it answers true. Blanks are skipped; a name runs to a blank, "=", "/" or ">";
// everything up to "=" and then up to the next quote of either kind is skipped; the value runs
// to the next quote of the same kind. ">" or the end outside a value ends the list, and so does
// a character that cannot begin a name where a name should begin. Returns where the list
// ended, or where the value `visit` accepted closes.
template <typename TVisit>
qsizetype ScanAttributes(const char* d, qsizetype pos, qsizetype end, TVisit visit) {
    qsizetype p = pos;
    for (;;) {
        while (p < end && IsBlank(d[p]))
            ++p;
        if (p >= end || d[p] == '>' || !CanBeginName(d[p]))
            return p;
        const qsizetype nameBegin = p;
        while (p < end && !IsBlank(d[p]) && d[p] != '=' && d[p] != '/' && d[p] != '>')
            ++p;
        const qsizetype nameEnd = p;
        while (p < end && d[p] != '=' && d[p] != '>')
            ++p;
        if (p >= end || d[p] == '>')
            return p;
        ++p;
        while (p < end && d[p] != '"' && d[p] != '\'' && d[p] != '>')
            ++p;
        if (p >= end || d[p] == '>')
            return p;
        const char quote = d[p];
        const qsizetype valueBegin = p + 1;
        const void* found = std::memchr(d + valueBegin, quote, size_t(end - valueBegin));
        const qsizetype close = found ? static_cast<const char*>(found) - d : end;
        if (visit(QByteArrayView(d + nameBegin, nameEnd - nameBegin),
                  QByteArrayView(d + valueBegin, close - valueBegin)))
            return close;
        if (close >= end)
            return end;
        p = close + 1;
    }
}

bool IgnoreAttribute(QByteArrayView, QByteArrayView) {
    return false;
}

} // namespace

bool XmlReader::Open(const QString& fileName) {
    OpenBytes(QByteArray());
    // Only regular files: opening a pipe would wait for a writer, and a device never ends.
    if (!QFileInfo(fileName).isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Read straight into one buffer sized for the file, so that reading costs the file's size
    // once; a file whose size the system does not know (/proc) grows it as it goes.
    QByteArray bytes;
    const qint64 expected = file.size();
    if (expected > 0 && expected <= kMaxDocumentSize)
        bytes.reserve(qsizetype(expected) + kReadChunk);
    for (;;) {
        const qsizetype had = bytes.size();
        bytes.resize(had + kReadChunk);
        const qint64 got = file.read(bytes.data() + had, kReadChunk);
        bytes.resize(had + std::max<qint64>(got, 0));
        if (got <= 0)
            break;
        if (bytes.size() > kMaxDocumentSize)
            return false;
    }
    if (file.error() != QFileDevice::NoError)
        return false;
    OpenBytes(std::move(bytes));
    return true;
}

void XmlReader::OpenBytes(QByteArray bytes) {
    // A zero byte ends the document, as it would end a zero-terminated text.
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    FDocument = std::move(bytes);
    Start();
}

void XmlReader::Start() {
    FPos = 0;
    FExhausted = false;
    FUtf8Values = false;
    ClearPart();
}

void XmlReader::ClearPart() {
    FKind = Other;
    FNameBegin = FNameLength = 0;
    FAttributesBegin = FAttributesEnd = 0;
}

bool XmlReader::Next() {
    ClearPart();
    if (FExhausted)
        return false;
    const qsizetype n = FDocument.size();
    while (FPos < n) {
        const qsizetype begin = FPos;
        if (FDocument.at(begin) == '<') {
            if (StartsWith(FDocument, begin, "<!--"))
                FPos = PastNext(FDocument, begin + 4, "-->");
            else if (StartsWith(FDocument, begin, "<![CDATA["))
                FPos = PastNext(FDocument, begin + 9, "]]>");
            else if (StartsWith(FDocument, begin, "<!DOCTYPE"))
                FPos = PastDoctype(FDocument, begin + 9);
            else if (StartsWith(FDocument, begin, "<!"))
                FPos = PastNext(FDocument, begin + 2, ">");
            else if (StartsWith(FDocument, begin, "<?"))
                ReadProcessingInstruction(begin);
            else if (StartsWith(FDocument, begin, "</"))
                ReadEndTag(begin);
            else
                ReadTag(begin);
            return true;
        }
        qsizetype end = FDocument.indexOf('<', begin);
        if (end < 0)
            end = n;
        FPos = end;
        for (qsizetype i = begin; i < end; ++i)
            if (!IsBlank(FDocument.at(i)))
                return true; // character data, reported as an "other" part
    }
    FExhausted = true;
    return false;
}

void XmlReader::ReadProcessingInstruction(qsizetype begin) {
    const qsizetype close = FDocument.indexOf("?>", begin + 2);
    const qsizetype end = close < 0 ? FDocument.size() : close;
    FPos = close < 0 ? end : close + 2;
    const qsizetype afterName = begin + 5;
    if (!StartsWith(FDocument, begin, "<?xml") || afterName >= end || !IsBlank(FDocument.at(afterName)))
        return;
    std::optional<QByteArrayView> encoding;
    ScanAttributes(FDocument.constData(), afterName, end,
                   [&encoding](QByteArrayView name, QByteArrayView value) {
                       if (name != "encoding")
                           return false;
                       encoding = value;
                       return true;
                   });
    // A declaration that names no encoding declares UTF-8.
    if (!encoding || ProcessValue(*encoding).compare("UTF-8", Qt::CaseInsensitive) == 0)
        FUtf8Values = true;
}

void XmlReader::ReadEndTag(qsizetype begin) {
    const qsizetype n = FDocument.size();
    qsizetype p = begin + 2;
    while (p < n && !EndsElementName(FDocument.at(p)))
        ++p;
    FKind = EndTag;
    FNameBegin = begin + 2;
    FNameLength = p - FNameBegin;
    FPos = PastNext(FDocument, p, ">");
}

void XmlReader::ReadTag(qsizetype begin) {
    const qsizetype n = FDocument.size();
    qsizetype p = begin + 1;
    while (p < n && !EndsElementName(FDocument.at(p)))
        ++p;
    FNameBegin = begin + 1;
    FNameLength = p - FNameBegin;
    FAttributesBegin = p;
    p = ScanAttributes(FDocument.constData(), p, n, IgnoreAttribute);
    FAttributesEnd = p;
    FKind = StartTag;
    if (p >= n) {
        FPos = n;
    } else if (FDocument.at(p) == '>') {
        FPos = p + 1;
    } else {
        if (FDocument.at(p) == '/')
            FKind = EmptyElementTag;
        FPos = PastNext(FDocument, p, ">");
    }
}

QByteArray XmlReader::ProcessValue(QByteArrayView raw) const {
    QByteArray out;
    out.reserve(raw.size());
    const qsizetype n = raw.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = raw[i];
        if (c == '&') {
            // One left-to-right pass: what a reference produced is never read as markup again.
            qsizetype j = i + 1;
            while (j < n && raw[j] != ';' && raw[j] != '&' && !IsBlank(raw[j]))
                ++j;
            if (j < n && raw[j] == ';') {
                const QByteArrayView ref = raw.sliced(i + 1, j - i - 1);
                if (ref.startsWith('#')) {
                    out.append(CharacterReference(ref.sliced(1)));
                    i = j + 1;
                    continue;
                }
                if (const char entity = PredefinedEntity(ref)) {
                    out.append(entity);
                    i = j + 1;
                    continue;
                }
            }
        }
        out.append(c);
        ++i;
    }
    std::replace_if(
        out.begin(), out.end(), [](char ch) { return IsBlank(ch); }, ' ');
    if (FUtf8Values) {
        // A U+FEFF at the start of a value is a character like any other, not a byte order mark.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return UnicodeToCp1252(utf8.decode(out), '\xBF');
    }
    return out;
}

XmlReader::TPartKind XmlReader::Kind() const {
    return FKind;
}

QString XmlReader::Name() const {
    return Cp1252ToUnicode(QByteArrayView(FDocument).sliced(FNameBegin, FNameLength));
}

QString XmlReader::Attribute(const QString& name) const {
    if (FKind != StartTag && FKind != EmptyElementTag)
        return QString();
    // A character outside the code page becomes the zero byte, which no document holds.
    const QByteArray key = UnicodeToCp1252(name, '\0');
    std::optional<QByteArrayView> raw;
    ScanAttributes(FDocument.constData(), FAttributesBegin, FAttributesEnd,
                   [&key, &raw](QByteArrayView attribute, QByteArrayView value) {
                       if (attribute != key)
                           return false;
                       raw = value;
                       return true;
                   });
    return raw ? Cp1252ToUnicode(ProcessValue(*raw)) : QString();
}
