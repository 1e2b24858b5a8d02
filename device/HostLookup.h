#pragma once

#include <QString>

#include <cstdint>

// Turns the host text of a probe or a fetch into an IPv4 address (network byte order). A dotted
// IPv4 text is used as it stands; anything else is looked up as a host name (first IPv4 address
// of the answer). Under the loopback guard only dotted addresses inside 127.0.0.0/8 are accepted
// and no look-up is ever made. False when the text cannot be turned into an address.
bool ResolveIPv4(const QString& host, std::uint32_t& networkOrderAddress);
