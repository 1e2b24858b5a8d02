#pragma once

#include <QObject>
#include <QString>

class QTcpServer;
class TAmpSim;

// The listening side of one simulated amplifier, on the simulator thread.
class TAmpServer : public QObject {
    Q_OBJECT
public:
    TAmpServer(TAmpSim& sim, QObject* parent);

    // Listens on the amplifier's address and port; on failure sets `error` and returns false.
    bool Listen(QString& error);
    // Stops listening and drops every open connection: the amplifier no longer answers.
    void Close();
    bool Listening() const;

    TAmpSim& Sim() const { return FSim; }

private:
    void Accept();

    TAmpSim& FSim;
    QTcpServer* FListener;
};
