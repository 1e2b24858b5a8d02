#include "ui/Forms.h"

#include "model/Errors.h"

#include <QMessageBox>

TSearchForm* SearchForm = nullptr;
TMuteForm* MuteForm = nullptr;
TForm4* Form4 = nullptr;
TGroupNameForm* GroupNameForm = nullptr;
TDeviceNameForm* DeviceNameForm = nullptr;
TAboutBoxForm* AboutBoxForm = nullptr;

void ShowErrorMessage(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), DisplayMessage(message), QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
