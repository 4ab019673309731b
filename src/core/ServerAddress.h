#pragma once

#include <QString>

#include <optional>

namespace CertificateCheck {

// A server to check, as typed in the window or given to the command.
struct ServerAddress {
    QString host; // a name, or an address without brackets
    int port = 0;
    // "HOST:PORT", an IPv6 address in brackets, as a connection to the server takes it.
    QString text() const;
};

// Reads HOST, HOST:PORT, [ADDRESS]:PORT, a bare IPv6 address, or an https address such as
// https://HOST/ or https://HOST:PORT/path (whose path is of no account). The port is defaultPort
// unless the text names one (a defaultPort of 0 requires one). Nothing when the text is none of
// these, or the port is not a number from 1 to 65535.
std::optional<ServerAddress> serverAddress(const QString& typed, int defaultPort);

} // namespace CertificateCheck
