// The Journal window on a journal filled directly: newest first with lazy fetching, the filter
// controls, new entries at the top, double-click, acknowledging alarms, the alarm command kept
// in the settings, and the export of what the filters select.
#include "journal/AlarmHook.h"
#include "support/JournalFixture.h"
#include "ui/HistoryView.h"
#include "ui/JournalFormUnit.h"
#include "ui/JournalTableModel.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {
QString Address(int n) {
    return QStringLiteral("127.0.60.%1").arg(n);
}
} // namespace

class TestJournalForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void showsNewestFirstAndFetchesOnScroll();
    void filtersFromTheControls_data();
    void filtersFromTheControls();
    void newEntriesComeInAtTheTop();
    void doubleClickNamesTheAmplifier();
    void acknowledgesFromTheAlarmList();
    void alarmCommandIsKeptInTheSettings();
    void exportsWhatTheFiltersSelect();
    void historyScales_data();
    void historyScales();
    void historyBreaksLinesAtGaps();

private:
    // Shows the window and waits for its first page.
    void Open();
    QTableView* View() const { return FForm->findChild<QTableView*>(QStringLiteral("EntryView")); }
    QAbstractItemModel* Model() const { return View()->model(); }

    QTemporaryDir FSettings;
    std::unique_ptr<TJournalFixture> FFixture;
    std::unique_ptr<TJournal> FJournal;
    std::unique_ptr<TAlarmHook> FHook;
    std::unique_ptr<TJournalForm> FForm;
};

void TestJournalForm::initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("fadelink-test"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FSettings.path());
}

void TestJournalForm::init() {
    FFixture = std::make_unique<TJournalFixture>();
    FJournal = std::make_unique<TJournal>(FFixture->Options());
    FHook = std::make_unique<TAlarmHook>(FJournal.get());
    // 450 entries, a minute apart: every tenth a fault of amplifier 2 in group "Delay", the
    // rest settings of amplifier 1 in group "Front"; a program start before the last 50.
    for (int i = 0; i < 450; ++i) {
        const bool fault = i % 10 == 0;
        TJournalEntry e = TJournalFixture::Entry(
            QStringLiteral("entry %1").arg(i), fault ? TJournalSeverity::Fault : TJournalSeverity::UserAction,
            FFixture->Now() + i * 60000, Address(fault ? 2 : 1));
        e.Group = fault ? QStringLiteral("Delay") : QStringLiteral("Front");
        e.Source = fault ? TJournalSource::Amplifier : TJournalSource::UserInterface;
        if (i == 400)
            FJournal->RecordProgramStart(QStringLiteral("fadelink"));
        FJournal->Record(e);
    }
    QVERIFY(FJournal->Flush(10000));
}

void TestJournalForm::cleanup() {
    FForm.reset();
    FHook.reset();
    FJournal.reset();
    FFixture.reset();
    QSettings().clear();
}

void TestJournalForm::Open() {
    FForm = std::make_unique<TJournalForm>(FJournal.get(), FHook.get());
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    QTRY_VERIFY(Model()->rowCount() > 0);
}

void TestJournalForm::showsNewestFirstAndFetchesOnScroll() {
    Open();
    QCOMPARE(Model()->rowCount(), TJournalTableModel::kPageSize);
    QCOMPARE(Model()->index(0, TJournalTableModel::What).data().toString(), QStringLiteral("entry 449"));
    // Each severity has its colour and its icon.
    const QModelIndex fault = Model()->index(9, TJournalTableModel::Severity); // entry 440
    QCOMPARE(fault.data().toString(), QStringLiteral("Fault"));
    QCOMPARE(fault.data(Qt::BackgroundRole).value<QColor>(),
             TJournalTableModel::SeverityTint(TJournalSeverity::Fault));
    QVERIFY(!fault.data(Qt::DecorationRole).value<QIcon>().pixmap(16).isNull());
    QVERIFY(Model()->index(0, TJournalTableModel::Severity).data(Qt::BackgroundRole).value<QColor>() !=
            fault.data(Qt::BackgroundRole).value<QColor>());

    // Scrolling to the end fetches the next page, until there is none.
    for (int pages = 2; pages <= 3; ++pages) {
        View()->scrollToBottom();
        QTRY_COMPARE(Model()->rowCount(), std::min(450 + 1, pages * TJournalTableModel::kPageSize));
    }
    QCOMPARE(Model()->index(Model()->rowCount() - 1, TJournalTableModel::What).data().toString(),
             QStringLiteral("entry 0"));
    QVERIFY(!Model()->canFetchMore(QModelIndex()));
}

void TestJournalForm::filtersFromTheControls_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("newest");
    QTest::newRow("severity buttons") << "SeverityUserAction"
                                      << "" << 45 << "entry 440";
    QTest::newRow("group") << "GroupFilter"
                           << "Delay" << 45 << "entry 440";
    QTest::newRow("amplifier") << "AmplifierFilter" << Address(1) << 405 << "entry 449";
    QTest::newRow("source") << "SourceFilter"
                            << "Amplifier" << 45 << "entry 440";
    QTest::newRow("since last start") << "TimeFilter"
                                      << "Since last start" << 51 << "entry 449";
    QTest::newRow("search text") << "SearchEdit"
                                 << "entry 12" << 11 << "entry 129";
    QTest::newRow("two characters do not search") << "SearchEdit"
                                                  << "44" << 451 << "entry 449";
}

void TestJournalForm::filtersFromTheControls() {
    QFETCH(QString, control);
    QFETCH(QString, value);
    QFETCH(int, rows);
    QFETCH(QString, newest);
    Open();
    QWidget* widget = FForm->findChild<QWidget*>(control);
    QVERIFY(widget);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->click();                                                             // user actions off ...
        FForm->findChild<QAbstractButton*>(QStringLiteral("SeverityInfo"))->click(); // ... and the start
    } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
        QTRY_VERIFY(box->findText(value) >= 0); // the lists are read in the background
        box->setCurrentIndex(box->findText(value));
    } else {
        QTest::keyClicks(qobject_cast<QLineEdit*>(widget), value);
    }
    QTRY_COMPARE(Model()->index(0, TJournalTableModel::What).data().toString(), newest);
    while (Model()->canFetchMore(QModelIndex())) {
        const int had = Model()->rowCount();
        Model()->fetchMore(QModelIndex());
        QTRY_VERIFY(Model()->rowCount() > had || !Model()->canFetchMore(QModelIndex()));
    }
    QCOMPARE(Model()->rowCount(), rows);
}

void TestJournalForm::newEntriesComeInAtTheTop() {
    Open();
    TJournalEntry e = TJournalFixture::Entry(QStringLiteral("just now"), TJournalSeverity::Warning,
                                             FFixture->Now() + 1000 * 60000, Address(3));
    FJournal->Record(e);
    QTRY_COMPARE(Model()->index(0, TJournalTableModel::What).data().toString(), QStringLiteral("just now"));
    QCOMPARE(Model()->index(1, TJournalTableModel::What).data().toString(), QStringLiteral("entry 449"));
}

void TestJournalForm::doubleClickNamesTheAmplifier() {
    Open();
    QSignalSpy activated(FForm.get(), &TJournalForm::AmplifierActivated);
    const QRect cell = View()->visualRect(Model()->index(9, TJournalTableModel::What));
    // A view takes a double-click on the item its press went to.
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(View()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.at(0).at(0).toString(), Address(2));
}

void TestJournalForm::acknowledgesFromTheAlarmList() {
    for (int n = 1; n <= 3; ++n)
        FJournal->RaiseAlarm(
            AlarmKey(Address(n), QStringLiteral("offline")),
            TJournalFixture::StateChange(Address(n), "on-line", "off-line", FFixture->Now()));
    Open();
    auto* list = FForm->findChild<QTreeWidget*>(QStringLiteral("AlarmList"));
    QCOMPARE(list->topLevelItemCount(), 3);
    QSignalSpy count(FJournal.get(), &TJournal::AlarmCountChanged);
    list->topLevelItem(0)->setSelected(true);
    FForm->findChild<QAbstractButton*>(QStringLiteral("AcknowledgeButton"))->click();
    QCOMPARE(FJournal->AlarmCount(), 2);
    const TAlarm* seen = FJournal->FindAlarm(list->topLevelItem(0)->data(0, Qt::UserRole).toString());
    QVERIFY(seen && seen->Acknowledged());
    QCOMPARE(seen->AcknowledgedBy, TJournalForm::OperatorName());
    FForm->findChild<QAbstractButton*>(QStringLiteral("AcknowledgeAllButton"))->click();
    QCOMPARE(FJournal->AlarmCount(), 0);
    QCOMPARE(count.last().at(0).toInt(), 0);
    QCOMPARE(list->topLevelItemCount(), 3); // acknowledged alarms stay listed while present
}

void TestJournalForm::alarmCommandIsKeptInTheSettings() {
    Open();
    auto* edit = FForm->findChild<QLineEdit*>(QStringLiteral("AlarmCommandEdit"));
    edit->setText(QStringLiteral("logger -t fadelink"));
    emit edit->editingFinished();
    QCOMPARE(FHook->Command(), QStringLiteral("logger -t fadelink"));
    QCOMPARE(QSettings().value(QLatin1String(TJournalForm::kAlarmCommandKey)).toString(),
             QStringLiteral("logger -t fadelink"));
    // The next window (the next start of the program) gives it to its alarm command again.
    FForm.reset();
    TAlarmHook fresh(FJournal.get());
    TJournalForm again(FJournal.get(), &fresh);
    QCOMPARE(fresh.Command(), QStringLiteral("logger -t fadelink"));
}

void TestJournalForm::exportsWhatTheFiltersSelect() {
    Open();
    FForm->findChild<QAbstractButton*>(QStringLiteral("SeverityUserAction"))->click();
    FForm->findChild<QAbstractButton*>(QStringLiteral("SeverityInfo"))->click();
    QSignalSpy finished(FForm.get(), &TJournalForm::ExportFinished);
    const QString file = FFixture->Dir.filePath(QStringLiteral("faults.csv"));
    FForm->ExportEntries(file);
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(finished.at(0).at(1).toString()));
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 1 + 45);
    QVERIFY(lines.at(1).contains(",entry 0,"));
    QVERIFY(lines.last().contains(",entry 440,"));
}

void TestJournalForm::historyScales_data() {
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("minSpan");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("step");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("temperatures") << QList<double>{38, 41.5, 67} << 10.0 << 30.0 << 70.0 << 10.0;
    QTest::newRow("mains near 230 V") << QList<double>{228, 231, 233} << 10.0 << 225.0 << 235.0 << 5.0;
    QTest::newRow("a flat line is as wide as the least span")
        << QList<double>{5, 5} << 1.0 << 5.0 << 6.0 << 0.5;
    QTest::newRow("missing values do not count")
        << QList<double>{nan, 12, nan, 18} << 1.0 << 12.0 << 18.0 << 2.0;
    QTest::newRow("no values") << QList<double>{nan} << 10.0 << 0.0 << 10.0 << 5.0;
}

void TestJournalForm::historyScales() {
    QFETCH(QList<double>, values);
    QFETCH(double, minSpan);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, step);
    const THistoryView::TRange range =
        THistoryView::NiceRange(std::vector<double>(values.begin(), values.end()), minSpan);
    QCOMPARE(range.Low, low);
    QCOMPARE(range.High, high);
    QCOMPARE(range.Step, step);
}

void TestJournalForm::historyBreaksLinesAtGaps() {
    const qint64 m = 60000;
    const std::vector<qint64> times = {0, m, 2 * m, 3 * m, 10 * m, 11 * m, 30 * m};
    const auto runs = THistoryView::Runs(times, 150000);
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {{0, 3}, {4, 5}, {6, 6}};
    QCOMPARE(runs, expected);
    // The view reads an amplifier's day from the journal.
    THistorySample s;
    s.Address = Address(1);
    s.TimeMs = FJournal->Now() - 2 * m;
    s.AmplifierTemperature = 41;
    FJournal->RecordSample(s);
    s.TimeMs -= 2 * THistoryView::kSpanMs;
    FJournal->RecordSample(s);
    QVERIFY(FJournal->Flush(10000));
    THistoryView view(FJournal.get());
    QSignalSpy shown(&view, &THistoryView::SamplesShown);
    view.ShowAmplifier(Address(1));
    QVERIFY(shown.wait());
    QCOMPARE(int(view.Samples().size()), 1);
    QCOMPARE(view.Samples().front().AmplifierTemperature, 41.0);
}

QTEST_MAIN(TestJournalForm)
#include "tst_JournalForm.moc"
