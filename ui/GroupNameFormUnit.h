#pragma once

#include "ui/NameDialog.h"

#include <QPointer>

class QLineEdit;
class QPushButton;
class TGroup;
class TGroups;

// The modal dialog that collects a group's long and short name for "add new group" and "edit
// group". The caller fills it through ShowGroupNameDialog and, after OK, reads the two fields.
class TGroupNameForm : public TNameDialog {
    Q_OBJECT
public:
    explicit TGroupNameForm(QWidget* parent = nullptr);

    // Puts the names into the fields and shows the dialog modally: QDialog::Accepted after an OK
    // with a valid short name, QDialog::Rejected after Cancel or closing the window. When it edits
    // `editing`, OK also refuses a short name that another group of the registry already has
    // (compared as the registry finds groups: case and trailing blanks aside).
    int ShowGroupNameDialog(const QString& longName, const QString& shortName,
                            const TGroup* editing = nullptr);
    // The registry whose short names an edited group may not take; none at first.
    void SetRegistry(TGroups* registry);

    QLineEdit* GroupLongName;
    QLineEdit* GroupShortName;
    QPushButton* ButtonOK;
    QPushButton* ButtonCancel;

private:
    void ButtonOKClick();
    void ButtonCancelClick();
    void GroupLongNameReturnPressed();
    void GroupShortNameReturnPressed();

    const TGroup* FEditing = nullptr;
    QPointer<TGroups> FRegistry;
};
