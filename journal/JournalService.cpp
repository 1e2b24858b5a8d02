#include "journal/JournalService.h"

#include "journal/AlarmHook.h"
#include "journal/Journal.h"
#include "journal/JournalLog.h"
#include "journal/JournalRecorder.h"

#include <cstdio>
#include <system_error>

TJournalService::TJournalService(TSession& session, const QString& path, const QString& program,
                                 QObject* parent)
    : QObject(parent), FProgram(program) {
    TJournalOptions options;
    options.Path = path.isEmpty() ? DefaultJournalPath() : path;
    try {
        FJournal = std::make_unique<TJournal>(std::move(options));
    } catch (const std::system_error& e) {
        // The journal needs a writer thread; the amplifiers do not need the journal.
        FProblem = QStringLiteral("The journal is off: the system refused it a thread (%1)")
                       .arg(QString::fromLocal8Bit(e.code().message().c_str()));
        qCWarning(lcJournal, "%s", qPrintable(FProblem));
        std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(FProblem));
        return;
    }
    FHook = std::make_unique<TAlarmHook>(FJournal.get());
    FJournal->RecordProgramStart(program);
    FRecorder = std::make_unique<TJournalRecorder>(*FJournal, session);
}

TJournalService::~TJournalService() {
    // The recorder writes what it was gathering before the stop entry.
    FRecorder.reset();
    if (FJournal)
        FJournal->RecordProgramStop(FProgram);
    FHook.reset();
}
