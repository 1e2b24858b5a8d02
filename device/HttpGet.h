#pragma once

#include <QByteArray>
#include <QString>

class THttpStream;

// The HTTP/1.0 GET that amplifiers understand. `url` is host[:port] followed by the path, with no
// scheme ("127.0.0.5/zyl.zyl", "127.0.0.5:8080/name=AB C "); the port is 80 when absent.
// One connection per request; the Host header carries the host part as given, ":port" included.
// On success the body replaces `buffer` and the result is true; on failure `buffer` is left
// untouched. Bodies over MaxHttpBody bytes are failures. Each wait lasts at most HttpWaitMs; the
// exchange is abandoned within about 100 ms when the calling poll thread is asked to stop. Under the
// loopback guard a host outside 127.0.0.0/8, or one that needs a look-up, fails at once.
bool HttpGet(const QString& url, QByteArray& buffer);

constexpr int MaxHttpBody = 1024 * 1024;
constexpr int HttpWaitMs = 90000;

// Replaces HttpWaitMs for every later fetch of the process (a value below 1 restores it). For
// tests and benchmarks that need a short wait; the program never calls it.
void SetHttpWaitLimitMs(int milliseconds);

// The receiving half of HttpGet: reads the answer from `stream` once the request was sent. On
// success the body goes to `body`; on failure `failure`, when given, says why. Exposed so that
// the answer parsing can be driven without a network peer.
bool ReadHttpResponse(THttpStream& stream, QByteArray& body, QString* failure = nullptr);
