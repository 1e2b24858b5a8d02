#include "tools/ampsim/AmpWire.h"

namespace {
constexpr int kChunkBytes = 1000;

QByteArray Chunked(const QByteArray& body) {
    QByteArray out;
    for (int at = 0; at < body.size(); at += kChunkBytes) {
        const QByteArray chunk = body.mid(at, kChunkBytes);
        out += QByteArray::number(qlonglong(chunk.size()), 16) + "\r\n" + chunk + "\r\n";
    }
    return out + "0\r\n\r\n";
}
} // namespace

TAmpWire EncodeReply(const TAmpReply& reply, const TAmpFaults& faults) {
    QByteArray body = reply.Body;
    if (reply.IsStatus && faults.StatusBodySize >= 0) {
        body.truncate(faults.StatusBodySize);
        body.append(QByteArray(faults.StatusBodySize - body.size(), '\0'));
    }
    if (faults.OversizeBody)
        body = QByteArray(OversizeBodyBytes, 'x');

    QByteArray head;
    for (int i = 0; i < faults.ContinueLines; ++i)
        head += "HTTP/1.0 100 Continue\r\n\r\n";
    head += "HTTP/1.0 " + QByteArray::number(reply.Code) + ' ' + reply.Reason + "\r\n";
    head += "Server: ampsim\r\n";
    head += "Content-Type: " + reply.ContentType + "\r\n";
    switch (faults.Framing) {
    case TAmpFaults::EFraming::ContentLength:
        head += "Content-Length: " + QByteArray::number(qlonglong(body.size())) + "\r\n";
        break;
    case TAmpFaults::EFraming::Chunked:
        head += "Transfer-Encoding: chunked\r\n";
        body = Chunked(body);
        break;
    case TAmpFaults::EFraming::NoLength:
        break;
    }
    head += "Connection: close\r\n\r\n";
    return TAmpWire{head + body, int(head.size())};
}

TAmpReply BadRequestReply(bool unsupportedMethod) {
    TAmpReply reply;
    reply.Code = unsupportedMethod ? 501 : 400;
    reply.Reason = unsupportedMethod ? "Not Implemented" : "Bad Request";
    reply.Body =
        "<html><body><h1>" + QByteArray::number(reply.Code) + ' ' + reply.Reason + "</h1></body></html>\r\n";
    return reply;
}

QByteArray GarbageBytes() {
    // Never starts with "HTTP/"; holds NULs, high bytes and lone line ends.
    QByteArray bytes;
    for (int i = 0; i < 600; ++i)
        bytes.append(char((i * 37 + 11) % 256));
    bytes.prepend("\x01\xfe garbage\n\r\x00", 13);
    return bytes;
}
