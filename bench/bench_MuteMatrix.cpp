// The mute matrix's 50 ms rebuild with 1,000 devices (poll threads off, offscreen): user-interface
// time and heap allocations per rebuild, with the window hidden and shown, when nothing changed,
// when one flag changed and when the global mute changed every row.
#include "device/DeviceUnit.h"
#include "device/LoopbackGuard.h"
#include "device/ThreadCommUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "ui/CellGrid.h"
#include "ui/MuteFormUnit.h"
#include "ui/MuteFrameUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

namespace {
std::atomic<long long> gAllocations{0};
} // namespace

// Every heap allocation of the process is counted, Qt's containers (which call malloc
// directly) and operator new (which calls malloc) alike.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* malloc(std::size_t size) {
    ++gAllocations;
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    ++gAllocations;
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    ++gAllocations;
    return __libc_realloc(p, size);
}
}

namespace {
constexpr int kGroups = 50;
constexpr int kDevicesPerGroup = 20;

struct TResult {
    double MicrosPerRebuild;
    double AllocationsPerRebuild;
};

// Runs `change` and a rebuild `rounds` times; with `shown`, also the event processing that
// paints what changed, as the event loop would between two ticks.
TResult Measure(TMuteFrame& frame, int rounds, bool shown, const std::function<void()>& change) {
    for (int i = 0; i < 20; ++i) { // warm up: caches, lazily built paint resources
        change();
        frame.RefreshGrid();
        if (shown)
            QCoreApplication::processEvents();
    }
    const long long allocationsBefore = gAllocations.load();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rounds; ++i) {
        change();
        frame.RefreshGrid();
        if (shown)
            QCoreApplication::processEvents();
    }
    const double ns = double(clock.nsecsElapsed());
    return {ns / rounds / 1000.0, double(gAllocations.load() - allocationsBefore) / rounds};
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    SetLoopbackOnly(true);
    TSocketThread::SetPollThreadsEnabled(false);
    QApplication app(argc, argv);

    auto registry = std::make_unique<TGroups>();
    QList<TDevice*> devices;
    for (int g = 0; g < kGroups; ++g) {
        TGroup* group =
            registry->FindOrAddGroup(QStringLiteral("Group %1").arg(g), QStringLiteral("G%1").arg(g));
        for (int d = 0; d < kDevicesPerGroup; ++d)
            devices << new TDevice(group, QStringLiteral("127.0.200.%1").arg(d + 1), QStringLiteral("Amp"),
                                   QStringLiteral("A%1").arg(g * kDevicesPerGroup + d), d % 3 == 0,
                                   d % 5 == 0);
    }

    TMuteForm form;
    form.SetRegistry(registry.get());
    // The ticks are driven by hand.
    form.Timer1->stop();
    form.MuteFrame->Timer1->stop();
    TMuteFrame& frame = *form.MuteFrame;
    frame.RefreshGrid();

    TDevice* visible = devices.at(2);
    const auto nothing = [] {};
    const auto oneFlag = [visible] { visible->SetMute_CHB(!visible->Mute_CHB()); };
    TGroups* r = registry.get();
    const auto global = [r] { r->SetMute(!r->Mute()); };

    struct TCase {
        const char* Name;
        bool Shown;
        int Rounds;
        std::function<void()> Change;
    };
    const TCase cases[] = {
        {"hidden, unchanged", false, 5000, nothing},
        {"hidden, one flag changed", false, 5000, oneFlag},
        {"hidden, global mute changed (1000 cells)", false, 1000, global},
        {"shown, unchanged", true, 5000, nothing},
        {"shown, one flag changed, repainted", true, 2000, oneFlag},
        {"shown, global mute changed, repainted", true, 500, global},
    };

    std::printf("Mute matrix rebuild, %d devices in %d groups, %s platform\n", int(devices.size()), kGroups,
                qPrintable(QGuiApplication::platformName()));
    std::printf("%-44s %14s %14s\n", "case", "us/rebuild", "allocs/rebuild");
    bool shown = false;
    for (const TCase& c : cases) {
        if (c.Shown && !shown) {
            form.show();
            for (int i = 0; i < 50; ++i)
                QCoreApplication::processEvents();
            shown = true;
        }
        const TResult result = Measure(frame, c.Rounds, c.Shown, c.Change);
        std::printf("%-44s %14.2f %14.2f\n", c.Name, result.MicrosPerRebuild, result.AllocationsPerRebuild);
    }
    std::printf("visible grid rows: %d of %d\n",
                form.MuteFrame->MuteGrid->ClientSize().height() / (form.MuteFrame->MuteGrid->RowHeight() + 1),
                form.MuteFrame->MuteGrid->RowCount());
    registry.reset();
    return 0;
}
