#include "tools/ampsim/AmpConnection.h"

#include "tools/ampsim/AmpSim.h"
#include "tools/ampsim/AmpWire.h"

#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {
constexpr int kMaxRequestBytes = 64 * 1024;
// A client that never completes its request is dropped after this long.
constexpr int kRequestTimeoutMs = 60000;

int HeaderEnd(const QByteArray& data) {
    const int crlf = data.indexOf("\r\n\r\n");
    const int lf = data.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf;
    return lf;
}
} // namespace

TAmpConnection::TAmpConnection(QTcpSocket* socket, TAmpSim& sim, QObject* parent)
    : QObject(parent), FSocket(socket), FSim(sim), FTimer(new QTimer(this)) {
    FSocket->setParent(this);
    connect(FSocket, &QTcpSocket::readyRead, this, &TAmpConnection::ReadRequest);
    connect(FSocket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(FSocket, &QTcpSocket::bytesWritten, this, &TAmpConnection::AfterWrite);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, FSocket, &QTcpSocket::abort);
    FTimer->start(kRequestTimeoutMs);
    ReadRequest();
}

bool TAmpConnection::ParseRequestLine(const QByteArray& line, QByteArray& path, bool& unsupportedMethod) {
    const int version = line.lastIndexOf(" HTTP/");
    const int method = line.indexOf(' ');
    unsupportedMethod = method > 0 && version > method && !line.startsWith("GET ");
    if (!line.startsWith("GET ") || version <= 4)
        return false;
    path = line.mid(4, version - 4);
    return true;
}

void TAmpConnection::ReadRequest() {
    if (FRequestDone) {
        FSocket->readAll(); // anything after the request is ignored
        return;
    }
    FRequest += FSocket->readAll();
    if (HeaderEnd(FRequest) >= 0 || FRequest.size() > kMaxRequestBytes)
        Respond();
}

void TAmpConnection::Respond() {
    FRequestDone = true;
    FTimer->stop();
    QByteArray line = FRequest.left(FRequest.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    QByteArray path;
    bool unsupportedMethod = false;
    if (!ParseRequestLine(line, path, unsupportedMethod)) {
        FOut = EncodeReply(BadRequestReply(unsupportedMethod), TAmpFaults()).Bytes;
        Transmit();
        return;
    }
    const TAmpReply reply = FSim.Answer(QString::fromLatin1(path));
    TAmpFaults faults = FSim.Faults();
    if (faults.StatusOnly && !reply.IsStatus)
        faults = TAmpFaults();
    if (faults.NeverAnswer)
        return; // the connection stays open until the client or the rack closes it
    if (faults.DropConnection) {
        FDrop = true;
    } else if (faults.Garbage) {
        FOut = GarbageBytes();
    } else {
        const TAmpWire wire = EncodeReply(reply, faults);
        FOut = wire.Bytes;
        if (faults.ResetMidBody)
            FResetAt = wire.BodyOffset + (FOut.size() - wire.BodyOffset) / 2;
    }
    FTrickleMs = faults.TrickleIntervalMs;
    if (faults.AnswerDelayMs > 0)
        QTimer::singleShot(faults.AnswerDelayMs, this, &TAmpConnection::Transmit);
    else
        Transmit();
}

void TAmpConnection::Transmit() {
    if (FSocket->state() != QAbstractSocket::ConnectedState)
        return; // the client gave up while the answer was delayed
    if (FDrop) {
        FSocket->disconnectFromHost();
        return;
    }
    if (FTrickleMs > 0) {
        FTimer->disconnect();
        FTimer->setSingleShot(false);
        connect(FTimer, &QTimer::timeout, this, &TAmpConnection::SendNextByte);
        FTimer->start(FTrickleMs);
        SendNextByte();
        return;
    }
    FSent = FResetAt >= 0 ? FResetAt : int(FOut.size());
    FSocket->write(FOut.left(FSent));
    if (FResetAt < 0)
        FSocket->disconnectFromHost(); // closes once everything is written
}

void TAmpConnection::SendNextByte() {
    if (FSocket->state() != QAbstractSocket::ConnectedState) {
        FTimer->stop();
        return;
    }
    const int end = FResetAt >= 0 ? FResetAt : int(FOut.size());
    if (FSent < end) {
        FSocket->write(FOut.mid(FSent, 1));
        ++FSent;
        return;
    }
    FTimer->stop();
    if (FResetAt < 0)
        FSocket->disconnectFromHost();
}

void TAmpConnection::AfterWrite() {
    // A reset waits until the bytes before it have left, so that the client sees them first.
    if (FResetAt >= 0 && FSent >= FResetAt && FSocket->bytesToWrite() == 0)
        Reset();
}

void TAmpConnection::Reset() {
    FTimer->stop();
    // A zero linger time makes the close send a reset instead of an orderly end.
    const struct linger hard = {1, 0};
    ::setsockopt(int(FSocket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    FSocket->abort();
    deleteLater();
}
