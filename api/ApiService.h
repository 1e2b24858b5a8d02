#pragma once

#include "api/ApiModel.h"
#include "api/ApiOptions.h"
#include "api/ApiTokens.h"
#include "model/ChangeFeed.h"
#include "model/GroupsUnit.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <memory>

class TApiServer;
class TEventHub;
class TJournal;
class TJournalQueryThread;
class TOscServer;
class TSession;

// The control API as a program runs it: the HTTP server with its WebSocket hub, and OSC, started
// from the command-line options and stopped as a whole. Lives on the user-interface thread,
// where the model is. While it runs, every change of the session's registry goes out as it
// happens: to the WebSocket clients subscribed to its topic and, as feedback, to the OSC
// subscribers; so do the journal's alarms and new entries.
class TApiService : public QObject {
    Q_OBJECT
public:
    // Serves whatever registry `session` holds, across New, Load and Shutdown.
    explicit TApiService(TSession& session, QObject* parent = nullptr);
    ~TApiService() override;

    // The journal the alarms and journal paths and topics serve; nullptr (the default): none,
    // and those paths answer 503. The journal must outlive the service or be unset first.
    void SetJournal(TJournal* journal);

    // Starts what `options` asks for, after CheckApiOptions. Without a tokens file it generates a
    // control token (TokenFile says where it went). Raises EFadelinkError with a plain reason when
    // anything cannot start; then nothing is left running.
    void Start(const TApiOptions& options);
    void Stop();
    bool Running() const;

    quint16 Port() const;    // the API's port, 0 when it does not run
    quint16 OscPort() const; // 0 when OSC does not run
    // Where a generated token was written; empty with a tokens file.
    QString TokenFile() const { return FTokenFile; }
    // One line for people: where the API and OSC listen, or that they are off.
    QString Description() const;

    const TApiModel& Model() const { return FModel; }
    TEventHub* Hub() const { return FHub.get(); }
    TApiServer* Server() const { return FServer.get(); }
    TOscServer* Osc() const { return FOsc.get(); }

private:
    void Forward(const TModelChange& change);
    void PublishAlarms();
    void ReadJournal();

    TSession& FSession;
    TChangeFeed FFeed;
    TApiModel FModel;
    QList<QMetaObject::Connection> FJournalConnections;
    // Reads the entries written since the last one published, one read at a time.
    std::unique_ptr<TJournalQueryThread> FJournalThread;
    qint64 FJournalAfter = 0;
    bool FJournalReading = false;
    bool FJournalAgain = false;
    TApiOptions FOptions;
    TApiTokens FTokens;
    QString FTokenFile;
    std::unique_ptr<TEventHub> FHub;
    std::unique_ptr<TApiServer> FServer;
    std::unique_ptr<TOscServer> FOsc;
};
