#include "device/HttpGet.h"

#include "device/HostLookup.h"
#include "device/HttpStream.h"
#include "device/SocketWait.h"
#include "device/StopToken.h"
#include "model/logging.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>

namespace {
std::atomic<int> gWaitLimitMs{HttpWaitMs};

// The status and header part may not hold more than a body could.
constexpr qsizetype MaxHeaderBytes = MaxHttpBody;
constexpr qsizetype MaxChunkSizeLine = 4096;
// The kernel gives up on a connection attempt by itself; this only keeps the wait finite.
constexpr auto ConnectWaitBound = std::chrono::hours(1);

struct TUrl {
    QString HostPart; // as given, with ":port" when there is one; sent as the Host header
    QString Host;
    quint16 Port = 80;
    QString Path;
};

bool SplitUrl(const QString& url, TUrl& parts) {
    // A line end inside the URL would end the request line early and forge header lines.
    if (url.contains(QLatin1Char('\r')) || url.contains(QLatin1Char('\n')))
        return false;
    const qsizetype slash = url.indexOf(QLatin1Char('/'));
    parts.HostPart = slash < 0 ? url : url.left(slash);
    parts.Path = slash < 0 ? QStringLiteral("/") : url.mid(slash);
    return SplitHostPort(parts.HostPart, parts.Host, parts.Port);
}

QByteArray RequestText(const TUrl& url) {
    return "GET " + url.Path.toUtf8() + " HTTP/1.0\r\n" + "Host: " + url.HostPart.toUtf8() + "\r\n" +
           "Keep-Alive: 300\r\n" + "Connection: keep-alive\r\n" +
           "User-Agent: Mozilla/4.0 (compatible; Synapse)\r\n" + "\r\n";
}

// 0 when connected, else why not: an errno value, ETIMEDOUT when the wait ended (a stop included).
int Connect(int fd, std::uint32_t address, quint16 port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    target.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    if (!WaitForSocket(fd, POLLOUT, TSocketClock::now() + ConnectWaitBound))
        return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

bool SendAll(int fd, const QByteArray& data, int waitMs) {
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t done =
            ::send(fd, data.constData() + sent, static_cast<size_t>(data.size() - sent), MSG_NOSIGNAL);
        if (done > 0) {
            sent += done;
            continue;
        }
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitForSocket(fd, POLLOUT, TSocketClock::now() + std::chrono::milliseconds(waitMs)))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

bool IsStatusLine(const QByteArray& line) {
    return line.left(5).toUpper() == "HTTP/";
}

int StatusCode(const QByteArray& line) {
    qsizetype i = line.indexOf(' ');
    if (i < 0)
        return 0;
    int code = 0;
    for (++i; i < line.size() && line.at(i) >= '0' && line.at(i) <= '9' && code < 1000; ++i)
        code = code * 10 + (line.at(i) - '0');
    return code;
}

// A chunk-size line: hexadecimal, anything after a space or ";" ignored. -1 when it is not one.
qint64 ChunkSize(const QByteArray& line) {
    QByteArray text = line.trimmed();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == ' ' || text.at(i) == ';' || text.at(i) == '\t') {
            text.truncate(i);
            break;
        }
    }
    if (text.isEmpty())
        return -1;
    qint64 size = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return -1;
        // Anything beyond the body limit fails anyway; stop before the number overflows.
        size = std::min<qint64>(size * 16 + digit, qint64(MaxHttpBody) + 1);
    }
    return size;
}

struct THeaders {
    bool Chunked = false;
    bool HasLength = false;
    qint64 Length = 0;
};

// A decimal number with an optional sign, of any size.
bool IsDecimal(const QByteArray& text) {
    const qsizetype start = text.startsWith('-') || text.startsWith('+') ? 1 : 0;
    if (start == text.size())
        return false;
    for (qsizetype i = start; i < text.size(); ++i)
        if (text.at(i) < '0' || text.at(i) > '9')
            return false;
    return true;
}

// False when the header makes the answer unreadable: a length that is a number too large for 64
// bits cannot be honoured, and reading to the close instead would take a cut answer for a whole.
bool ReadHeader(const QByteArray& line, THeaders& headers) {
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return true;
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
        bool ok = false;
        const qint64 length = value.toLongLong(&ok);
        if (ok) {
            headers.HasLength = true;
            headers.Length = length;
        } else if (IsDecimal(value)) {
            return false;
        }
    } else if (name == "transfer-encoding" && value.toLower().contains("chunked")) {
        headers.Chunked = true;
    }
    return true;
}

bool ReadChunked(THttpStream& stream, QByteArray& body) {
    for (;;) {
        QByteArray line;
        THttpStream::TLine read;
        do {
            read = stream.ReadLine(line, MaxChunkSizeLine);
        } while (read == THttpStream::TLine::Complete && line.isEmpty());
        if (read != THttpStream::TLine::Complete && read != THttpStream::TLine::Cut)
            return false;
        const qint64 size = ChunkSize(line);
        if (size < 0)
            return false;
        if (size == 0)
            return true;
        if (body.size() + size > MaxHttpBody || !stream.ReadExactly(static_cast<qsizetype>(size), body))
            return false;
    }
}

} // namespace

bool ReadHttpResponse(THttpStream& stream, QByteArray& body, QString* failure) {
    const auto fail = [failure](const char* reason) {
        if (failure)
            *failure = QString::fromLatin1(reason);
        return false;
    };
    const auto lineFailure = [&fail](THttpStream::TLine read) {
        return fail(read == THttpStream::TLine::Failed
                        ? "no complete line within the wait limit, a line over its limit, a transport "
                          "error or a stop"
                        : "the connection ended inside the answer's head");
    };
    qsizetype headerBudget = MaxHeaderBytes;
    QByteArray line;
    const auto readLine = [&] {
        const THttpStream::TLine read = stream.ReadLine(line, headerBudget);
        headerBudget -= std::min(headerBudget, line.size() + 1);
        return read;
    };

    int code = 0;
    // Until the first status line is seen, the answer may turn out to be a bare body.
    stream.SetRecording(true);
    for (;;) {
        THttpStream::TLine read;
        do {
            read = readLine();
        } while (read == THttpStream::TLine::Complete && line.isEmpty());
        if (read != THttpStream::TLine::Complete && read != THttpStream::TLine::Cut)
            return lineFailure(read);
        if (!IsStatusLine(line)) {
            // Neither status line nor headers: the whole answer is the body, byte for byte, from
            // its first byte to the end of the connection.
            body = stream.Recorded();
            stream.SetRecording(false);
            stream.DropPendingLineEnd();
            if (body.size() > MaxHttpBody || !stream.ReadToEnd(body, MaxHttpBody))
                return fail("an answer without head: over 1 MiB, or not ended within the wait limit");
            return true;
        }
        stream.SetRecording(false);
        if (read != THttpStream::TLine::Complete)
            return lineFailure(read);
        code = StatusCode(line);
        if (code != 100)
            break;
        // An interim answer: its header lines, if any, up to its empty line mean nothing here.
        do {
            read = readLine();
            if (read != THttpStream::TLine::Complete)
                return lineFailure(read);
        } while (!line.isEmpty());
    }

    THeaders headers;
    for (;;) {
        const THttpStream::TLine read = readLine();
        if (read != THttpStream::TLine::Complete)
            return lineFailure(read);
        if (line.isEmpty())
            break;
        if (!ReadHeader(line, headers))
            return fail("a Content-Length too large to honour");
    }

    body.clear();
    if (code == 204 || code == 304)
        return true;
    if (headers.Chunked)
        return ReadChunked(stream, body) || fail("a chunked body cut, malformed or over 1 MiB");
    if (headers.HasLength) {
        if (headers.Length < 1)
            return true;
        if (headers.Length > MaxHttpBody)
            return fail("a Content-Length over 1 MiB");
        return stream.ReadExactly(static_cast<qsizetype>(headers.Length), body) ||
               fail("the body ended before its Content-Length");
    }
    return stream.ReadToEnd(body, MaxHttpBody) ||
           fail("a body over 1 MiB, or not ended within the wait limit");
}

bool HttpGet(const QString& url, QByteArray& buffer) {
    const auto fail = [&url](const QString& reason) {
        qCDebug(lcHttp, "%s failed: %s", qPrintable(url), qPrintable(reason));
        return false;
    };
    TUrl parts;
    if (!SplitUrl(url, parts))
        return fail(QStringLiteral("not a host with an optional port followed by a path"));
    std::uint32_t address = 0;
    if (!ResolveIPv4(parts.Host, address))
        return fail(QStringLiteral("no address for the host"));
    if (StopToken::Requested())
        return fail(QStringLiteral("stop requested"));

    TSocketFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return fail(QStringLiteral("no socket: ") + QString::fromLocal8Bit(std::strerror(errno)));
    const int waitMs = gWaitLimitMs.load();
    if (const int error = Connect(socket.Get(), address, parts.Port))
        return fail(StopToken::Requested()
                        ? QStringLiteral("stop requested while connecting")
                        : QStringLiteral("not connected: ") + QString::fromLocal8Bit(std::strerror(error)));
    if (!SendAll(socket.Get(), RequestText(parts), waitMs))
        return fail(QStringLiteral("the request could not be sent (connection closed, no room within the "
                                   "wait limit, or a stop)"));

    THttpStream stream(socket.Get(), waitMs);
    QByteArray body;
    QString failure;
    if (!ReadHttpResponse(stream, body, &failure))
        return fail(failure);
    buffer = body;
    return true;
}

void SetHttpWaitLimitMs(int milliseconds) {
    gWaitLimitMs.store(milliseconds < 1 ? HttpWaitMs : milliseconds);
}
