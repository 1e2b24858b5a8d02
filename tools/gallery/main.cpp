// Shows the program's configured faders and LED bar meters together at their design sizes: the
// global volume fader, the group panel's six faders with their bars, and the device panel's channel
// and amplifier bars. The group faders drive their bars and labels as in the group panel.
#include "controls/ColorBar1.h"
#include "controls/PotmeterComponent.h"
#include "model/Utils.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <cmath>

namespace {

const QColor kLime(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kStripBackground(212, 208, 200);

enum class TUnit { Decibel, Volt };

struct TFaderSetting {
    double ValueA;
    double ValueB;
    double InternalValue;
    TUnit Unit;
};

QLabel* MakeLabel(const QString& text, const QRect& geometry, QWidget* parent,
                  Qt::Alignment alignment = Qt::AlignCenter) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment);
    label->setGeometry(geometry);
    return label;
}

TDDLedBar* MakeBar(QWidget* parent, TTrackBarOrientation orientation, const QRect& geometry, int maxValue,
                   int barSize, int lowToMid, int midToHi, const QColor& low, const QColor& mid,
                   const QColor& hi) {
    auto* bar = new TDDLedBar(parent);
    bar->SetOrientation(orientation);
    bar->setGeometry(geometry);
    bar->SetMaxValue(maxValue);
    bar->SetBarSize(barSize);
    bar->SetMidToHiPos(midToHi);
    bar->SetLowToMidPos(lowToMid);
    bar->SetMidToHiPos(midToHi);
    bar->SetColorLow(low);
    bar->SetColorMid(mid);
    bar->SetColorHi(hi);
    return bar;
}

// One 89 x 383 fader strip of the group panel: fader, LED bar and value label. The B strip is the
// mirror image of the A strip, so that both bars stand between the two faders.
void AddFaderStrip(QWidget* section, int left, bool mirrored, const TFaderSetting& setting) {
    auto* strip = new QWidget(section);
    strip->setGeometry(left, 48, 89, 383);
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, kStripBackground);
    strip->setPalette(palette);

    auto* fader = new TFcRPotmeter(strip);
    fader->setGeometry(mirrored ? 27 : 0, 0, 62, 343);
    fader->SetValueA(setting.ValueA);
    fader->SetValueB(setting.ValueB);
    fader->SetStep(1);
    fader->SetInternalValue(setting.InternalValue);

    auto* bar = MakeBar(strip, trVertical, QRect(mirrored ? 9 : 71, 17, 9, 309), 255, 5, 32, 16, kLime,
                        kYellow, kRed);
    QLabel* value = MakeLabel(QString(), QRect(0, 358, 89, 25), strip);

    const auto showPosition = [fader, bar, value, unit = setting.Unit](TFcRPotmeter*) {
        const double v = fader->Value();
        bar->SetPosition(static_cast<int>(255 - fader->InternalValue() * 255));
        value->setText(unit == TUnit::Decibel ? FloatToStr(RoundHalfEven(v * 2) / 2) + QStringLiteral("dB")
                                              : FloatToStr(RoundHalfEven(v)) + QStringLiteral("V"));
    };
    QObject::connect(fader, &TFcRPotmeter::OnChange, fader, showPosition);
    showPosition(fader);
}

QWidget* MakeGroupPanel(QWidget* parent) {
    auto* block = new QWidget(parent);
    block->setFixedSize(785, 431);
    const TFaderSetting level{0, -95.5, 0.335078534031414, TUnit::Decibel};
    const TFaderSetting limiter{170, 10, 0.75, TUnit::Volt};
    const struct {
        const char* Title;
        TFaderSetting Setting;
    } sections[] = {{"Volume", level}, {"Sensitivity", level}, {"Limiter", limiter}};
    int left = 0;
    for (const auto& s : sections) {
        auto* section = new QWidget(block);
        section->setGeometry(left, 0, 177, 431);
        QLabel* title = MakeLabel(QString::fromLatin1(s.Title), QRect(0, 17, 177, 13), section);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        AddFaderStrip(section, 0, false, s.Setting);
        AddFaderStrip(section, 88, true, s.Setting);
        left += 177 + 48;
    }
    return block;
}

// The device panel's eight channel bars (channel B mirrors channel A) and its four amplifier rows.
QWidget* MakeDevicePanel(QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setFixedSize(785, 460);

    const char* captions[] = {"Peak V", "Aver. V", "Aver. I", "Power"};
    const int positionsA[] = {200, 120, 60, 30};
    const int positionsB[] = {180, 90, 40, 250};
    for (int k = 0; k < 4; ++k) {
        const int leftA = 120 + k * 48;
        const int leftB = 785 - 120 - 48 - k * 48;
        for (int side = 0; side < 2; ++side) {
            const int left = side == 0 ? leftA : leftB;
            TDDLedBar* bar = MakeBar(panel, trVertical, QRect(left + 16, 0, 15, 337), 255, 8, 32, 16, kLime,
                                     kYellow, kRed);
            bar->SetPosition(side == 0 ? positionsA[k] : positionsB[k]);
            MakeLabel(QString::fromLatin1(captions[k]), QRect(left, 340, 48, 14), panel);
        }
    }
    MakeLabel(QStringLiteral("CH A"), QRect(0, 150, 110, 20), panel);
    MakeLabel(QStringLiteral("CH B"), QRect(675, 150, 110, 20), panel);

    const struct {
        const char* Caption;
        int Height;
        int MaxValue;
        int LowToMid;
        int MidToHi;
        QColor Low, Mid, Hi;
        int Position;
        const char* Text;
    } rows[] = {
        {"PSU", 21, 150, 32, 16, kLime, kYellow, kRed, 45, "45 \u00b0C"},
        {"AMP", 19, 150, 32, 16, kLime, kYellow, kRed, 75, "75 \u00b0C"},
        {"AC IN", 20, 300, 50, 12, kRed, kLime, kRed, 230, "230 V"},
        {"FAN", 21, 100, 32, 16, kLime, kLime, kLime, 70, "70 %"},
    };
    int top = 370;
    for (const auto& row : rows) {
        QLabel* caption = MakeLabel(QString::fromLatin1(row.Caption), QRect(26, top, 56, row.Height), panel);
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        TDDLedBar* bar = MakeBar(panel, trHorizontal, QRect(83, top, 618, row.Height), row.MaxValue, 8,
                                 row.LowToMid, row.MidToHi, row.Low, row.Mid, row.Hi);
        bar->SetPosition(row.Position);
        MakeLabel(QString::fromUtf8(row.Text), QRect(703, top, 56, row.Height), panel)->setFont(bold);
        top += row.Height + 2;
    }
    return panel;
}

// The main window's "Volume " box: a 49-high spacer, the global fader with 8-pixel margins, the
// value label and a 74-high spacer.
QWidget* MakeGlobalVolume(QWidget* parent) {
    auto* box = new QGroupBox(QStringLiteral("Volume "), parent);
    box->setFixedSize(88, 830);
    auto* fader = new TFcRPotmeter(box);
    fader->setGeometry(10, 49, 68, 682);
    fader->SetValueA(96);
    fader->SetValueB(-96);
    fader->SetStep(0.5);
    fader->SetInternalValue(0.5);
    QLabel* value = MakeLabel(QString(), QRect(2, 731, 84, 25), box);
    const auto showValue = [fader, value](TFcRPotmeter*) {
        value->setText(FloatToStr(RoundHalfEven(fader->Value() * 10) / 10) + QStringLiteral("dB"));
    };
    QObject::connect(fader, &TFcRPotmeter::OnChange, fader, showValue);
    showValue(fader);
    return box;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The program's windows use an 8-point sans-serif face with 11-pixel characters; the controls
    // take their text from it.
    QFont font = QApplication::font();
    font.setPixelSize(11);
    QApplication::setFont(font);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Fadelink control gallery"));
    window.setFixedSize(923, 911);
    MakeGroupPanel(&window)->move(10, 10);
    MakeDevicePanel(&window)->move(10, 446);
    MakeGlobalVolume(&window)->move(825, 40);
    window.show();
    return QApplication::exec();
}
