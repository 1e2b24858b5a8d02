#pragma once

#include "journal/JournalReader.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;
class QTreeWidget;
class TAlarmHook;
class TJournal;
class TJournalQueryThread;
class TJournalTableModel;

// How long an alarm lasted, for people: "45 s", "3 min 12 s", "2 h 5 min", "3 d 4 h".
QString DurationText(qint64 ms);

// The Journal window: the journal's entries newest first under filters (severity, group,
// amplifier, source, time window, text), the alarms with their acknowledge actions, the alarm
// command, and the exports. Works with any journal; every read runs off the user-interface
// thread.
class TJournalForm : public QWidget {
    Q_OBJECT
public:
    // The QSettings key of the alarm command.
    static const char* const kAlarmCommandKey;

    // `hook` may be null (no alarm command field then).
    TJournalForm(TJournal* journal, TAlarmHook* hook, QWidget* parent = nullptr);
    ~TJournalForm() override;

    TJournalTableModel* Model() const { return FModel; }
    // The filter the controls describe, and showing it now (the search field waits for a
    // pause in typing first).
    TJournalFilter CurrentFilter() const;
    void ApplyFilter();

    // "Acknowledge" (the selected alarms) and "Acknowledge all".
    void AcknowledgeSelected();
    void AcknowledgeAll();

    // The exports, to `fileName` (CSV, or JSON for a ".json" name), in the background; the
    // result comes with ExportFinished. The history is the chosen amplifier's last 30 days.
    void ExportEntries(const QString& fileName);
    void ExportHistory(const QString& fileName);

    // Who acknowledges from this window: the login name.
    static QString OperatorName();

signals:
    // An entry of an amplifier was double-clicked: the main window selects it in the tree.
    void AmplifierActivated(const QString& address);
    void ExportFinished(bool ok, const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildFilterBar();
    void BuildAlarmPanel();
    void RefreshAlarms();
    void RefreshLists();
    void ShowStatus();
    void ChooseExportFile(bool history);
    void RunExport(const QString& fileName, bool history);

    TJournal* FJournal;
    TAlarmHook* FHook;
    TJournalTableModel* FModel = nullptr;
    std::unique_ptr<TJournalQueryThread> FWork; // lists and exports
    QToolButton* FSeverity[4] = {};
    QComboBox* FGroup = nullptr;
    QComboBox* FAmplifier = nullptr;
    QComboBox* FSource = nullptr;
    QComboBox* FTime = nullptr;
    QDateTimeEdit* FSince = nullptr;
    QLineEdit* FSearch = nullptr;
    QTimer* FSearchPause = nullptr;
    QTimer* FListsRefresh = nullptr;
    QTableView* FView = nullptr;
    QLabel* FAlarmTitle = nullptr;
    QTreeWidget* FAlarms = nullptr;
    QPushButton* FAcknowledge = nullptr;
    QPushButton* FAcknowledgeAll = nullptr;
    QLineEdit* FCommand = nullptr;
    QPushButton* FExport = nullptr;
    QPushButton* FExportHistory = nullptr;
    QLabel* FStatus = nullptr;
    bool FExporting = false;
};
