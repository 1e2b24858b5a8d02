#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

class QCommandLineParser;

// An address block: a network address and how many of its leading bits count.
struct TSubnet {
    QHostAddress Network;
    int Prefix = 0;
    bool Contains(const QHostAddress& address) const { return address.isInSubnet(Network, Prefix); }
};

// Where and how the control API and OSC listen, from the command line (fadelink-headless and the
// program take the same options). Off unless asked for; on 127.0.0.1 unless told otherwise.
struct TApiOptions {
    static constexpr quint16 DefaultPort = 8411;

    bool Api = false;
    QHostAddress Address = QHostAddress(QHostAddress::LocalHost);
    quint16 Port = DefaultPort;
    QString TokensFile;
    QString CertFile;
    QString KeyFile;
    bool Insecure = false;

    bool Osc = false;
    QHostAddress OscAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 OscPort = 0;
    // Senders OSC accepts; loopback when none is given.
    QList<TSubnet> OscAllow;

    bool Tls() const { return !CertFile.isEmpty(); }
};

// "ADDR:PORT", "[IPV6]:PORT", ":PORT", "PORT" or "ADDR"; what is left out keeps the value given.
// Only literal addresses: a name would need a look-up. False with the reason in `error`.
bool ParseEndpoint(const QString& text, QHostAddress& address, quint16& port, QString* error);
// "A.B.C.D/N", "IPV6/N" or a single address (a full-length prefix).
bool ParseSubnet(const QString& text, TSubnet& subnet);

// --api, --api-tokens, --api-cert, --api-key, --api-insecure, --osc, --osc-allow.
void AddApiOptions(QCommandLineParser& parser);
// The options given, checked with CheckApiOptions. Raises EFadelinkError with the reason (a usage
// error: the programs exit with status 2).
TApiOptions ApiOptionsFrom(const QCommandLineParser& parser);
// Refuses what would expose the amplifiers: a non-loopback API address without a tokens file, or
// without TLS unless Insecure; a non-loopback OSC address unless Insecure (OSC has neither tokens
// nor TLS); a certificate without its key; TLS or OSC senders given for a server not asked for.
void CheckApiOptions(const TApiOptions& options);
