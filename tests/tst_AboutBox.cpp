// The About box: its text reads top to bottom as the operator expects and cannot be edited, and
// "Close" only hides the box so that the program can show it again.
#include "ui/AboutBox.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

class TestAboutBox : public QObject {
    Q_OBJECT
private slots:
    void textIsVersionDateMakerAndDisclaimer();
    void closeHidesTheBoxForTheNextShow();
};

void TestAboutBox::textIsVersionDateMakerAndDisclaimer() {
    TAboutBoxForm box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QString before = box.Memo1->toPlainText();
    const QStringList lines = before.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines[0], QStringLiteral("Version: 4.0"));
    QCOMPARE(lines[1], QStringLiteral("Date: 10.10.2010"));
    QVERIFY2(lines[2].contains(QStringLiteral("2010")), qPrintable(lines[2]));
    QVERIFY2(lines[6].contains(QLatin1String("www.")) && lines[6].contains(QLatin1Char('@')),
             qPrintable(lines[6]));
    QCOMPARE(lines[7], QString());
    QCOMPARE(lines[8], lines[8].toUpper());
    QVERIFY(lines[8].contains(QLatin1String("AS IS")));

    box.Memo1->setFocus();
    QTest::keyClicks(box.Memo1, QStringLiteral("typed"));
    QTest::keyClick(box.Memo1, Qt::Key_Backspace);
    QCOMPARE(box.Memo1->toPlainText(), before);

    const QString dir = qEnvironmentVariable("FADELINK_SHOTS_DIR");
    if (!dir.isEmpty())
        QVERIFY(box.grab().save(QDir(dir).filePath(QStringLiteral("about.png"))));
}

void TestAboutBox::closeHidesTheBoxForTheNextShow() {
    QPointer<TAboutBoxForm> box = new TAboutBoxForm;
    QCOMPARE(box->windowTitle(), QStringLiteral("About"));
    QVERIFY(!box->isModal());
    for (int round = 0; round < 2; ++round) {
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QTest::mouseClick(box->Button1, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(box);
        QVERIFY(!box->isVisible());
    }
    delete box;
}

QTEST_MAIN(TestAboutBox)
#include "tst_AboutBox.moc"
