#pragma once

#include "device/SocketWait.h"

#include <QByteArray>

// The receiving side of one HTTP exchange: buffered reads from a connected socket, with the line
// ends amplifiers use (CR LF, a lone CR, a lone LF, LF CR) and a limit on every wait. The second
// character of a two-character line end is taken only when the next read comes, so a line end
// never waits for data the answer may not contain.
class THttpStream {
public:
    THttpStream(int fd, int waitMs);

    enum class TLine {
        Complete, // a line with its line end
        Cut,      // the connection ended (closed or reset) after some bytes without a line end
        Ended,    // the connection ended before any byte of the line
        Failed    // too long, no complete line within the wait limit, a transport error or a stop
    };
    // Reads one line without its line end. The whole line must arrive within one wait limit.
    TLine ReadLine(QByteArray& line, qsizetype maxLength);
    // Appends exactly `count` bytes; each wait for data is limited. False when the connection ends
    // first.
    bool ReadExactly(qsizetype count, QByteArray& out);
    // Appends everything up to the end of the connection, an orderly close and a reset alike.
    // False when `out` would grow beyond `maxSize` bytes.
    bool ReadToEnd(QByteArray& out, qsizetype maxSize);

    // While on, every byte the reads take from the connection is also kept, line ends included,
    // so that an answer that turns out to have no header can be delivered exactly as it came.
    // Switching it off discards what was kept.
    void SetRecording(bool on);
    const QByteArray& Recorded() const { return FRecorded; }
    // The second character of a two-character line end is no longer looked for: the next byte is
    // data, whatever it is.
    void DropPendingLineEnd() { FPendingLineEnd = 0; }

private:
    enum class TFill { Data, Ended, Failed };
    TFill Fill(TSocketClock::time_point deadline);
    TFill SkipPendingLineEnd(TSocketClock::time_point deadline);
    TSocketClock::time_point WaitDeadline() const;

    int FFd;
    int FWaitMs;
    QByteArray FData;
    qsizetype FPos = 0;
    bool FEnded = false;
    char FPendingLineEnd = 0;
    bool FRecording = false;
    QByteArray FRecorded;
};
