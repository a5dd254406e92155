// The sending window of the line: when a query may go out without colliding with the sensor.
// The sensor listens right after each intact block it sends, for a short while, until it starts
// its next block; a query written in that gap reaches it. Plain functions; nothing throws.
#ifndef VESK11_CORE_SEND_WINDOW_H
#define VESK11_CORE_SEND_WINDOW_H

#include <cstdint>

// How long after the end of an intact block the line counts as free for a query.
constexpr int64_t kSEND_WINDOW_US = 2000;

// Microseconds of the monotonic clock, the time base of the functions below.
int64_t SendWindow__NowUs();

// Whether the window opened at aOpenedUs (SendWindow__NowUs at the end of an intact block, with
// no header and no query of ours since) is still open at aNowUs: not more than kSEND_WINDOW_US
// ago, and nothing is waiting to be read on aLinkFd (a block beginning closes it). Looks at
// aLinkFd without waiting and without reading; a descriptor that cannot be polled counts as
// input waiting (closed window).
bool SendWindow__StillOpen(int64_t aOpenedUs, int64_t aNowUs, int aLinkFd);

#endif
