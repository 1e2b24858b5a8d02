#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

// The About box: version, date, the maker's contact block and the warranty disclaimer. Opened
// without being modal; "Close" hides it for the next time.
class TAboutBoxForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBoxForm(QWidget* parent = nullptr);

    // The lines of the text box, top to bottom.
    static QStringList AboutLines();

    QPlainTextEdit* Memo1;
    QPushButton* Button1; // "Close"

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Button1Click();

    bool FPlaced = false;
};
