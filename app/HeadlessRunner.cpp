#include "app/HeadlessRunner.h"

#include "device/DeviceUnit.h"
#include "device/LiveStateWord.h"
#include "journal/AlarmHook.h"
#include "journal/JournalService.h"
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
    // Nothing before the first status block: the line waits for a state worth reporting.
    const TLiveState state = device.LiveState();
    return state == TLiveState::NoStatusYet ? QString() : LiveStateWord(state);
}

THeadlessRunner::THeadlessRunner(QTextStream& out, QObject* parent) : QObject(parent), FOut(out) {
    connect(&FSession, &TSession::Ticked, this, &THeadlessRunner::Ticked);
    connect(&FSession, &TSession::RegistryReplacing, this, [this] { FReported.clear(); });
    const auto follow = [this](TGroups* registry) {
        if (registry)
            connect(registry, &TGroups::DeviceDestroying, this,
                    [this](TDevice* device) { FReported.remove(device); });
    };
    connect(&FSession, &TSession::RegistryReplaced, this, follow);
    follow(FSession.Registry());
}

THeadlessRunner::~THeadlessRunner() {
    FJournal.reset();
    FSession.Shutdown(kThreadStopWaitMs);
}

void THeadlessRunner::Load(const QString& fileName) {
    FSession.Load(fileName);
}

void THeadlessRunner::OpenJournal(const QString& path, const QString& alarmCommand) {
    FJournal = std::make_unique<TJournalService>(FSession, path, QStringLiteral("fadelink-headless"));
    if (FJournal->Hook())
        FJournal->Hook()->SetCommand(alarmCommand);
}

TJournal* THeadlessRunner::Journal() const {
    return FJournal ? FJournal->Journal() : nullptr;
}

void THeadlessRunner::Start() {
    FSession.Start(Qt::PreciseTimer);
}

void THeadlessRunner::Ticked() {
    for (TGroup* group : FSession.Registry()->Groups())
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
    FSession.Stop();
    // The poll threads are stopped and waited for whether the save succeeds or raises.
    const auto stopThreads = qScopeGuard([this] {
        // The journal ends first: the amplifiers' conditions do not end with the program.
        FJournal.reset();
        FSession.Shutdown(kThreadStopWaitMs);
    });
    if (!saveName.isEmpty() && FSession.Registry())
        FSession.SaveAs(saveName);
}
