#include "device/HttpStream.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {
constexpr int ReadChunk = 16 * 1024;
}

THttpStream::THttpStream(int fd, int waitMs) : FFd(fd), FWaitMs(waitMs) {}

TSocketClock::time_point THttpStream::WaitDeadline() const {
    return TSocketClock::now() + std::chrono::milliseconds(FWaitMs);
}

THttpStream::TFill THttpStream::Fill(TSocketClock::time_point deadline) {
    if (FPos < FData.size())
        return TFill::Data;
    if (FEnded)
        return TFill::Ended;
    FData.clear();
    FPos = 0;
    for (;;) {
        if (!WaitForSocket(FFd, POLLIN, deadline))
            return TFill::Failed;
        char chunk[ReadChunk];
        const ssize_t got = ::recv(FFd, chunk, sizeof chunk, 0);
        if (got > 0) {
            FData.append(chunk, static_cast<qsizetype>(got));
            return TFill::Data;
        }
        if (got == 0 || errno == ECONNRESET) {
            FEnded = true;
            return TFill::Ended;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return TFill::Failed;
    }
}

THttpStream::TFill THttpStream::SkipPendingLineEnd(TSocketClock::time_point deadline) {
    if (!FPendingLineEnd)
        return TFill::Data;
    const TFill fill = Fill(deadline);
    if (fill == TFill::Failed)
        return fill;
    if (fill == TFill::Data && FData.at(FPos) == FPendingLineEnd) {
        if (FRecording)
            FRecorded.append(FPendingLineEnd);
        ++FPos;
    }
    FPendingLineEnd = 0;
    return TFill::Data;
}

THttpStream::TLine THttpStream::ReadLine(QByteArray& line, qsizetype maxLength) {
    line.clear();
    const auto deadline = WaitDeadline();
    if (SkipPendingLineEnd(deadline) == TFill::Failed)
        return TLine::Failed;
    for (;;) {
        const TFill fill = Fill(deadline);
        if (fill == TFill::Failed)
            return TLine::Failed;
        if (fill == TFill::Ended)
            return line.isEmpty() ? TLine::Ended : TLine::Cut;
        qsizetype end = FPos;
        while (end < FData.size() && FData.at(end) != '\r' && FData.at(end) != '\n')
            ++end;
        if (line.size() + (end - FPos) > maxLength)
            return TLine::Failed;
        line.append(FData.constData() + FPos, end - FPos);
        if (FRecording)
            FRecorded.append(FData.constData() + FPos, end < FData.size() ? end + 1 - FPos : end - FPos);
        FPos = end;
        if (end < FData.size()) {
            FPendingLineEnd = FData.at(end) == '\r' ? '\n' : '\r';
            ++FPos;
            return TLine::Complete;
        }
    }
}

void THttpStream::SetRecording(bool on) {
    FRecording = on;
    if (!on)
        FRecorded.clear();
}

bool THttpStream::ReadExactly(qsizetype count, QByteArray& out) {
    if (SkipPendingLineEnd(WaitDeadline()) == TFill::Failed)
        return false;
    while (count > 0) {
        if (Fill(WaitDeadline()) != TFill::Data)
            return false;
        const qsizetype take = std::min(count, FData.size() - FPos);
        out.append(FData.constData() + FPos, take);
        FPos += take;
        count -= take;
    }
    return true;
}

bool THttpStream::ReadToEnd(QByteArray& out, qsizetype maxSize) {
    if (SkipPendingLineEnd(WaitDeadline()) == TFill::Failed)
        return false;
    for (;;) {
        const TFill fill = Fill(WaitDeadline());
        if (fill == TFill::Ended)
            return true;
        if (fill == TFill::Failed)
            return false;
        const qsizetype take = FData.size() - FPos;
        if (out.size() + take > maxSize)
            return false;
        out.append(FData.constData() + FPos, take);
        FPos += take;
    }
}
