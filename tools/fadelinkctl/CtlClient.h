#pragma once

#include "tools/fadelinkctl/CtlCommand.h"

#include <QSslCertificate>
#include <QString>
#include <QTextStream>
#include <QUrl>

// How fadelinkctl talks to a server and prints what comes back.
struct TCtlSettings {
    QUrl Url;
    QByteArray Token;
    bool Json = false;
    int Count = -1;                      // watch: end after this many events (-1: never)
    int Rate = 0;                        // watch: meter messages a second (0: the server's default)
    QList<QSslCertificate> TrustedCerts; // with https: certificates trusted besides the system's
};

// Runs one request. Returns the exit status: 0 done, 1 refused (an error answer, no server, a
// dropped watch). Answers go to `out`, errors to `err`.
int RunCtlRequest(const TCtlSettings& settings, const TCtlRequest& request, QTextStream& out,
                  QTextStream& err);
