#pragma once

#include <QString>

// Which program listens on a TCP port of this computer, so that a port that is taken can be
// named with what holds it.
namespace PortHolder {

// The name (its comm) and process id of a program that has a listening TCP socket (IPv4 or
// IPv6) on the port, as "\"nginx\" (process 812)", the lowest process id first when several
// share the socket. Empty when none is found: no such socket, or the system lets this user see
// neither the sockets nor whose they are.
QString describe(int port);

} // namespace PortHolder
