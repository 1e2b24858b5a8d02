// The main window's part of the journal: the Journal window, the alarm badge beside the global
// fader, the journal's problems in the status bar, and amplifiers picked from the journal.
#include "app/Fadelink2.h"

#include "app/GroupDeviceTree.h"
#include "device/DeviceUnit.h"
#include "journal/Journal.h"
#include "journal/JournalService.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "ui/DiagramFormUnit.h"
#include "ui/JournalFormUnit.h"
#include "ui/ObjectNames.h"

#include <QIcon>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>

void TForm1::BuildAlarmBadge(QWidget* parent) {
    AlarmBadge = Named(new QToolButton(parent), "AlarmBadge");
    AlarmBadge->setIcon(QIcon(QStringLiteral(":/journal/alarm_bell.svg")));
    AlarmBadge->setIconSize(QSize(20, 20));
    AlarmBadge->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    AlarmBadge->setAutoRaise(true);
    AlarmBadge->setFixedSize(64, 28);
    // Without a journal it is hidden, and the fader keeps its place all the same.
    QSizePolicy policy = AlarmBadge->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    AlarmBadge->setSizePolicy(policy);
    connect(AlarmBadge, &QToolButton::clicked, this, &TForm1::AlarmBadgeClick);
    AlarmBadge->hide();
}

void TForm1::SetJournal(TJournalService* journal) {
    if (TJournal* old = Journal()) { // letting go of the journal it had, before that one ends
        disconnect(old, nullptr, this, nullptr);
        FJournalForm.reset();
        FForm4->SetJournal(nullptr);
        Journal1->setEnabled(false);
        AlarmBadge->hide();
    }
    FJournal = journal;
    TJournal* j = journal ? journal->Journal() : nullptr;
    if (!j) {
        if (journal && !journal->Problem().isEmpty())
            ShowJournalProblem(journal->Problem());
        return;
    }
    FJournalForm.reset(Named(new TJournalForm(j, journal->Hook()), "JournalForm"));
    connect(FJournalForm.get(), &TJournalForm::AmplifierActivated, this, &TForm1::SelectAmplifier);
    connect(j, &TJournal::AlarmCountChanged, this, &TForm1::ShowAlarmCount);
    connect(j, &TJournal::ProblemReported, this, &TForm1::ShowJournalProblem);
    connect(j, &TJournal::WriteResumed, this, [this] { ShowJournalProblem(QString()); });
    Journal1->setEnabled(true);
    AlarmBadge->show();
    ShowAlarmCount(j->AlarmCount());
    if (!j->Problem().isEmpty())
        ShowJournalProblem(j->Problem());
    FForm4->SetJournal(j);
}

TJournal* TForm1::Journal() const {
    return FJournal ? FJournal->Journal() : nullptr;
}

void TForm1::ShowAlarmCount(int count) {
    AlarmBadge->setText(QString::number(count));
    // Red with white figures while alarms wait; grey, and quiet, when none does.
    AlarmBadge->setStyleSheet(count > 0 ? QStringLiteral("QToolButton { background: #c80000; color: white; "
                                                         "font-weight: bold; border-radius: 4px; }")
                                        : QStringLiteral("QToolButton { color: gray; }"));
    AlarmBadge->setToolTip(count == 1 ? QStringLiteral("1 alarm not yet acknowledged")
                                      : QStringLiteral("%1 alarms not yet acknowledged").arg(count));
}

void TForm1::ShowJournalProblem(const QString& message) {
    // The status bar exists only once the journal had something to say, so that the window's
    // layout is the usual one otherwise.
    if (message.isEmpty()) {
        if (QStatusBar* bar = findChild<QStatusBar*>())
            bar->clearMessage();
        return;
    }
    statusBar()->showMessage(message);
}

void TForm1::Journal1Click() {
    if (!FJournalForm)
        return;
    FJournalForm->show();
    FJournalForm->raise();
    FJournalForm->activateWindow();
}

void TForm1::AlarmBadgeClick() {
    Journal1Click();
    if (!FJournalForm)
        return;
    if (auto* alarms = FJournalForm->findChild<QTreeWidget*>(QStringLiteral("AlarmList")))
        alarms->setFocus();
}

void TForm1::SelectAmplifier(const QString& address) {
    TGroups* registry = GroupRegistry();
    if (!registry)
        return;
    for (TGroup* group : registry->Groups())
        for (TDevice* device : group->Devices()) {
            if (device->IPAddress() != address || !device->Node())
                continue;
            const QModelIndex index = DeviceTreeStatusImages->mapFromSource(device->Node()->index());
            GroupDeviceTree->expand(index.parent());
            GroupDeviceTree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            GroupDeviceTree->scrollTo(index);
            raise();
            activateWindow();
            return;
        }
}
