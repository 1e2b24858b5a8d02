#include "journal/JournalService.h"

#include "journal/AlarmHook.h"
#include "journal/Journal.h"
#include "journal/JournalRecorder.h"

TJournalService::TJournalService(TSession& session, const QString& path, const QString& program,
                                 QObject* parent)
    : QObject(parent), FProgram(program) {
    TJournalOptions options;
    options.Path = path.isEmpty() ? DefaultJournalPath() : path;
    FJournal = std::make_unique<TJournal>(std::move(options));
    FHook = std::make_unique<TAlarmHook>(FJournal.get());
    FJournal->RecordProgramStart(program);
    FRecorder = std::make_unique<TJournalRecorder>(*FJournal, session);
}

TJournalService::~TJournalService() {
    // The recorder writes what it was gathering before the stop entry.
    FRecorder.reset();
    FJournal->RecordProgramStop(FProgram);
    FHook.reset();
}
