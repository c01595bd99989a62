#include "probes/WinSock.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>

namespace sentrel {

int wsaErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return WsaError::NoError;
    case EINTR:
        return WsaError::Interrupted;
    case EBADF:
        return WsaError::BadFile;
    case EACCES:
    case EPERM:
        return WsaError::Access;
    case EFAULT:
        return WsaError::Fault;
    case EINVAL:
        return WsaError::Invalid;
    case EMFILE:
    case ENFILE:
        return WsaError::TooManyFiles;
    case EAGAIN:
        return WsaError::WouldBlock;
    case EINPROGRESS:
        return WsaError::InProgress;
    case EALREADY:
        return WsaError::Already;
    case ENOTSOCK:
        return WsaError::NotSocket;
    case EDESTADDRREQ:
        return WsaError::DestAddrRequired;
    case EMSGSIZE:
        return WsaError::MessageSize;
    case EPROTOTYPE:
        return WsaError::ProtoType;
    case ENOPROTOOPT:
        return WsaError::NoProtoOption;
    case EPROTONOSUPPORT:
        return WsaError::ProtoNotSupported;
    case ESOCKTNOSUPPORT:
        return WsaError::SocketTypeNotSupported;
    case EOPNOTSUPP:
        return WsaError::OpNotSupported;
    case EPFNOSUPPORT:
        return WsaError::PfNotSupported;
    case EAFNOSUPPORT:
        return WsaError::AfNotSupported;
    case EADDRINUSE:
        return WsaError::AddrInUse;
    case EADDRNOTAVAIL:
        return WsaError::AddrNotAvailable;
    case ENETDOWN:
        return WsaError::NetDown;
    case ENETUNREACH:
        return WsaError::NetUnreachable;
    case ENETRESET:
        return WsaError::NetReset;
    case ECONNABORTED:
        return WsaError::ConnAborted;
    case ECONNRESET:
    case EPIPE:
        return WsaError::ConnReset;
    case ENOBUFS:
    case ENOMEM:
        return WsaError::NoBufs;
    case EISCONN:
        return WsaError::IsConnected;
    case ENOTCONN:
        return WsaError::NotConnected;
    case ESHUTDOWN:
        return WsaError::Shutdown;
    case ETIMEDOUT:
        return WsaError::TimedOut;
    case ECONNREFUSED:
        return WsaError::ConnRefused;
    case ELOOP:
        return WsaError::Loop;
    case ENAMETOOLONG:
        return WsaError::NameTooLong;
    case EHOSTDOWN:
        return WsaError::HostDown;
    case EHOSTUNREACH:
        return WsaError::HostUnreachable;
    default:
        // Keeps the errno visible in "Winsock Has Returned Error #..." without
        // colliding with a real Windows Sockets code.
        return 20000 + err;
    }
}

int wsaErrorFromHerrno(int herr, int result)
{
    // The resolver's codes are the Windows Sockets ones less 11000.
    switch (herr) {
    case HOST_NOT_FOUND:
        return WsaError::HostNotFound;
    case TRY_AGAIN:
        return WsaError::TryAgain;
    case NO_RECOVERY:
        return WsaError::NoRecovery;
    case NO_DATA:
        return WsaError::NoData;
    default:
        return result != 0 ? wsaErrorFromErrno(result) : WsaError::HostNotFound;
    }
}

QString GetWinsockErrorText(int code)
{
    const char *text = nullptr;
    switch (code) {
    case 0:
        text = "No error";
        break;
    case 10004:
        text = "The (blocking) call was canceled via WSACancelBlockingCall().";
        break;
    case 10009:
        text = "No additional information provided.";
        break;
    case 10013:
        text = "The requested address is a broadcast address, but the appropriate flag was not set.";
        break;
    case 10014:
        text = "The length argument is not correct.";
        break;
    case 10022:
        text = "One of the specified parameters was invalid.";
        break;
    case 10024:
        text = "No more file descriptors are available.";
        break;
    case 10035:
        text = "The asynchronous operation cannot be scheduled at this time due to resource or other "
               "constraints.";
        break;
    case 10036:
        text = "A blocking operation is in progress.";
        break;
    case 10037:
        text = "The asynchronous routine being canceled has already completed.";
        break;
    case 10038:
        text = "The descriptor is a file, not a socket.";
        break;
    case 10039:
        text = "A destination address is required.";
        break;
    case 10040:
        text = "The datagram was too large to fit into the specified buffer and was truncated.";
        break;
    case 10041:
        text = "The specified protocol is the wrong type for this socket.";
        break;
    case 10042:
        text = "The option is unknown or unsupported.";
        break;
    case 10043:
        text = "The specified protocol is not supported.";
        break;
    case 10044:
        text = "The specified socket type is not supported in this address family.";
        break;
    case 10045:
        text = "The referenced socket is not a type that supports connection-oriented service.";
        break;
    case 10046:
    case 10059:
    case 10062:
    case 10063:
    case 10064:
    case 10065:
        text = "No additional information is provided.";
        break;
    case 10048:
        text = "The specified address is already in use.";
        break;
    case 10049:
        text = "The specified address is not available from the local machine.";
        break;
    case 10050:
        text = "The network subsystem has failed.";
        break;
    case 10051:
        text = "The network cannot be reached from this host at this time.";
        break;
    case 10052:
        text = "The connection must be reset because the connection was dropped.";
        break;
    case 10053:
        text = "The connection was aborted due to timeout or other failure.";
        break;
    case 10054:
        text = "The connection was reset by the remote side.";
        break;
    case 10055:
        text = "No/Insufficient buffer space is available.";
        break;
    case 10056:
        text = "The socket is already connected.";
        break;
    case 10057:
        text = "The socket is not connected.";
        break;
    case 10058:
        text = "The socket has been shutdown.";
        break;
    case 10060:
        text = "Attempt to connect timed out without establishing a connection.";
        break;
    case 10061:
        text = "The attempt to connect was forcefully rejected.";
        break;
    case 10091:
        text = "The Network subsystem is unusable.";
        break;
    case 10092:
        text = "The TCP/IP Stack on this system will not support this application.";
        break;
    case 10093:
        text = "A successful WSAStartup() has not yet occurred.";
        break;
    case 11001:
        text = "Host not found (Authoritative Answer)";
        break;
    case 11002:
        text = "Host not found or SERVERFAIL (Non-Authoritative Answer)";
        break;
    case 11003:
        text = "Non-Recoverable Error.";
        break;
    case 11004:
        text = "No data record for the requested host.";
        break;
    default:
        return QStringLiteral("Winsock Has Returned Error #") + QString::number(code);
    }
    return QString::fromLatin1(text);
}

bool StartWinsock()
{
    return true;
}

uint32_t ParseDottedAddress(const QString &text)
{
    // inet_addr stops at the first NUL, so a text with an embedded NUL would
    // parse as its prefix; such a text is not a dotted address.
    if (text.contains(QChar(0)))
        return NoAddress;
    const QByteArray bytes = text.toLatin1();
    return static_cast<uint32_t>(inet_addr(bytes.constData()));
}

QString FormatDottedAddress(uint32_t addressNetworkOrder)
{
    const auto *b = reinterpret_cast<const unsigned char *>(&addressNetworkOrder);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

} // namespace sentrel
