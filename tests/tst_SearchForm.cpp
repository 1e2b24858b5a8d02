// The device search window: the address range, what is listed where, the adding of ticked rows,
// the checks of the address fields, and a search interrupted by closing or destroying the window.
// Simulated amplifiers listen on 127.0.14.x only.
#include "device/DeviceStatus.h"
#include "model/FindIPUnit.h"
#include "support/AmpRackFixture.h"
#include "support/ModelFixture.h"
#include "ui/SearchFormUnit.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
const QString kBlock = QStringLiteral("127.0.14.");

std::unique_ptr<TAmpRack> StartRack(const QList<TAmp>& amps) {
    return StartRack(kBlock, amps);
}

QStringList Rows(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

void SetRange(TSearchForm& form, int first, int last) {
    form.Edit1->setText(QStringLiteral("127"));
    form.Edit2->setText(QStringLiteral("0"));
    form.Edit3->setText(QStringLiteral("14"));
    form.Edit4->setText(QString::number(first));
    form.Edit5->setText(QString::number(last));
}

// A window on a registry without poll threads.
struct TSearchFixture : TModelFixture {
    TSearchFixture() { Form.SetRegistry(Registry.get()); }
    TSearchForm Form;
};

// The search runs on its own thread: waits until the window shows its end.
bool SearchEnds(const TSearchForm& form) {
    return QTest::qWaitFor([&form] { return !form.Searching(); }, 20000);
}

bool IsRed(QLineEdit* field) {
    const QImage image = field->grab().toImage();
    return image.pixelColor(image.width() - 4, image.height() / 2) == QColor(Qt::red);
}

// Closes every message box that opens while it lives and keeps the texts it showed.
class TMessageBoxCatcher : public QObject {
public:
    TMessageBoxCatcher() {
        connect(&FTimer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Texts << box->text();
                box->done(QMessageBox::Ok);
            }
        });
        FTimer.start(10);
    }
    QStringList Texts;

private:
    QTimer FTimer;
};
} // namespace

class TestSearchForm : public QObject {
    Q_OBJECT
private slots:
    void addressSequence_data();
    void addressSequence();
    void windowStartsWithDefaultsAndEmptyLists();
    void invalidAddressNumberTurnsRedAndKeepsFocus_data();
    void invalidAddressNumberTurnsRedAndKeepsFocus();
    void searchListsKnownAmplifiersInTheirList();
    void searchProbesExactlyTheRange_data();
    void searchProbesExactlyTheRange();
    void badFieldStopsSearchBeforeAnyProbe_data();
    void badFieldStopsSearchBeforeAnyProbe();
    void addingTickedRowsCreatesGroupsAndDevices();
    void silentAmplifierNeverFreezesTheWindow();
    void addingTwiceMakesOneDevice();
    void interruptedSearchStopsAtTheCurrentAddress_data();
    void interruptedSearchStopsAtTheCurrentAddress();
    void screenshot();
};

void TestSearchForm::addressSequence_data() {
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("count");
    QTest::newRow("110 to 120") << 110 << 120 << 11;
    QTest::newRow("first equals last") << 7 << 7 << 1;
    QTest::newRow("last below first") << 120 << 110 << 0;
    QTest::newRow("both ends of the byte") << 0 << 255 << 256;
}

void TestSearchForm::addressSequence() {
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, count);
    const QStringList addresses = SearchAddresses({192, 168, 1}, first, last);
    QCOMPARE(addresses.size(), count);
    for (int i = 0; i < count; ++i)
        QCOMPARE(addresses[i], QStringLiteral("192.168.1.%1").arg(first + i));
}

void TestSearchForm::windowStartsWithDefaultsAndEmptyLists() {
    TSearchForm form;
    form.show();
    QCOMPARE(form.size(), QSize(352, 478));
    const QStringList start{form.Edit1->text(), form.Edit2->text(), form.Edit3->text(), form.Edit4->text()};
    QCOMPARE(start, (QStringList{"192", "168", "1", "110"}));
    const QStringList end{form.Edit8->text(), form.Edit7->text(), form.Edit6->text(), form.Edit5->text()};
    QCOMPARE(end, (QStringList{"192", "168", "1", "120"}));
    QCOMPARE(form.ListBox1->count() + form.CheckListBox1->count(), 0);
}

// Every change shows validity at once, refreshes the end-address copy, and an invalid field
// keeps the focus when tabbed out of.
void TestSearchForm::invalidAddressNumberTurnsRedAndKeepsFocus_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("256 in Edit1") << 1 << "256" << false;
    QTest::newRow("letter in Edit2") << 2 << "a" << false;
    QTest::newRow("10 in Edit2") << 2 << "10" << true;
    QTest::newRow("empty Edit3") << 3 << "" << false;
    QTest::newRow("negative in Edit4") << 4 << "-1" << false;
    QTest::newRow("digits then letter in Edit5") << 5 << "1x" << false;
    QTest::newRow("255 in Edit4") << 4 << "255" << true;
    QTest::newRow("0 in Edit3") << 3 << "0" << true;
}

void TestSearchForm::invalidAddressNumberTurnsRedAndKeepsFocus() {
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    TSearchForm form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QLineEdit* edit =
        QList<QLineEdit*>{form.Edit1, form.Edit2, form.Edit3, form.Edit4, form.Edit5}[field - 1];
    QLineEdit* copy = QList<QLineEdit*>{form.Edit8, form.Edit7, form.Edit6, nullptr, nullptr}[field - 1];

    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    QCOMPARE(IsRed(edit), !valid);
    if (copy)
        QCOMPARE(copy->text(), text);
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget() == edit, !valid);

    // Correcting the field restores the normal colour and lets the focus go.
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("255"));
    QVERIFY(!IsRed(edit));
    QTest::keyClick(edit, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != edit);
}

void TestSearchForm::searchListsKnownAmplifiersInTheirList() {
    const auto rack = StartRack({{1, "KV-20", "STAGE", "AMP01"},
                                 {2, "KV-40", "FOH  ", "AMP02"},
                                 {3, "KV-30", "STAGE", "AMP03", 3156},
                                 {4, "KV-30", "STAGE", "AMP04", 3158},
                                 {5, "KV-99", "STAGE", "AMP05"},
                                 {6, "KV-30", "AB   ", "AMP06"}});
    TSearchFixture f;
    new TDevice(f.AddGroup(QStringLiteral("FOH")), kBlock + "2", QStringLiteral("Desk"), QStringLiteral("D"));
    f.Form.show();
    SetRange(f.Form, 1, 7); // .7 answers the probe but serves nothing
    QTest::mouseClick(f.Form.Button1, Qt::LeftButton);
    QVERIFY(SearchEnds(f.Form));

    QCOMPARE(Rows(f.Form.ListBox1), QStringList{"127.0.14.2 XKV-40 [FOH  ] [AMP02]"});
    QCOMPARE(Rows(f.Form.CheckListBox1),
             (QStringList{"127.0.14.1 XKV-20 [STAGE] [AMP01]", "127.0.14.6 XKV-30 [AB   ] [AMP06]"}));
    for (int i = 0; i < f.Form.CheckListBox1->count(); ++i)
        QCOMPARE(f.Form.CheckListBox1->item(i)->checkState(), Qt::Unchecked);
    QCOMPARE(RequestCounts(*rack), (QList<int>{1, 1, 1, 1, 1, 1}));
    QCOMPARE(rack->Amp(0).RequestPaths(), QStringList{"/zyl.zyl"});
    QCOMPARE(f.Form.StatusBar1->currentMessage(), QStringLiteral("Search finished: 3 amplifiers found"));
    QVERIFY(f.Form.Button1->isEnabled() && f.Form.Button2->isEnabled());
}

void TestSearchForm::searchProbesExactlyTheRange_data() {
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QList<int>>("requests");
    QTest::addColumn<QString>("status");
    QTest::newRow("one address") << 2 << 2 << QList<int>{0, 1, 0} << "Search finished: 1 amplifier found";
    QTest::newRow("last below first") << 3 << 1 << QList<int>{0, 0, 0} << "";
    QTest::newRow("upper end") << 2 << 3 << QList<int>{0, 1, 1} << "Search finished: 2 amplifiers found";
}

void TestSearchForm::searchProbesExactlyTheRange() {
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QList<int>, requests);
    QFETCH(QString, status);
    const auto rack = StartRack({{1}, {2}, {3}});
    TSearchFixture f;
    f.Form.ListBox1->addItem(QStringLiteral("left from before"));
    f.Form.CheckListBox1->addItem(QStringLiteral("left from before"));
    SetRange(f.Form, first, last);
    QTest::mouseClick(f.Form.Button1, Qt::LeftButton);
    QVERIFY(SearchEnds(f.Form));
    QCOMPARE(RequestCounts(*rack), requests);
    QCOMPARE(f.Form.ListBox1->count(), 0);
    QCOMPARE(f.Form.CheckListBox1->count(), std::count(requests.begin(), requests.end(), 1));
    QCOMPARE(f.Form.StatusBar1->currentMessage(), status);
}

void TestSearchForm::badFieldStopsSearchBeforeAnyProbe_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("letter as start number") << 4 << "x"
                                            << "'x' is not a valid integer value.";
    QTest::newRow("end number with a letter") << 5 << "1x"
                                              << "'1x' is not a valid integer value.";
    QTest::newRow("empty end number") << 5 << ""
                                      << "'' is not a valid integer value.";
    QTest::newRow("letters in the first part") << 1 << "abc"
                                               << "'abc' is not a valid integer value.";
    // Out of range but an integer: the red field says it; no message.
    QTest::newRow("end number 256") << 5 << "256"
                                    << "";
    QTest::newRow("third part 300") << 3 << "300"
                                    << "";
}

void TestSearchForm::badFieldStopsSearchBeforeAnyProbe() {
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    const auto rack = StartRack({{1}, {2}});
    TSearchFixture f;
    f.Form.show();
    f.Form.CheckListBox1->addItem(QStringLiteral("left from before"));
    SetRange(f.Form, 1, 2);
    QLineEdit* edit =
        QList<QLineEdit*>{f.Form.Edit1, f.Form.Edit2, f.Form.Edit3, f.Form.Edit4, f.Form.Edit5}[field - 1];
    edit->setText(text);

    TMessageBoxCatcher catcher;
    QTest::mouseClick(f.Form.Button1, Qt::LeftButton);
    QCOMPARE(catcher.Texts, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(RequestCounts(*rack), (QList<int>{0, 0}));
    QCOMPARE(f.Form.CheckListBox1->count(), 0);
    QCOMPARE(f.Form.StatusBar1->currentMessage(), QString());
    QVERIFY(f.Form.Button1->isEnabled());
}

// A padded code joins its group whatever the case; a new group is named by the code without its
// padding (a "]" in it included) and takes the amplifier's own levels less the global volume, and
// the device its mutes, so that what the amplifier plays stays as it is.
void TestSearchForm::addingTickedRowsCreatesGroupsAndDevices() {
    const std::array<std::uint8_t, 6> playing{{140, 120, 180, 170, 60, 80}};
    const auto rack =
        StartRack({{1, "KV-20", "SIDE ", "AMP01"}, {2, "KV-30", "A]B  ", "AMP02", -1, playing, true}, {3}});
    TSearchFixture f;
    TGroup* side = f.AddGroup(QStringLiteral("side"), QStringLiteral("Side fills"));
    f.Registry->SetVolume(-6);
    f.Form.show();
    f.Form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.Form));
    SetRange(f.Form, 1, 3);
    QTest::mouseClick(f.Form.Button1, Qt::LeftButton);
    QVERIFY(SearchEnds(f.Form));
    QCOMPARE(f.Form.CheckListBox1->count(), 3);

    // Tick the first two rows with the keyboard, leave the third.
    f.Form.CheckListBox1->setFocus();
    for (int row : {0, 1}) {
        f.Form.CheckListBox1->setCurrentRow(row);
        QTest::keyClick(f.Form.CheckListBox1, Qt::Key_Space);
        QCOMPARE(f.Form.CheckListBox1->item(row)->checkState(), Qt::Checked);
    }
    QTest::mouseClick(f.Form.Button2, Qt::LeftButton);

    QCOMPARE(f.Form.CheckListBox1->count(), 0);
    QCOMPARE(f.Registry->GroupCount(), 2);
    QCOMPARE(side->LongName(), QStringLiteral("Side fills"));
    QCOMPARE(side->DeviceCount(), 1);
    QCOMPARE(side->Device(0)->IPAddress(), QStringLiteral("127.0.14.1"));
    QCOMPARE(side->Device(0)->LongName(), QStringLiteral("No description"));
    QCOMPARE(side->Device(0)->ShortName(), QStringLiteral("AMP01"));
    TGroup* added = f.Registry->Group(1);
    QCOMPARE(added->ShortName(), QStringLiteral("A]B"));
    QCOMPARE(added->LongName(), QStringLiteral("A]B"));
    QCOMPARE(added->DeviceCount(), 1);
    const TDevice* device = added->Device(0);
    QCOMPARE(device->IPAddress(), QStringLiteral("127.0.14.2"));
    QCOMPARE(device->ShortName(), QStringLiteral("AMP02"));
    QCOMPARE(added->Volume_A(), -19.5); // the amplifier's -25.5 dB less the global -6 dB
    const std::array<int, 6> held{playing[0], playing[1], playing[2], playing[3], playing[4], playing[5]};
    QCOMPARE(device->SettingsCodes(), held);
    QVERIFY(device->Mute_CHA() && !device->Mute_CHB());
    QVERIFY(!IPAddressInUse(*f.Registry, kBlock + "3"));
}

void TestSearchForm::silentAmplifierNeverFreezesTheWindow() {
    const auto rack = StartRack({{20}});
    TAmpFaults silent;
    silent.NeverAnswer = true; // accepts the request, never answers: a 90-second wait
    rack->Amp(0).SetFaults(silent);
    TSearchFixture f;
    f.Form.show();
    SetRange(f.Form, 20, 20);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        ++ticks; // the window keeps processing its events meanwhile
        if (ticks == 5)
            f.Form.close();
    });
    ticker.start(20);
    QElapsedTimer timer;
    timer.start();
    f.Form.Button1->click();
    QVERIFY(SearchEnds(f.Form));
    QVERIFY2(timer.elapsed() < 5000, "closing the window abandons the request under way");
    QVERIFY(ticks >= 5);
    QCOMPARE(rack->Amp(0).RequestCount(), 1);
    QCOMPARE(f.Form.CheckListBox1->count(), 0);
}

void TestSearchForm::addingTwiceMakesOneDevice() {
    const auto rack = StartRack({{21}});
    TSearchFixture f;
    SetRange(f.Form, 21, 21);
    f.Form.Button1->click();
    QVERIFY(SearchEnds(f.Form));
    QCOMPARE(f.Form.CheckListBox1->count(), 1);
    f.Form.CheckListBox1->item(0)->setCheckState(Qt::Checked);
    QListWidgetItem* again = f.Form.CheckListBox1->item(0)->clone();
    f.Form.Button2->click();
    // The same result added again (a stale row, or the same amplifier listed twice) is skipped.
    f.Form.CheckListBox1->addItem(again);
    f.Form.Button2->click();
    int devices = 0;
    for (const TGroup* g : f.Registry->Groups())
        devices += g->DeviceCount();
    QCOMPARE(devices, 1);
}

void TestSearchForm::interruptedSearchStopsAtTheCurrentAddress_data() {
    QTest::addColumn<bool>("destroy");
    QTest::newRow("window closed") << false;
    QTest::newRow("window destroyed") << true;
}

void TestSearchForm::interruptedSearchStopsAtTheCurrentAddress() {
    QFETCH(bool, destroy);
    const auto rack = StartRack({{1}, {2}, {3}});
    TAmpFaults silent;
    silent.NeverAnswer = true; // holds the search at the first address until it is interrupted
    rack->Amp(0).SetFaults(silent);
    TModelFixture model;
    auto form = std::make_unique<TSearchForm>();
    form->SetRegistry(model.Registry.get());
    const QPointer<TSearchForm> alive = form.get();
    form->show();
    SetRange(*form, 1, 3);
    form->Button1->click();
    QVERIFY(form->Searching() && !form->Button1->isEnabled() && !form->Button2->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(rack->Amp(0).RequestCount(), 1, 10000);
    QTRY_COMPARE(form->StatusBar1->currentMessage(), QStringLiteral("Searching: 127.0.14.1"));
    if (destroy)
        form.reset();
    else
        form->close();

    // The address under way is abandoned; no later one is asked.
    QCOMPARE(alive.isNull(), destroy);
    if (!destroy)
        QVERIFY(SearchEnds(*form));
    QCOMPARE(RequestCounts(*rack), (QList<int>{1, 0, 0}));
    if (destroy)
        return;
    QVERIFY(form->isHidden() && form->Button1->isEnabled() && form->Button2->isEnabled());
    QCOMPARE(form->StatusBar1->currentMessage(), QStringLiteral("Search stopped: 0 amplifiers found"));
    QCOMPARE(form->CheckListBox1->count(), 0);
    // Opened again, it searches the whole range.
    rack->Amp(0).SetFaults(TAmpFaults());
    form->show();
    form->Button1->click();
    QVERIFY(SearchEnds(*form));
    QCOMPARE(RequestCounts(*rack), (QList<int>{2, 1, 1}));
    QCOMPARE(Rows(form->CheckListBox1).size(), 3);
}

// With FADELINK_SHOTS_DIR set, searches 127.0.14.1 to 127.0.14.6 served by an ampsim program
// started beforehand, ticks the first new row and saves the window as search.png.
void TestSearchForm::screenshot() {
    const QString dir = qEnvironmentVariable("FADELINK_SHOTS_DIR");
    if (dir.isEmpty())
        QSKIP("FADELINK_SHOTS_DIR is not set");
    TSearchFixture f;
    new TDevice(f.AddGroup(QStringLiteral("FOH")), kBlock + "2", QStringLiteral("Desk"), QStringLiteral("D"));
    f.Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.Form));
    SetRange(f.Form, 1, 6);
    QTest::mouseClick(f.Form.Button1, Qt::LeftButton);
    QVERIFY(SearchEnds(f.Form));
    QVERIFY(f.Form.CheckListBox1->count() > 0);
    f.Form.CheckListBox1->item(0)->setCheckState(Qt::Checked);
    QVERIFY(f.Form.grab().save(dir + QStringLiteral("/search.png")));
}

QTEST_MAIN(TestSearchForm)
#include "tst_SearchForm.moc"
