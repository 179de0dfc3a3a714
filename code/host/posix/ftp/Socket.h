#pragma once
// Sockets and addresses for the FTP client: connecting and waiting within a deadline, the socket options it
// sets, and the WinINet code a socket error stands for.
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "host/posix/Fd.h"

namespace kadroo::posix {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// Polls until one of the descriptors is ready; the number ready, 0 on timeout.
int PollUntil(pollfd* fds, nfds_t count, Deadline deadline);

int32_t ErrorFromSocket(int err);

uint16_t PortOf(const sockaddr_storage& a);
void SetPort(sockaddr_storage& a, uint16_t port);
// Whether both name the same host, an IPv4-mapped IPv6 address being the IPv4 one.
bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b);
socklen_t LengthOf(const sockaddr_storage& a);
std::string AddressText(const sockaddr_storage& a);

// A connected blocking socket, or the error: 12002 when the deadline passed, 12029 otherwise.
int32_t ConnectTo(const sockaddr* address, socklen_t length, Deadline deadline, Fd& out);

void SetNoDelay(int socket);
// Acknowledges what was just read at once. A server that writes a reply in two pieces with Nagle's algorithm on
// holds the second piece until the first is acknowledged, and a delayed acknowledgement would cost ~40 ms there.
// Linux drops out of quick-ack mode by itself, hence after every read.
void AcknowledgeNow(int socket);
void SetIoTimeouts(int socket, std::chrono::milliseconds timeout);

}  // namespace kadroo::posix
