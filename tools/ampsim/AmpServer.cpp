#include "tools/ampsim/AmpServer.h"

#include "tools/ampsim/AmpConnection.h"
#include "tools/ampsim/AmpSim.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

TAmpServer::TAmpServer(TAmpSim& sim, QObject* parent)
    : QObject(parent), FSim(sim), FListener(new QTcpServer(this)) {
    connect(FListener, &QTcpServer::newConnection, this, &TAmpServer::Accept);
}

bool TAmpServer::Listen(QString& error) {
    if (FListener->isListening())
        return true;
    if (FListener->listen(QHostAddress(FSim.Address()), FSim.Port()))
        return true;
    error = QStringLiteral("cannot listen on %1: %2").arg(FSim.Endpoint(), FListener->errorString());
    return false;
}

void TAmpServer::Close() {
    FListener->close();
    qDeleteAll(findChildren<TAmpConnection*>(QString(), Qt::FindDirectChildrenOnly));
}

bool TAmpServer::Listening() const {
    return FListener->isListening();
}

void TAmpServer::Accept() {
    while (QTcpSocket* socket = FListener->nextPendingConnection())
        new TAmpConnection(socket, FSim, this); // owned by this server, ends itself on disconnect
}
