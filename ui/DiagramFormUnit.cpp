#include "ui/DiagramFormUnit.h"

#include "device/DeviceUnit.h"
#include "ui/DiagramPicture.h"

#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

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

void TForm4::ShowDiagram(TDevice* device) {
    SetDevice(device);
    show();
    raise();
    activateWindow();
    // No activation comes when the window manager withholds it or the window was active already.
    Refresh();
}

void TForm4::Refresh() {
    if (!FDevice)
        return;
    const TDeviceStatus& status = FDevice->Status;
    QImage picture = Image2->pixmap().toImage();
    for (const TGraphArea& area : DiagramGraphAreas())
        DrawHistoryGraph(picture, area, status);
    Image1->setPixmap(QPixmap::fromImage(picture));

    PD_PSU_SW_Version->setText(status.PD_PSU_SW_Version.Text());
    PD_Main_SW_Version->setText(status.PD_Main_SW_Version.Text());
    PD_DDS_SW_Version->setText(status.PD_DDS_SW_Version.Text());
    PD_Webserver_SW_version->setText(status.PD_Webserver_SW_version.Text());
    PD_Serial_Number->setText(status.PD_Serial_Number.Text());
}

void TForm4::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TForm4::showEvent(QShowEvent* event) {
    if (!FPlaced) {
        CenterOverMainWindow();
        FPlaced = true;
    }
    QWidget::showEvent(event);
}

void TForm4::FormActivate() {
    Refresh();
}

void TForm4::Timer1Timer() {
    Refresh();
}

// Over the window that owns this one, or the middle of the screen when nothing owns it. Only
// the first time: afterwards the window stays where the operator put it.
void TForm4::CenterOverMainWindow() {
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect area = owner ? owner->frameGeometry() : screen()->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
}
