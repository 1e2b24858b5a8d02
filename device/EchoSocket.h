#pragma once

#include "device/SocketWait.h"

#include <cstddef>
#include <cstdint>

// ICMP echo messages, and the raw ICMP socket that every probe of the process shares.

enum class TEchoOutcome { Reply, NoReply, NotPermitted };

constexpr std::size_t EchoHeaderSize = 8;

// An echo request with no payload: type, code, checksum, identifier, sequence, big-endian.
void BuildEchoRequest(unsigned char (&request)[EchoHeaderSize], std::uint16_t identifier,
                      std::uint16_t sequence);

// One echo to `address` (network byte order) through the shared raw socket, waiting for the
// reply until `deadline`; ends early, with no reply, when the calling poll thread is asked to
// stop. NotPermitted when the system refuses a raw ICMP socket to this user.
//
// A raw ICMP socket receives a copy of every ICMP message that reaches the host. With a socket of
// its own, every probe waiting for a reply would also read every other probe's traffic: with many
// amplifiers switched off, each waiting its full limit, that work grows with the square of their
// number. The one socket, opened on first use and kept for the life of the process, lets only
// echo replies through and receives each of them once. The waiting probes take turns reading it
// and hand each reply to the probe that waits for it, matched by sequence, identifier and sender.
TEchoOutcome SharedRawEcho(std::uint32_t address, TSocketClock::time_point deadline);
