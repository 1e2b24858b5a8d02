#pragma once

#include "tools/ampsim/AmpSim.h"
#include "tools/ampsim/AmpState.h"

#include <QByteArray>

// The bytes of one answer as they go out, shaped by the faults that concern its format.
struct TAmpWire {
    QByteArray Bytes;
    int BodyOffset = 0; // where the body starts within Bytes
};

// Interim "100 Continue" lines, status line, headers (Content-Length, chunked or neither, as
// `faults` says) and body; with a wrong status size or an oversize body applied.
TAmpWire EncodeReply(const TAmpReply& reply, const TAmpFaults& faults);

// A bad request line: 400, or 501 for a method other than GET.
TAmpReply BadRequestReply(bool unsupportedMethod);

// Binary bytes that are not HTTP, sent instead of an answer.
QByteArray GarbageBytes();

// The size of the oversize body: more than any client should hold (1 MiB).
constexpr int OversizeBodyBytes = 1024 * 1024 + 4096;
