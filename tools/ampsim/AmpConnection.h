#pragma once

#include <QByteArray>
#include <QObject>

class QTcpSocket;
class QTimer;
class TAmpSim;

// One client connection of a simulated amplifier, on the simulator thread: reads the request
// up to the end of its headers, has the amplifier answer it, and sends the answer shaped by the
// amplifier's faults. Every wait is a timer, so that no connection ever blocks the thread.
// Deletes itself when the connection is gone.
class TAmpConnection : public QObject {
    Q_OBJECT
public:
    TAmpConnection(QTcpSocket* socket, TAmpSim& sim, QObject* parent);

    // The path of a request line: everything between "GET " and the last " HTTP/". False when
    // the line has another form; `unsupportedMethod` then tells whether only the method was wrong.
    static bool ParseRequestLine(const QByteArray& line, QByteArray& path, bool& unsupportedMethod);

private:
    void ReadRequest();
    void Respond();
    void Transmit();
    void SendNextByte();
    void AfterWrite();
    void Reset();

    QTcpSocket* FSocket;
    TAmpSim& FSim;
    QTimer* FTimer;
    QByteArray FRequest;
    bool FRequestDone = false;
    QByteArray FOut;
    int FSent = 0;     // bytes of FOut handed to the socket while trickling
    int FResetAt = -1; // reset the connection once this many bytes went out
    int FTrickleMs = 0;
    bool FDrop = false;
};
