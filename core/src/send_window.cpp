#include "send_window.h"

#include <ctime>

#include <poll.h>

int64_t SendWindow__NowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool SendWindow__StillOpen(int64_t aOpenedUs, int64_t aNowUs, int aLinkFd)
{
    if (aNowUs - aOpenedUs > kSEND_WINDOW_US)
        return false;
    pollfd link{aLinkFd, POLLIN, 0};
    return poll(&link, 1, 0) == 0;
}
