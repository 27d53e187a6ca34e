#pragma once

namespace morlane {

enum class SocketWait { Ready, TimedOut, Failed };

// Waits at most ms for a connected socket to have input or an end to be read, or, with
// alsoForWrite, room for more output: a client still sending must take in what its server
// says meanwhile (an error, a notice), or each would wait for the other. A network client's own
// wait on its server, bounded where the client library's blocking calls would not be. The line
// database's client alone uses it, on the systems that have one.
SocketWait WaitOnSocket(int socket, bool alsoForWrite, int ms);

}  // namespace morlane
