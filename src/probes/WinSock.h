#pragma once

#include <QString>

#include <cstdint>

namespace sentrel {

// Error codes in the Windows Sockets numbering, which every text and decision
// of the probes is written against. Linux errors are mapped onto these.
namespace WsaError {
constexpr int NoError = 0;
constexpr int Interrupted = 10004;
constexpr int BadFile = 10009;
constexpr int Access = 10013;
constexpr int Fault = 10014;
constexpr int Invalid = 10022;
constexpr int TooManyFiles = 10024;
constexpr int WouldBlock = 10035;
constexpr int InProgress = 10036;
constexpr int Already = 10037;
constexpr int NotSocket = 10038;
constexpr int DestAddrRequired = 10039;
constexpr int MessageSize = 10040;
constexpr int ProtoType = 10041;
constexpr int NoProtoOption = 10042;
constexpr int ProtoNotSupported = 10043;
constexpr int SocketTypeNotSupported = 10044;
constexpr int OpNotSupported = 10045;
constexpr int PfNotSupported = 10046;
constexpr int AfNotSupported = 10047;
constexpr int AddrInUse = 10048;
constexpr int AddrNotAvailable = 10049;
constexpr int NetDown = 10050;
constexpr int NetUnreachable = 10051;
constexpr int NetReset = 10052;
constexpr int ConnAborted = 10053;
constexpr int ConnReset = 10054;
constexpr int NoBufs = 10055;
constexpr int IsConnected = 10056;
constexpr int NotConnected = 10057;
constexpr int Shutdown = 10058;
constexpr int TimedOut = 10060;
constexpr int ConnRefused = 10061;
constexpr int Loop = 10062;
constexpr int NameTooLong = 10063;
constexpr int HostDown = 10064;
constexpr int HostUnreachable = 10065;
constexpr int HostNotFound = 11001;
constexpr int TryAgain = 11002;
constexpr int NoRecovery = 11003;
constexpr int NoData = 11004;
} // namespace WsaError

// The one place that turns a Linux errno into a Windows Sockets code.
// Unlisted errors keep a code outside the table, so they show as "Error #".
int wsaErrorFromErrno(int err);

// The one place that turns a failed gethostbyname_r() into a Windows Sockets code:
// its h_errno, or its own result when that is an errno.
int wsaErrorFromHerrno(int herr, int result);

// Message text for a Windows Sockets error code.
QString GetWinsockErrorText(int code);

// Linux needs no start call and reports no version or socket limit, so this
// always succeeds without a message. Kept so that start-up has one place to call.
bool StartWinsock();

// The all-ones address: "not an address" or "unresolvable" throughout the program.
constexpr uint32_t NoAddress = 0xFFFFFFFFu;

// inet_addr() itself, quirks included ("10.1" is 10.0.0.1); NoAddress when the text is not dotted.
uint32_t ParseDottedAddress(const QString &text);

// Four bytes in network order as "a.b.c.d".
QString FormatDottedAddress(uint32_t addressNetworkOrder);

} // namespace sentrel
