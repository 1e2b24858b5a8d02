#pragma once

#include "api/ApiModel.h"
#include "api/ApiOptions.h"
#include "api/ApiTokens.h"

#include <QObject>
#include <QString>

#include <memory>

class TApiServer;
class TEventHub;
class TOscServer;

// The control API as a program runs it: the HTTP server with its WebSocket hub, and OSC, started
// from the command-line options and stopped as a whole. Lives on the user-interface thread,
// where the model is.
class TApiService : public QObject {
    Q_OBJECT
public:
    explicit TApiService(TApiModel::TRegistryProvider registry, QObject* parent = nullptr);
    ~TApiService() override;

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
    TApiModel FModel;
    TApiOptions FOptions;
    TApiTokens FTokens;
    QString FTokenFile;
    std::unique_ptr<TEventHub> FHub;
    std::unique_ptr<TApiServer> FServer;
    std::unique_ptr<TOscServer> FOsc;
};
