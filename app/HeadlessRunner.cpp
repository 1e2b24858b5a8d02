#include "app/HeadlessRunner.h"

#include "device/DeviceUnit.h"
#include "device/ThreadCommUnit.h"
#include "model/FindIPUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/logging.h"

#include <QDateTime>
#include <QIODevice>
#include <QScopeGuard>

#include <cstdio>

namespace {
constexpr int kThreadStopWaitMs = 2000;

QString Field(const QString& text) {
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("-") : Printable(trimmed);
}
} // namespace

QString Printable(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (c == QLatin1Char('\\')) {
            out += QStringLiteral("\\\\");
        } else if (category == QChar::Other_Control || category == QChar::Other_Format ||
                   category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
            out += c.unicode() < 0x100 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                       : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

QString HeadlessStateWord(const TDevice& device) {
    switch (device.LiveState()) {
    case TLiveState::Offline:
        return QStringLiteral("offline");
    case TLiveState::Online:
        return QStringLiteral("online");
    case TLiveState::ChannelFault:
        return QStringLiteral("fault");
    case TLiveState::NotAnswering:
        return QStringLiteral("noanswer");
    case TLiveState::NoStatusYet:
        break;
    }
    return QString();
}

THeadlessRunner::THeadlessRunner(QTextStream& out, QObject* parent)
    : QObject(parent), FOut(out), FRegistry(std::make_unique<TGroups>()) {
    SetCurrentRegistry(FRegistry.get());
    FTimer.setInterval(ReconcileTickMs);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &THeadlessRunner::Tick);
    connect(FRegistry.get(), &TGroups::DeviceDestroying, this,
            [this](TDevice* device) { FReported.remove(device); });
}

THeadlessRunner::~THeadlessRunner() {
    FTimer.stop();
    FRegistry.reset();
}

void THeadlessRunner::Load(const QString& fileName) {
    LoadProject(*FRegistry, fileName, this);
}

void THeadlessRunner::Start() {
    FTimer.start();
}

void THeadlessRunner::Tick() {
    FRegistry->ReconcileAll();
    for (TGroup* group : FRegistry->Groups())
        for (TDevice* device : group->Devices()) {
            const QString word = HeadlessStateWord(*device);
            if (word.isEmpty())
                continue;
            const QString reason = device->OfflineReason();
            const QString state = reason.isEmpty() ? word : word + QStringLiteral(" - ") + Printable(reason);
            if (FReported.value(device) != state) {
                FReported.insert(device, state);
                Report(device, state);
            }
        }
}

void THeadlessRunner::Report(TDevice* device, const QString& state) {
    FOut << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << ' '
         << Field(device->Group()->ShortName()) << ' ' << Field(device->ShortName()) << ' '
         << Field(device->IPAddress()) << ' ' << state << Qt::endl;
    if (FOut.status() != QTextStream::Ok && !FWriteFailed) {
        // A reader that went away, a full disk: the amplifiers are still served, and --save is
        // still written at the end.
        FWriteFailed = true;
        const QIODevice* device = FOut.device();
        fprintf(stderr, "fadelink-headless: the state lines cannot be written (%s); going on without them\n",
                qPrintable(device ? device->errorString() : QStringLiteral("write error")));
        fflush(stderr);
    }
}

void THeadlessRunner::Finish(const QString& saveName) {
    FTimer.stop();
    // The poll threads are stopped and waited for whether the save succeeds or raises.
    const auto stopThreads = qScopeGuard([this] {
        FRegistry.reset();
        if (!TSocketThread::WaitForAllThreads(kThreadStopWaitMs))
            qCDebug(lcSession, "%d poll threads still running after %d ms; the process ends without them",
                    TSocketThread::RunningThreads(), kThreadStopWaitMs);
    });
    if (!saveName.isEmpty())
        SaveProject(*FRegistry, saveName, this);
}
