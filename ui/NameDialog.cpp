#include "ui/NameDialog.h"

#include "ui/Forms.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

TNameDialog::TNameDialog(const QString& caption, const QSize& size, QWidget* parent) : QDialog(parent) {
    setWindowTitle(caption);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(size);
}

int TNameDialog::ShowModal() {
    if (!FPlaced) {
        FPlaced = true;
        if (const QScreen* s = screen())
            move(s->availableGeometry().center() - rect().center());
    }
    return exec();
}

void TNameDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // QDialog would reject on Escape and press the default button on Enter; here a key
        // has only the binding its field gives it.
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool IsAlphanumericName(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
    });
}

bool ShortNameIsValid(QLineEdit* shortNameField) {
    if (IsAlphanumericName(shortNameField->text()))
        return true;
    shortNameField->setFocus(Qt::OtherFocusReason);
    ShowDialogMessage(shortNameField->window(), QStringLiteral("Only alphanumeric characters are allowed"));
    return false;
}

void ShowDialogMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QFont NameFieldFont(const QWidget* dialog) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (dialog->font().pointSizeF() > 0)
        font.setPointSizeF(dialog->font().pointSizeF());
    return font;
}

QLineEdit* NewNameField(QWidget* dialog, const QString& name, int maxLength) {
    auto* field = new QLineEdit(dialog);
    field->setObjectName(name);
    field->setFont(NameFieldFont(dialog));
    if (maxLength > 0)
        field->setMaxLength(maxLength);
    return field;
}

QPushButton* NewDialogButton(QWidget* dialog, const QString& caption, const QString& name) {
    auto* button = new QPushButton(caption, dialog);
    button->setObjectName(name);
    return button;
}
