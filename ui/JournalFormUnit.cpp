#include "ui/JournalFormUnit.h"

#include "journal/AlarmHook.h"
#include "journal/Journal.h"
#include "journal/JournalExport.h"
#include "journal/JournalQueryThread.h"
#include "ui/JournalTableModel.h"

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kSearchPauseMs = 250;
// Shorter texts are not searched: without three letters the text index cannot help, and a
// text found nowhere would be looked for in every entry of the journal.
constexpr int kMinSearchLength = 3;
constexpr int kListsRefreshMs = 5000;
constexpr qint64 kHourMs = 60 * 60 * 1000;

enum TTimeWindow { AllTimes, LastHour, LastDay, SinceLastStart, SinceChosen };

enum TAlarmColumn { AlarmState, AlarmRaised, AlarmAmplifier, AlarmWhat, AlarmDuration, AlarmAcknowledged };

QString LocalTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Replaces a combo box's items after its first ("All ...") with `values`, keeping the choice.
void Repopulate(QComboBox* box, const QStringList& values) {
    const QString chosen = box->currentIndex() > 0 ? box->currentText() : QString();
    const QSignalBlocker block(box);
    while (box->count() > 1)
        box->removeItem(1);
    box->addItems(values);
    if (!chosen.isEmpty()) {
        int index = box->findText(chosen);
        if (index < 0) {
            box->addItem(chosen);
            index = box->count() - 1;
        }
        box->setCurrentIndex(index);
    }
}
} // namespace

const char* const TJournalForm::kAlarmCommandKey = "journal/alarmCommand";

QString DurationText(qint64 ms) {
    const qint64 s = std::max<qint64>(0, ms / 1000);
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    if (s < 86400)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
    return QStringLiteral("%1 d %2 h").arg(s / 86400).arg(s % 86400 / 3600);
}

QString TJournalForm::OperatorName() {
    for (const char* name : {"USER", "LOGNAME"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    return QStringLiteral("operator");
}

TJournalForm::TJournalForm(TJournal* journal, TAlarmHook* hook, QWidget* parent)
    : QWidget(parent, Qt::Window), FJournal(journal), FHook(hook),
      FWork(std::make_unique<TJournalQueryThread>(journal->Path())) {
    setWindowTitle(QStringLiteral("Journal"));
    setObjectName(QStringLiteral("JournalForm"));
    resize(1180, 720);

    auto* layout = new QVBoxLayout(this);
    BuildFilterBar();
    auto* filters = new QHBoxLayout;
    for (QToolButton* b : FSeverity)
        filters->addWidget(b);
    filters->addSpacing(12);
    filters->addWidget(FGroup);
    filters->addWidget(FAmplifier);
    filters->addWidget(FSource);
    filters->addWidget(FTime);
    filters->addWidget(FSince);
    filters->addWidget(FSearch, 1);
    layout->addLayout(filters);

    FModel = new TJournalTableModel(journal, this);
    FView = new QTableView(this);
    FView->setObjectName(QStringLiteral("EntryView"));
    FView->setModel(FModel);
    FView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FView->setWordWrap(false);
    FView->verticalHeader()->hide();
    FView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FView->verticalHeader()->setDefaultSectionSize(FView->fontMetrics().height() + 6);
    const int widths[TJournalTableModel::ColumnCount] = {135, 105, 150, 110, 55, 230, 60, 75, 75, 150};
    for (int c = 0; c < TJournalTableModel::ColumnCount; ++c)
        FView->setColumnWidth(c, widths[c]);
    FView->horizontalHeader()->setStretchLastSection(true);
    connect(FView, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const QString address = index.data(TJournalTableModel::AddressRole).toString();
        if (!address.isEmpty())
            emit AmplifierActivated(address);
    });

    BuildAlarmPanel();
    auto* alarmPanel = new QWidget(this);
    auto* alarmLayout = new QVBoxLayout(alarmPanel);
    alarmLayout->setContentsMargins(0, 0, 0, 0);
    auto* alarmBar = new QHBoxLayout;
    alarmBar->addWidget(FAlarmTitle, 1);
    alarmBar->addWidget(FAcknowledge);
    alarmBar->addWidget(FAcknowledgeAll);
    alarmLayout->addLayout(alarmBar);
    alarmLayout->addWidget(FAlarms);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(FView);
    splitter->addWidget(alarmPanel);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);

    auto* bottom = new QHBoxLayout;
    FCommand = new QLineEdit(this);
    FCommand->setObjectName(QStringLiteral("AlarmCommandEdit"));
    FCommand->setPlaceholderText(QStringLiteral("Run for each new alarm, with it as JSON on standard input"));
    auto* commandLabel = new QLabel(QStringLiteral("Alarm command:"), this);
    commandLabel->setBuddy(FCommand);
    bottom->addWidget(commandLabel);
    bottom->addWidget(FCommand, 1);
    FExport = new QPushButton(QStringLiteral("Export..."), this);
    FExport->setObjectName(QStringLiteral("ExportButton"));
    FExport->setToolTip(QStringLiteral("Export the entries the filters select, as CSV or JSON"));
    FExportHistory = new QPushButton(QStringLiteral("Export history..."), this);
    FExportHistory->setObjectName(QStringLiteral("ExportHistoryButton"));
    FExportHistory->setToolTip(QStringLiteral("Export the chosen amplifier's history of the last 30 days"));
    FExportHistory->setEnabled(false);
    bottom->addWidget(FExport);
    bottom->addWidget(FExportHistory);
    layout->addLayout(bottom);
    FStatus = new QLabel(this);
    FStatus->setObjectName(QStringLiteral("StatusLabel"));
    FStatus->setTextFormat(Qt::PlainText);
    layout->addWidget(FStatus);

    if (FHook) {
        const QString command = QSettings().value(QLatin1String(kAlarmCommandKey)).toString();
        FHook->SetCommand(command);
        FCommand->setText(command);
        connect(FCommand, &QLineEdit::editingFinished, this, [this] {
            const QString command = FCommand->text().trimmed();
            if (command == FHook->Command())
                return;
            QSettings().setValue(QLatin1String(kAlarmCommandKey), command);
            FHook->SetCommand(command);
        });
    } else {
        FCommand->setEnabled(false);
    }
    connect(FExport, &QPushButton::clicked, this, [this] { ChooseExportFile(false); });
    connect(FExportHistory, &QPushButton::clicked, this, [this] { ChooseExportFile(true); });

    connect(FModel, &TJournalTableModel::PageLoaded, this, &TJournalForm::ShowStatus);
    connect(FModel, &TJournalTableModel::rowsInserted, this, &TJournalForm::ShowStatus);
    connect(FModel, &TJournalTableModel::ErrorChanged, this, &TJournalForm::ShowStatus);
    connect(journal, &TJournal::ProblemReported, this, &TJournalForm::ShowStatus);
    connect(journal, &TJournal::WriteResumed, this, &TJournalForm::ShowStatus);
    connect(journal, &TJournal::AlarmsChanged, this, &TJournalForm::RefreshAlarms);
    FListsRefresh = new QTimer(this);
    FListsRefresh->setSingleShot(true);
    FListsRefresh->setInterval(kListsRefreshMs);
    connect(FListsRefresh, &QTimer::timeout, this, &TJournalForm::RefreshLists);
    connect(journal, &TJournal::EntriesWritten, this, [this] {
        if (isVisible() && !FListsRefresh->isActive())
            FListsRefresh->start();
    });

    RefreshAlarms();
    ApplyFilter();
}

TJournalForm::~TJournalForm() {
    // Waits for a list query or an export in progress.
    FWork.reset();
}

void TJournalForm::BuildFilterBar() {
    const char* names[4] = {"SeverityFault", "SeverityWarning", "SeverityInfo", "SeverityUserAction"};
    for (int s = 0; s < kJournalSeverityCount; ++s) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(names[s]));
        b->setCheckable(true);
        b->setChecked(true);
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setIcon(TJournalTableModel::SeverityIcon(TJournalSeverity(s)));
        b->setText(TJournalTableModel::SeverityTitle(TJournalSeverity(s)));
        b->setToolTip(QStringLiteral("Show entries of this severity"));
        connect(b, &QToolButton::toggled, this, &TJournalForm::ApplyFilter);
        FSeverity[s] = b;
    }
    FGroup = new QComboBox(this);
    FGroup->setObjectName(QStringLiteral("GroupFilter"));
    FGroup->addItem(QStringLiteral("All groups"));
    FGroup->setMinimumContentsLength(12);
    FAmplifier = new QComboBox(this);
    FAmplifier->setObjectName(QStringLiteral("AmplifierFilter"));
    FAmplifier->addItem(QStringLiteral("All amplifiers"));
    FAmplifier->setMinimumContentsLength(14);
    FSource = new QComboBox(this);
    FSource->setObjectName(QStringLiteral("SourceFilter"));
    FSource->addItem(QStringLiteral("All sources"), -1);
    for (int s = 0; s < kJournalSourceCount; ++s) {
        QString name = SourceName(TJournalSource(s));
        name[0] = name[0].toUpper();
        FSource->addItem(name, s);
    }
    FTime = new QComboBox(this);
    FTime->setObjectName(QStringLiteral("TimeFilter"));
    FTime->addItem(QStringLiteral("All times"), AllTimes);
    FTime->addItem(QStringLiteral("Last hour"), LastHour);
    FTime->addItem(QStringLiteral("Last 24 hours"), LastDay);
    FTime->addItem(QStringLiteral("Since last start"), SinceLastStart);
    FTime->addItem(QStringLiteral("Since..."), SinceChosen);
    FSince = new QDateTimeEdit(QDateTime::currentDateTime().addDays(-1), this);
    FSince->setObjectName(QStringLiteral("SinceEdit"));
    FSince->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    FSince->setCalendarPopup(true);
    FSince->setEnabled(false);
    FSearch = new QLineEdit(this);
    FSearch->setObjectName(QStringLiteral("SearchEdit"));
    FSearch->setPlaceholderText(QStringLiteral("Search (3 characters or more)"));
    FSearch->setClearButtonEnabled(true);
    FSearchPause = new QTimer(this);
    FSearchPause->setSingleShot(true);
    FSearchPause->setInterval(kSearchPauseMs);

    for (QComboBox* box : {FGroup, FAmplifier, FSource, FTime})
        connect(box, &QComboBox::currentIndexChanged, this, &TJournalForm::ApplyFilter);
    connect(FTime, &QComboBox::currentIndexChanged, this,
            [this] { FSince->setEnabled(FTime->currentData().toInt() == SinceChosen); });
    connect(FAmplifier, &QComboBox::currentIndexChanged, this,
            [this] { FExportHistory->setEnabled(FAmplifier->currentIndex() > 0); });
    connect(FSince, &QDateTimeEdit::dateTimeChanged, this, [this] {
        if (FTime->currentData().toInt() == SinceChosen)
            ApplyFilter();
    });
    connect(FSearch, &QLineEdit::textChanged, FSearchPause, qOverload<>(&QTimer::start));
    connect(FSearchPause, &QTimer::timeout, this, &TJournalForm::ApplyFilter);
}

void TJournalForm::BuildAlarmPanel() {
    FAlarmTitle = new QLabel(this);
    FAlarmTitle->setObjectName(QStringLiteral("AlarmTitle"));
    FAlarms = new QTreeWidget(this);
    FAlarms->setObjectName(QStringLiteral("AlarmList"));
    FAlarms->setRootIsDecorated(false);
    FAlarms->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FAlarms->setHeaderLabels({QStringLiteral("State"), QStringLiteral("Raised"), QStringLiteral("Amplifier"),
                              QStringLiteral("Alarm"), QStringLiteral("Lasted"),
                              QStringLiteral("Acknowledged")});
    FAlarms->setColumnWidth(AlarmState, 170);
    FAlarms->setColumnWidth(AlarmRaised, 150);
    FAlarms->setColumnWidth(AlarmAmplifier, 170);
    FAlarms->setColumnWidth(AlarmWhat, 280);
    FAlarms->setColumnWidth(AlarmDuration, 140);
    FAcknowledge = new QPushButton(QStringLiteral("Acknowledge"), this);
    FAcknowledge->setObjectName(QStringLiteral("AcknowledgeButton"));
    FAcknowledgeAll = new QPushButton(QStringLiteral("Acknowledge all"), this);
    FAcknowledgeAll->setObjectName(QStringLiteral("AcknowledgeAllButton"));
    connect(FAcknowledge, &QPushButton::clicked, this, &TJournalForm::AcknowledgeSelected);
    connect(FAcknowledgeAll, &QPushButton::clicked, this, &TJournalForm::AcknowledgeAll);
    connect(FAlarms, &QTreeWidget::itemSelectionChanged, this, [this] {
        bool any = false;
        for (const QTreeWidgetItem* item : FAlarms->selectedItems()) {
            const TAlarm* alarm = FJournal->FindAlarm(item->data(0, Qt::UserRole).toString());
            any = any || (alarm && !alarm->Acknowledged());
        }
        FAcknowledge->setEnabled(any);
    });
    connect(FAlarms, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const TAlarm* alarm = FJournal->FindAlarm(item->data(0, Qt::UserRole).toString());
        if (alarm && !alarm->Entry.Address.isEmpty())
            emit AmplifierActivated(alarm->Entry.Address);
    });
}

TJournalFilter TJournalForm::CurrentFilter() const {
    TJournalFilter f;
    f.Severities = 0;
    for (int s = 0; s < kJournalSeverityCount; ++s)
        if (FSeverity[s]->isChecked())
            f.Severities |= 1u << s;
    if (FGroup->currentIndex() > 0)
        f.Group = FGroup->currentText();
    if (FAmplifier->currentIndex() > 0)
        f.Address = FAmplifier->currentText();
    if (const int source = FSource->currentData().toInt(); source >= 0)
        f.Source = TJournalSource(source);
    switch (FTime->currentData().toInt()) {
    case LastHour:
        f.SinceMs = FJournal->Now() - kHourMs;
        break;
    case LastDay:
        f.SinceMs = FJournal->Now() - 24 * kHourMs;
        break;
    case SinceLastStart:
        f.SinceLastStart = true;
        break;
    case SinceChosen:
        f.SinceMs = FSince->dateTime().toMSecsSinceEpoch();
        break;
    default:
        break;
    }
    const QString text = FSearch->text().trimmed();
    if (text.toUcs4().size() >= kMinSearchLength)
        f.Text = text;
    return f;
}

void TJournalForm::ApplyFilter() {
    FSearchPause->stop();
    FModel->SetFilter(CurrentFilter());
    ShowStatus();
}

void TJournalForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    RefreshLists();
}

void TJournalForm::RefreshLists() {
    FWork->Post([this](TJournalReader& reader) {
        reader.Reopen();
        QStringList groups = reader.Groups();
        QStringList addresses = reader.Addresses();
        QMetaObject::invokeMethod(
            this,
            [this, groups, addresses] {
                Repopulate(FGroup, groups);
                Repopulate(FAmplifier, addresses);
            },
            Qt::QueuedConnection);
    });
}

void TJournalForm::RefreshAlarms() {
    const QStringList selected = [this] {
        QStringList ids;
        for (const QTreeWidgetItem* item : FAlarms->selectedItems())
            ids.append(item->data(0, Qt::UserRole).toString());
        return ids;
    }();
    FAlarms->clear();
    const qint64 now = FJournal->Now();
    const std::vector<TAlarm>& alarms = FJournal->Alarms();
    QList<QTreeWidgetItem*> items;
    for (auto it = alarms.rbegin(); it != alarms.rend(); ++it) {
        const TAlarm& a = *it;
        auto* item = new QTreeWidgetItem;
        QString state = a.Cleared() ? QStringLiteral("Cleared") : QStringLiteral("Active");
        if (a.Acknowledged())
            state += QStringLiteral(", acknowledged");
        if (a.RaiseCount > 1)
            state += QStringLiteral(" (%1\u00D7)").arg(a.RaiseCount);
        item->setText(AlarmState, state);
        item->setIcon(AlarmState, TJournalTableModel::SeverityIcon(a.Entry.Severity));
        item->setText(AlarmRaised, LocalTime(a.RaisedMs));
        item->setText(AlarmAmplifier, a.Entry.ShortName.isEmpty()
                                          ? a.Entry.Address
                                          : a.Entry.ShortName + QStringLiteral("  ") + a.Entry.Address);
        item->setText(AlarmWhat, a.Entry.Channel.isEmpty() ? a.Entry.What
                                                           : a.Entry.What + QStringLiteral(" (channel ") +
                                                                 a.Entry.Channel + QLatin1Char(')'));
        item->setText(AlarmDuration, DurationText(a.DurationMs(now)) +
                                         (a.Cleared() ? QString() : QStringLiteral(" so far")));
        item->setText(AlarmAcknowledged,
                      a.Acknowledged() ? a.AcknowledgedBy + QStringLiteral(", ") + LocalTime(a.AcknowledgedMs)
                                       : QString());
        item->setData(0, Qt::UserRole, a.Id);
        if (!a.Acknowledged()) {
            QFont bold = item->font(0);
            bold.setBold(true);
            for (int c = 0; c <= AlarmAcknowledged; ++c)
                item->setFont(c, bold);
        }
        items.append(item);
    }
    FAlarms->addTopLevelItems(items);
    for (QTreeWidgetItem* item : items)
        item->setSelected(selected.contains(item->data(0, Qt::UserRole).toString()));
    const int count = FJournal->AlarmCount();
    FAlarmTitle->setText(count == 0 ? QStringLiteral("Alarms: none to acknowledge")
                                    : QStringLiteral("Alarms: %1 to acknowledge").arg(count));
    FAcknowledgeAll->setEnabled(count > 0);
    bool anySelected = false;
    for (const QTreeWidgetItem* item : FAlarms->selectedItems()) {
        const TAlarm* alarm = FJournal->FindAlarm(item->data(0, Qt::UserRole).toString());
        anySelected = anySelected || (alarm && !alarm->Acknowledged());
    }
    FAcknowledge->setEnabled(anySelected);
}

void TJournalForm::AcknowledgeSelected() {
    QStringList ids;
    for (const QTreeWidgetItem* item : FAlarms->selectedItems())
        ids.append(item->data(0, Qt::UserRole).toString());
    for (const QString& id : ids)
        FJournal->AcknowledgeAlarm(id, TJournalSource::UserInterface, OperatorName());
}

void TJournalForm::AcknowledgeAll() {
    FJournal->AcknowledgeAll(TJournalSource::UserInterface, OperatorName());
}

void TJournalForm::ShowStatus() {
    QString text;
    if (!FModel->Error().isEmpty())
        text = QStringLiteral("The journal cannot be read: ") + FModel->Error();
    else if (!FJournal->Problem().isEmpty())
        text = FJournal->Problem();
    else if (FModel->Loading() && FModel->rowCount() == 0)
        text = QStringLiteral("Reading the journal...");
    else if (!FSearch->text().trimmed().isEmpty() && FModel->Filter().Text.isEmpty())
        text = QStringLiteral("Type at least %1 characters to search").arg(kMinSearchLength);
    else
        text = QStringLiteral("%1 entries shown%2")
                   .arg(FModel->rowCount())
                   .arg(FModel->canFetchMore(QModelIndex()) ? QStringLiteral("; more below") : QString());
    FStatus->setText(text);
}

void TJournalForm::ChooseExportFile(bool history) {
    const QString fileName = QFileDialog::getSaveFileName(
        this, history ? QStringLiteral("Export history") : QStringLiteral("Export journal"), QString(),
        QStringLiteral("CSV (*.csv);;JSON (*.json)"));
    if (!fileName.isEmpty())
        RunExport(fileName, history);
}

void TJournalForm::ExportEntries(const QString& fileName) {
    RunExport(fileName, false);
}

void TJournalForm::ExportHistory(const QString& fileName) {
    RunExport(fileName, true);
}

void TJournalForm::RunExport(const QString& fileName, bool history) {
    if (FExporting)
        return;
    FExporting = true;
    FExport->setEnabled(false);
    FExportHistory->setEnabled(false);
    FStatus->setText(QStringLiteral("Exporting to %1...").arg(fileName));
    const TJournalFilter filter = CurrentFilter();
    const QString path = FJournal->Path();
    const qint64 now = FJournal->Now();
    const qint64 since = now - FJournal->Options().HistoryMaxAgeMs;
    const TExportFormat format = ExportFormatForFile(fileName);
    FWork->Post([this, filter, path, history, since, now, format, fileName](TJournalReader&) {
        QString error;
        const qint64 rows =
            history ? ExportHistoryToFile(path, filter.Address, since, now + 1, format, fileName, error)
                    : ExportJournalToFile(path, filter, format, fileName, error);
        QMetaObject::invokeMethod(
            this,
            [this, rows, error, fileName] {
                FExporting = false;
                FExport->setEnabled(true);
                FExportHistory->setEnabled(FAmplifier->currentIndex() > 0);
                const QString message =
                    rows < 0 ? QStringLiteral("The export failed: ") + error
                             : QStringLiteral("%1 rows exported to %2").arg(rows).arg(fileName);
                FStatus->setText(message);
                emit ExportFinished(rows >= 0, message);
            },
            Qt::QueuedConnection);
    });
}
