#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Splits the host text of an address, with an optional port ("127.0.0.5", "127.0.0.5:8080",
// "amp.local:81"), into host and port; the port is 80 when absent. False when the host is empty
// or the port is not a decimal number in 1 ... 65535.
bool SplitHostPort(const QString& text, QString& host, quint16& port);

// Turns the host text of a probe or a fetch into an IPv4 address (network byte order). A dotted
// IPv4 text is used as it stands. Anything else is a host name, looked up on a thread of its own,
// never on the caller's: the caller waits for a look-up under way at most NameWaitMs, and not at
// all once its poll thread is asked to stop; a look-up that takes longer goes on and serves a
// later call. Answers are kept: a found address for NameKeepSeconds (a later call then uses it
// while a fresh look-up runs in the background), a failure for NameFailureKeepSeconds. Under the
// loopback guard only dotted addresses inside 127.0.0.0/8 are accepted and names are never
// looked up (see SetNameLookup). False when the text cannot be turned into an address.
bool ResolveIPv4(const QString& host, std::uint32_t& networkOrderAddress);

constexpr int NameWaitMs = 1000;
constexpr int NameKeepSeconds = 60;
constexpr int NameFailureKeepSeconds = 10;

// Replaces NameWaitMs for every later call (a value below 1 restores it); for tests.
void SetNameWaitLimitMs(int milliseconds);

// Replaces the system's name look-up, for tests: a replacement asks no name server, so the
// loopback guard lets names through to it (the address it gives must still lie in 127.0.0.0/8).
// It runs on the look-up's own thread. nullptr restores the system's. Either way every kept
// answer is forgotten.
using TNameLookup = bool (*)(const QByteArray& name, std::uint32_t& networkOrderAddress);
void SetNameLookup(TNameLookup lookup);
