// A status block of arbitrary bytes as an amplifier delivers it, taken in by the device and shown
// by the device panel's refresh. The input fills the 3157 bytes from the start; a shorter input
// leaves the rest as a device holds it before its first block, a longer one is cut. Besides not
// crashing, the block is kept byte for byte, and the panel shows itself with a state banner
// exactly when the device is not on-line with both channels OK.
#include "controls/ColorBar1.h"
#include "device/DeviceStatus.h"
#include "device/DeviceUnit.h"
#include "fuzz/FuzzSupport.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "ui/DeviceFrameUnit.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QTimer>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {
// One panel for the whole run: building one costs far more than a refresh. What a refresh leaves
// behind that the next one would not overwrite (the meters' full scales) is put back to how the
// panel was built before every input, so that an input shows the same whatever came before it.
struct TPanel {
    TPanel() {
        HoldToLoopbackWithoutPollThreads();
        qputenv("QT_QPA_PLATFORM", "offscreen"); // never a real display
        App = std::make_unique<QApplication>(ArgumentCount, Arguments);
        Registry = std::make_unique<TGroups>();
        Device =
            new TDevice(Registry->FindOrAddGroup(QStringLiteral("Group"), QStringLiteral("GRP")),
                        QStringLiteral("127.0.0.1"), QStringLiteral("Amplifier"), QStringLiteral("AMP01"));
        Frame = std::make_unique<TDeviceFrame>();
        Frame->Timer1->stop(); // refreshed by the inputs only
        for (TDeviceFrame::TChannel* c : {&Frame->CHA, &Frame->CHB})
            for (TDDLedBar* bar : {c->OUTPUT_PEAK_VOLTAGE, c->OUTPUT_AVERAGE_VOLTAGE,
                                   c->OUTPUT_AVERAGE_CURRENT, c->OUTPUT_POWER})
                FullScales.append({bar, bar->MaxValue()});
    }
    TPanel(const TPanel&) = delete;
    TPanel& operator=(const TPanel&) = delete;
    void RestoreFullScales() {
        for (const auto& [bar, maxValue] : FullScales)
            bar->SetMaxValue(maxValue);
    }
    int ArgumentCount = 1;
    char Program[8] = "fuzz";
    char* Arguments[2] = {Program, nullptr};
    std::unique_ptr<QApplication> App;
    std::unique_ptr<TGroups> Registry;
    TDevice* Device; // owned by its group
    std::unique_ptr<TDeviceFrame> Frame;
    QList<QPair<TDDLedBar*, int>> FullScales;
};

// Never destroyed: the engine ends the run with exit(), when Qt's own globals may already be
// gone, and a widget destroyed then crashes.
TPanel& Panel() {
    static TPanel* const panel = new TPanel;
    return *panel;
}

void Show(const QByteArray& body) {
    TPanel& panel = Panel();
    TDevice& device = *panel.Device;
    const quint64 before = device.StatusCount();
    device.StoreResult(QStringLiteral("/zyl.zyl"), true, body);
    FuzzCheck(device.StatusCount() == before + 1, "a block of the right size is taken");
    FuzzCheck(device.Status().ToBody() == body, "the block is kept byte for byte");
    device.Reconcile();

    panel.Frame->SelectDevice(nullptr);
    panel.RestoreFullScales();
    panel.Frame->SelectDevice(&device);
    panel.Frame->Timer1Timer();
    // Lays out and paints what the refresh changed, as the program does after every refresh.
    QCoreApplication::processEvents();
    FuzzCheck(panel.Frame->isVisible(), "the panel shows the selected device, whatever its block");
    FuzzCheck(panel.Frame->StateBanner->isHidden() == (device.DeviceState() == 1),
              "the state banner shows exactly when the device is not on-line with both channels OK");
}
} // namespace

// The application, and the fonts and images that the first refresh loads once for the whole run,
// are set up before any input, so that they never count as an input's leak.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TDeviceStatus status = TDeviceStatus::Initial();
    status.PD_CHA_Status = 1;
    status.PD_CHB_Status = 1;
    Show(status.ToBody());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray body = TDeviceStatus::Initial().ToBody();
    const qsizetype taken = qsizetype(std::min<std::size_t>(size, TDeviceStatus::Size));
    body.replace(0, taken, QByteArray(reinterpret_cast<const char*>(data), taken));
    Show(body);
    return 0;
}
