#include "ui/AboutBox.h"

#include "model/Constants.h"

#include <QFont>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStringList>

namespace {
constexpr int kClientWidth = 328;
constexpr int kClientHeight = 345;
constexpr int kMargin = 7;
constexpr int kTextWidth = 313;
constexpr int kTextHeight = 305;
constexpr int kButtonHeight = 25;
} // namespace

TAboutBoxForm::TAboutBoxForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    setModal(false);
    setFixedSize(kClientWidth, kClientHeight);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setGeometry(kMargin, kMargin, kTextWidth, kTextHeight);
    // Small enough that the whole text fits the box without scrolling.
    QFont font = Memo1->font();
    font.setPixelSize(11);
    Memo1->setFont(font);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setPlainText(AboutLines().join(QLatin1Char('\n')));

    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setGeometry(kMargin, kClientHeight - kMargin - kButtonHeight, kTextWidth, kButtonHeight);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TAboutBoxForm::Button1Click);
}

QStringList TAboutBoxForm::AboutLines() {
    return {
        QStringLiteral("Version: ") + FadelinkVersion,
        QStringLiteral("Date: 10.10.2010"),
        QStringLiteral("Copyright (c) 2006-2010 ZYL Controls Ltd."),
        QStringLiteral("Unit 4, Example Park"),
        QStringLiteral("17 Sample Road"),
        QStringLiteral("Exampleton EX1 2YZ"),
        QStringLiteral("www.zyl-controls.example  info@zyl-controls.example"),
        QString(),
        QStringLiteral("THIS SOFTWARE IS PROVIDED BY ITS AUTHORS AND CONTRIBUTORS \"AS IS\", WITHOUT ANY "
                       "EXPRESS OR IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE IMPLIED WARRANTIES "
                       "OF MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE. IN NO EVENT SHALL THE "
                       "AUTHORS OR CONTRIBUTORS BE LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, SPECIAL, "
                       "EXEMPLARY OR CONSEQUENTIAL DAMAGES HOWEVER CAUSED AND ON ANY THEORY OF LIABILITY "
                       "ARISING IN ANY WAY OUT OF THE USE OF THIS SOFTWARE, EVEN IF ADVISED OF THE "
                       "POSSIBILITY OF SUCH DAMAGE."),
    };
}

void TAboutBoxForm::Button1Click() {
    hide();
}

// In the middle of the screen the first time; afterwards where the operator left it.
void TAboutBoxForm::showEvent(QShowEvent* event) {
    if (!FPlaced) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen()->availableGeometry().center());
        move(frame.topLeft());
        FPlaced = true;
    }
    QDialog::showEvent(event);
}
