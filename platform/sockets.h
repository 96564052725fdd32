#pragma once
// IPv4 TCP sockets for the remote-support connection. Errors are reported with the Winsock
// numbers the support screens and logs show (10060 no answer, 10061 refused, ...), so both
// programs keep one table of texts. A socket is a plain descriptor; -1 is invalid.
#include <cstddef>
#include <string>

namespace plat {

inline constexpr int kInvalidSocket = -1;

// Resolution failed or gave no address.
inline constexpr int kSocketErrorNoAddress = -1;

// Resolves host (IPv4 only, the first address), connects without blocking and waits up to
// timeoutMs for the connection. Returns a connected blocking socket, or kInvalidSocket with
// *error set. A refusal counts as no answer (10060), as it does for a waiting Winsock connect.
int ConnectTcp(const std::string& host, int port, int timeoutMs, int* error);

// True when a TCP connection to host:port (any address family, each address in turn) completes
// within timeoutMs; the connection is closed at once. A name that does not resolve gives false.
bool ProbeTcp(const std::string& host, const std::string& port, int timeoutMs);

// Sends or receives once; the count moved, 0 when the peer closed, -1 on an error or time-out.
// Writes never raise SIGPIPE.
long SocketSend(int socket, const void* data, size_t length);
long SocketReceive(int socket, void* data, size_t length);

// Receive time-out for every following read; 0 clears it.
bool SetSocketReceiveTimeout(int socket, int timeoutMs);
// Sends small frames at once (no Nagle).
bool SetSocketNoDelay(int socket);
// Ends blocked reads and writes of other threads on this socket.
void ShutdownSocket(int socket);
void CloseSocket(int socket);

// The Winsock number of the last failed call on this thread.
int LastSocketError();

// A listening socket on 127.0.0.1 with a free port (the stand-in peers of the tests).
int ListenLoopback(int* port);
// The next connection on a listening socket, or kInvalidSocket.
int AcceptConnection(int listener);

// Two connected local stream sockets (fuzzing and tests feed a reader through one end).
bool SocketPair(int* first, int* second);

// The computer's name, as the peer is shown it.
std::string ComputerName();

}  // namespace plat
