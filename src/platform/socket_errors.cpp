// The texts of socket errors, by Winsock code, shared by both socket implementations.

#include <string>

#include "platform/sockets.h"

namespace platform {

std::string SocketErrorText(int code) {
  switch (code) {
    case kWsaEIntr:
      return "Interrupted system call.";
    case kWsaEAcces:
      return "Permission denied.";
    case kWsaEInval:
      return "Invalid argument.";
    case kWsaEMFile:
      return "Too many open files.";
    case kWsaENotSock:
      return "Socket operation on non-socket.";
    case kWsaEAddrInUse:
      return "Address already in use.";
    case kWsaEAddrNotAvail:
      return "Cannot assign requested address.";
    case kWsaEConnAborted:
      return "Software caused connection abort.";
    case kWsaEConnReset:
      return "Connection reset by peer.";
    case kWsaENoBufs:
      return "No buffer space available.";
    case kWsaENotConn:
      return "Socket is not connected.";
    case kWsaEShutdown:
      return "Cannot send after socket shutdown.";
    case kWsaETimedOut:
      return "Connection timed out.";
    default:
      return "Unknown socket error " + std::to_string(code) + ".";
  }
}

}  // namespace platform
