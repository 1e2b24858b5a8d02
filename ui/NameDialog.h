#pragma once

#include <QDialog>
#include <QString>

class QFont;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QSize;

// What the group and device name dialogs share. Each is created once and reused: a fixed size,
// centred on the screen the first time it is shown and left where the operator moved it after
// that. Enter does only what a field binds to it, and Escape does not close the dialog (closing
// the window counts as Cancel).
class TNameDialog : public QDialog {
    Q_OBJECT
public:
    TNameDialog(const QString& caption, const QSize& size, QWidget* parent);

protected:
    // Shows the dialog modally; QDialog::Accepted or QDialog::Rejected.
    int ShowModal();
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool FPlaced = false;
};

// The short-name rule of both dialogs: only the letters "a" to "z" and "A" to "Z" and the digits
// "0" to "9"; the empty name passes.
bool IsAlphanumericName(const QString& text);

// Applies the short-name rule to a dialog's short-name field. A name that breaks it moves the
// focus to the field, shows "Only alphanumeric characters are allowed" and answers false.
bool ShortNameIsValid(QLineEdit* shortNameField);

// A dialog's validation message: one plain line, the application title as caption, OK.
void ShowDialogMessage(QWidget* parent, const QString& text);

// The fixed-pitch font of the name and address fields, at the size of the dialog's own text.
QFont NameFieldFont(const QWidget* dialog);

// A name field of a dialog, named `name`, in the fixed-pitch font; `maxLength` 0 sets no limit.
QLineEdit* NewNameField(QWidget* dialog, const QString& name, int maxLength = 0);

// A dialog button with its caption and object name ("OK" / "ButtonOK").
QPushButton* NewDialogButton(QWidget* dialog, const QString& caption, const QString& name);
