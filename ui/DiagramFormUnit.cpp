#include "ui/DiagramFormUnit.h"

#include "device/DeviceUnit.h"
#include "ui/AlignTools.h"
#include "ui/DiagramPicture.h"
#include "ui/HistoryView.h"

#include <QDateTime>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <utility>

namespace {

constexpr int kClientWidth = 910;
constexpr int kClientHeight = 503;
constexpr int kPictureLeft = 8;
constexpr int kPictureTop = 8;
constexpr int kRowTop[2] = {457, 479};
constexpr int kRowHeight = 20;
// The caption and value pairs stand in three columns under the three columns of graphs.
constexpr int kColumnPitch = 300;
constexpr int kCaptionWidth = 186;
constexpr int kValueGap = 6;
constexpr int kValueWidth = 100;
constexpr int kRefreshMs = 1000;

QFont LabelFont() {
    QFont font;
    font.setPixelSize(16);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, Qt::Alignment alignment, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(LabelFont());
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setGeometry(geometry);
    return label;
}

} // namespace

TForm4::TForm4(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral("Diagram"));
    setFixedSize(kClientWidth, kClientHeight);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setAutoFillBackground(true);

    const QRect pictureRect(kPictureLeft, kPictureTop, DiagramPictureWidth, DiagramPictureHeight);
    const QPixmap background = QPixmap::fromImage(DiagramBackground());
    Image2 = new QLabel(this);
    Image2->setGeometry(pictureRect);
    Image2->setPixmap(background);
    Image2->hide();
    Image1 = new QLabel(this);
    Image1->setGeometry(pictureRect);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(background);

    const auto pair = [this](int column, int row, const char* caption, QLabel*& captionLabel,
                             QLabel*& valueLabel) {
        const int left = kPictureLeft + column * kColumnPitch;
        captionLabel = MakeLabel(this, QString::fromLatin1(caption), Qt::AlignRight,
                                 QRect(left, kRowTop[row], kCaptionWidth, kRowHeight));
        valueLabel =
            MakeLabel(this, QStringLiteral("?????"), Qt::AlignLeft,
                      QRect(left + kCaptionWidth + kValueGap, kRowTop[row], kValueWidth, kRowHeight));
    };
    pair(0, 0, "Main SW version:", Label21, PD_Main_SW_Version);
    pair(1, 0, "Webserver SW version:", Label101, PD_Webserver_SW_version);
    pair(2, 0, "Serial Number:", Label42, PD_Serial_Number);
    pair(0, 1, "PSU SW version:", Label38, PD_PSU_SW_Version);
    pair(1, 1, "DDS SW version:", Label102, PD_DDS_SW_Version);
    // Under the serial number, where a third pair would stand: which amplifier this is.
    const int nameLeft = kPictureLeft + 2 * kColumnPitch;
    DeviceName = MakeLabel(this, QString(), Qt::AlignLeft,
                           QRect(nameLeft, kRowTop[1], kClientWidth - nameLeft - kPictureLeft, kRowHeight));

    Timer1 = new QTimer(this);
    Timer1->setInterval(kRefreshMs);
    connect(Timer1, &QTimer::timeout, this, &TForm4::Timer1Timer);
    Timer1->start();
}

void TForm4::SetDevice(TDevice* device) {
    FDevice = device;
}

TDevice* TForm4::Device() const {
    return FDevice;
}

void TForm4::ShowDiagram(TDevice* device, const QWidget* anchor) {
    SetDevice(device);
    if (!isVisible())
        CenterOver(anchor);
    show();
    raise();
    activateWindow();
    // No activation comes when the window manager withholds it or the window was active already.
    Refresh();
}

void TForm4::Refresh() {
    if (!FDevice)
        return;
    const TDeviceStatus& status = FDevice->Status();
    QImage picture = Image2->pixmap().toImage();
    for (const TGraphArea& area : DiagramGraphAreas())
        DrawHistoryGraph(picture, area, status);
    Image1->setPixmap(QPixmap::fromImage(picture));

    PD_PSU_SW_Version->setText(status.PD_PSU_SW_Version.Text());
    PD_Main_SW_Version->setText(status.PD_Main_SW_Version.Text());
    PD_DDS_SW_Version->setText(status.PD_DDS_SW_Version.Text());
    PD_Webserver_SW_version->setText(status.PD_Webserver_SW_version.Text());
    PD_Serial_Number->setText(status.PD_Serial_Number.Text());
    const QString name = QStringLiteral("Amplifier: ") + FDevice->LongName() + QStringLiteral(" [") +
                         FDevice->ShortName() + QStringLiteral("] ") + FDevice->IPAddress();
    DeviceName->setText(DeviceName->fontMetrics().elidedText(name, Qt::ElideRight, DeviceName->width()));
    DeviceName->setToolTip(name);
    // The day's history changes once a minute: read again when the amplifier changes, and on
    // the minute.
    if (DayView && DayView->isVisible()) {
        const QString address = FDevice->IPAddress();
        const qint64 minute = QDateTime::currentMSecsSinceEpoch() / 60000;
        if (address != FDayAddress || minute != FDayMinute) {
            FDayAddress = address;
            FDayMinute = minute;
            DayView->ShowAmplifier(address);
        }
    }
}

void TForm4::SetJournal(TJournal* journal) {
    constexpr int kButtonWidth = 64;
    if (!journal && DayButton) { // the journal goes: so do its view and button
        ShowDayView(false);
        delete std::exchange(DayView, nullptr);
        delete std::exchange(DayButton, nullptr);
        DeviceName->resize(DeviceName->width() + kButtonWidth + kValueGap, DeviceName->height());
        return;
    }
    if (DayButton || !journal)
        return;
    DayView = new THistoryView(journal, this);
    DayView->setObjectName(QStringLiteral("DayView"));
    DayView->setGeometry(kPictureLeft, kPictureTop, DiagramPictureWidth, DiagramPictureHeight);
    DayView->setAutoFillBackground(true);
    DayView->hide();
    DayButton = new QPushButton(QStringLiteral("24 h"), this);
    DayButton->setObjectName(QStringLiteral("DayButton"));
    DayButton->setCheckable(true);
    DayButton->setToolTip(QStringLiteral("The amplifier's last 24 hours from the journal"));
    DayButton->setGeometry(kClientWidth - kPictureLeft - kButtonWidth, kRowTop[1], kButtonWidth, kRowHeight);
    DeviceName->resize(DeviceName->width() - kButtonWidth - kValueGap, DeviceName->height());
    connect(DayButton, &QPushButton::toggled, this, &TForm4::ShowDayView);
}

void TForm4::ShowDayView(bool on) {
    if (!DayView)
        return;
    if (DayButton->isChecked() != on)
        DayButton->setChecked(on);
    DayView->setVisible(on);
    Image1->setVisible(!on);
    FDayAddress.clear();
    Refresh();
}

void TForm4::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TForm4::FormActivate() {
    Refresh();
}

void TForm4::Timer1Timer() {
    Refresh();
}

// Over the main window, within the screen area available, however the main window was moved
// since the last time; the middle of the screen without one.
void TForm4::CenterOver(const QWidget* anchor) {
    const QWidget* main = anchor ? anchor->window() : nullptr;
    const QScreen* target = main ? main->screen() : screen();
    const QRect area = target ? target->availableGeometry() : QRect();
    const QRect over = main ? main->frameGeometry() : area;
    // Before its first showing the window has no frame yet: its outer size is its own size.
    const QSize outer = frameGeometry().size().expandedTo(size());
    move(CentreRectOver(QRect(QPoint(0, 0), outer), over, area).topLeft());
}
