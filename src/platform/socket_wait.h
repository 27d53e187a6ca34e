#pragma once

namespace morlane {

enum class SocketWait { Ready, TimedOut, Failed };

// Waits at most ms for a connected socket to take more output (forWrite) or to have input
// or an end to be read (else). A network client's own wait on its server, bounded where the
// client library's blocking calls would not be. The line database's client alone uses it,
// on the systems that have one.
SocketWait WaitOnSocket(int socket, bool forWrite, int ms);

}  // namespace morlane
