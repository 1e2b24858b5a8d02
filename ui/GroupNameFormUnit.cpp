#include "ui/GroupNameFormUnit.h"

#include "model/GroupsUnit.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr int kShortNameLength = 5;
}

TGroupNameForm::TGroupNameForm(QWidget* parent)
    : TNameDialog(QStringLiteral("Group name"), QSize(288, 129), parent) {
    auto* longNameLabel = new QLabel(QStringLiteral("Group name"), this);
    GroupLongName = NewNameField(this, QStringLiteral("GroupLongName"));
    auto* shortNameLabel = new QLabel(QStringLiteral("Group short name"), this);
    GroupShortName = NewNameField(this, QStringLiteral("GroupShortName"), kShortNameLength);
    ButtonOK = NewDialogButton(this, QStringLiteral("OK"), QStringLiteral("ButtonOK"));
    ButtonCancel = NewDialogButton(this, QStringLiteral("Cancel"), QStringLiteral("ButtonCancel"));

    // Names on the left, buttons beside their fields, the whole held in the middle of the height.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(3);
    grid->setRowStretch(0, 1);
    grid->addWidget(longNameLabel, 1, 0);
    grid->addWidget(GroupLongName, 2, 0);
    grid->addWidget(ButtonOK, 2, 1);
    grid->setRowMinimumHeight(3, 8);
    grid->addWidget(shortNameLabel, 4, 0);
    grid->addWidget(GroupShortName, 5, 0);
    grid->addWidget(ButtonCancel, 5, 1);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(0, 1);

    setTabOrder(GroupLongName, GroupShortName);
    setTabOrder(GroupShortName, ButtonOK);
    setTabOrder(ButtonOK, ButtonCancel);

    connect(ButtonOK, &QPushButton::clicked, this, &TGroupNameForm::ButtonOKClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &TGroupNameForm::ButtonCancelClick);
    connect(GroupLongName, &QLineEdit::returnPressed, this, &TGroupNameForm::GroupLongNameReturnPressed);
    connect(GroupShortName, &QLineEdit::returnPressed, this, &TGroupNameForm::GroupShortNameReturnPressed);
}

int TGroupNameForm::ShowGroupNameDialog(const QString& longName, const QString& shortName,
                                        const TGroup* editing) {
    FEditing = editing;
    GroupLongName->setText(longName);
    GroupShortName->setText(shortName);
    GroupLongName->setFocus(Qt::OtherFocusReason);
    GroupLongName->selectAll();
    return ShowModal();
}

void TGroupNameForm::SetRegistry(TGroups* registry) {
    FRegistry = registry;
}

void TGroupNameForm::ButtonOKClick() {
    if (!ShortNameIsValid(GroupShortName))
        return;
    // Two groups with one code would become one on the next Open, the later one's levels
    // overwriting the earlier one's.
    const TGroups* registry = FRegistry;
    const TGroup* holder = FEditing && registry ? registry->FindGroup(GroupShortName->text()) : nullptr;
    if (holder && holder != FEditing) {
        GroupShortName->setFocus(Qt::OtherFocusReason);
        ShowDialogMessage(this, QStringLiteral("This short name is in use!"));
        return;
    }
    accept();
}

void TGroupNameForm::ButtonCancelClick() {
    reject();
}

void TGroupNameForm::GroupLongNameReturnPressed() {
    GroupShortName->setFocus(Qt::OtherFocusReason);
    GroupShortName->selectAll();
}

void TGroupNameForm::GroupShortNameReturnPressed() {
    ButtonOKClick();
}
