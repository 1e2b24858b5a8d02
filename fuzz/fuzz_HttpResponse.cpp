// The parsing of an amplifier's HTTP answer, fed through a socket pair the way a peer sends it:
// in pieces whose sizes the input chooses, followed by a close. Input layout: the first byte
// gives a count n (modulo 17), the next n bytes the sizes of the first n pieces (byte + 1), and
// everything after them is the answer; what the pieces leave goes as one last piece.
//
// Besides not crashing or hanging, the outcome may not depend on where the answer was cut: the
// same answer sent in pieces of the stream's read size gives the same result and body. A body
// never exceeds the limit. An answer whose first line that is not empty is no status line is
// delivered byte for byte.
#include "device/HttpGet.h"
#include "device/HttpStream.h"
#include "fuzz/FuzzSupport.h"

#include <QByteArray>
#include <QList>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace {
// Sequenced packets keep every piece apart: each read on the other end takes exactly one piece,
// however the threads are scheduled, so a crash reproduces. A piece is never larger than what
// the stream reads at once, or the rest of it would be cut off.
constexpr qsizetype kLargestPiece = 4096;
// The peer always closes, so no wait runs out; a hang shows as the engine's time-out instead.
constexpr int kWaitMs = 30000;

struct TOutcome {
    bool Ok = false;
    QByteArray Body;
    bool operator==(const TOutcome& other) const { return Ok == other.Ok && Body == other.Body; }
};

// Sends the pieces from a thread, closes its end, and parses on the other end.
TOutcome Exchange(const QList<QByteArray>& pieces) {
    int ends[2];
    FuzzCheck(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0, "a socket pair is made");
    std::thread peer([&pieces, end = ends[1]] {
        for (const QByteArray& piece : pieces) {
            ssize_t sent;
            do
                sent = ::send(end, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL);
            while (sent < 0 && errno == EINTR);
            if (sent < 0) // the parser stopped reading and closed its end
                break;
        }
        ::close(end);
    });
    TOutcome outcome;
    {
        THttpStream stream(ends[0], kWaitMs);
        outcome.Ok = ReadHttpResponse(stream, outcome.Body);
    }
    ::close(ends[0]); // wakes the peer if it still waits to send
    peer.join();
    return outcome;
}

// Whether the answer has neither status line nor headers: its first line that is not empty does
// not begin with "HTTP/" (any case).
bool IsBareBody(const QByteArray& answer) {
    qsizetype start = 0;
    while (start < answer.size() && (answer.at(start) == '\r' || answer.at(start) == '\n'))
        ++start;
    if (start == answer.size())
        return false;
    qsizetype end = start;
    while (end < answer.size() && answer.at(end) != '\r' && answer.at(end) != '\n')
        ++end;
    return answer.mid(start, std::min<qsizetype>(end - start, 5)).toUpper() != "HTTP/";
}

void AppendPieces(QList<QByteArray>& pieces, const QByteArray& bytes) {
    for (qsizetype at = 0; at < bytes.size(); at += kLargestPiece)
        pieces.append(bytes.mid(at, kLargestPiece));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    HoldToLoopbackWithoutPollThreads();
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype count = std::min<qsizetype>(std::uint8_t(input[0]) % 17, input.size() - 1);
    const QByteArray answer = input.mid(1 + count);

    QList<QByteArray> pieces;
    qsizetype at = 0;
    for (qsizetype i = 0; i < count && at < answer.size(); ++i) {
        const qsizetype length = qsizetype(std::uint8_t(input[1 + i])) + 1;
        pieces.append(answer.mid(at, length));
        at += length;
    }
    AppendPieces(pieces, answer.mid(at));

    QList<QByteArray> whole;
    AppendPieces(whole, answer);

    const TOutcome cut = Exchange(pieces);
    FuzzCheck(!cut.Ok || cut.Body.size() <= MaxHttpBody, "a body never exceeds the limit");
    FuzzCheck(cut == Exchange(whole), "where the answer is cut changes nothing");
    if (IsBareBody(answer) && answer.size() <= MaxHttpBody)
        FuzzCheck(cut.Ok && cut.Body == answer, "an answer without headers is delivered as it came");
    return 0;
}
