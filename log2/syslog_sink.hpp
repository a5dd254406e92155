// The syslog end of liblog2: its own datagram socket to the syslog daemon, written without ever
// waiting, so that a stalled daemon costs a record, not the caller's time.
#ifndef VESK11_LOG2_SYSLOG_SINK_HPP
#define VESK11_LOG2_SYSLOG_SINK_HPP

// A non-blocking AF_UNIX datagram socket connected to aPath (close-on-exec), or -1 when nothing
// listens there or the path does not fit a socket address.
int SyslogSink__Connect(const char* aPath);

// Sends one message as syslog(3) would for openlog(aIdent, LOG_PID, LOG_USER):
// "<PRI>Mmm dd hh:mm:ss ident[pid]: body", PRI being the user facility with aSeverity (LOG_ERR...).
// Never waits and never raises SIGPIPE; true when the whole datagram was taken, false otherwise
// (errno tells why; EAGAIN: the daemon's queue is full).
bool SyslogSink__Send(int aFd, const char* aIdent, int aSeverity, const char* aBody);

#endif
