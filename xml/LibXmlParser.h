#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The forward-only pull reader of project files. It accepts what the project writer produces
// (several top-level elements, no declaration, unescaped markup characters in values,
// single-byte text) and never raises: what it cannot make sense of it passes over.
class XmlReader {
public:
    enum TPartKind { StartTag, EmptyElementTag, EndTag, Other };

    // Reads the whole file into memory; a file that cannot be opened or read gives an empty
    // document. Returns whether the file was read.
    bool Open(const QString& fileName);
    // Uses `bytes` as the document (for in-memory sources).
    void OpenBytes(QByteArray bytes);
    // Positions the reader before the first part.
    void Start();
    // Advances to the next part; false when the document is exhausted, and on every later call.
    bool Next();

    TPartKind Kind() const;
    // The element name of the current tag (case preserved).
    QString Name() const;
    // The processed value of the current tag's attribute `name` (exact, case-sensitive), or
    // empty text when it has none.
    QString Attribute(const QString& name) const;

private:
    void ClearPart();
    void ReadTag(qsizetype begin);
    void ReadEndTag(qsizetype begin);
    void ReadProcessingInstruction(qsizetype begin);
    QByteArray ProcessValue(QByteArrayView raw) const;

    // The document, held once. The current part refers into it: a tag keeps only where its name
    // and its attribute list lie, and Attribute() reads the list again. So the memory of a load
    // stays that of its file, whatever the number of attributes a tag holds.
    QByteArray FDocument;
    qsizetype FPos = 0;
    bool FExhausted = false;
    bool FUtf8Values = false;
    TPartKind FKind = Other;
    qsizetype FNameBegin = 0;
    qsizetype FNameLength = 0;
    qsizetype FAttributesBegin = 0;
    qsizetype FAttributesEnd = 0;
};
