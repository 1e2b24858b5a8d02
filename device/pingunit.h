#pragma once

#include <QString>

// The reachability probe: one ICMP echo with a 100 ms limit. True when a reply arrives in time.
// The address text is a host with an optional port ("127.0.0.5:8080"): the echo goes to the host,
// the TCP fallback to the port (80 when absent). A host that is not a dotted IPv4 address is a
// name, resolved as ResolveIPv4 says (HostLookup.h); one that cannot be resolved is unreachable.
// Under the loopback guard every address outside 127.0.0.0/8, and every name that needs a
// look-up, is unreachable without sending anything. Returns early (false) when the calling poll
// thread is asked to stop.
bool PingHost(const QString& address);

// A probe function that replaces PingHost for the poll threads, for tests of the off-line path.
// nullptr restores the real probe.
using TPingFunction = bool (*)(const QString& address);
void SetPingFunction(TPingFunction function);
// What the poll threads call: the replacement when one is set, else PingHost.
bool ProbeHost(const QString& address);

// The ways of sending the probe. Automatic tries an ICMP datagram socket, then a raw ICMP socket,
// then, when the system permits neither, a TCP connection to the address's port (connected or
// refused both mean the host is there). Forcing one way is for tests and benchmarks; the program never does.
enum class TPingMethod { Automatic, IcmpDatagram, IcmpRaw, TcpConnect };
void SetPingMethod(TPingMethod method);
