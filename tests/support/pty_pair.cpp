#include "pty_pair.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace vesk11_test
{

pty_pair::pty_pair(pty_mode_t aMode)
{
    termios raw{};
    cfmakeraw(&raw);
    const termios* settings = aMode == pty_mode_t::kRAW ? &raw : nullptr;
    char name[128] = {};
    EXPECT_EQ(openpty(&master_, &slave_, name, settings, nullptr), 0) << std::strerror(errno);
    if (!is_open())
        return;
    path_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

pty_pair::~pty_pair()
{
    close_master();
    if (slave_ >= 0)
        close(slave_);
}

void pty_pair::close_master()
{
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

int pty_pair::release_master()
{
    const int master = master_;
    master_ = -1;
    return master;
}

void expect_same_line_settings(const termios& aNow, const termios& aWas)
{
    EXPECT_EQ(aNow.c_iflag, aWas.c_iflag);
    EXPECT_EQ(aNow.c_oflag, aWas.c_oflag);
    EXPECT_EQ(aNow.c_cflag, aWas.c_cflag);
    EXPECT_EQ(aNow.c_lflag, aWas.c_lflag);
    EXPECT_EQ(aNow.c_cc[VMIN], aWas.c_cc[VMIN]);
    EXPECT_EQ(aNow.c_cc[VTIME], aWas.c_cc[VTIME]);
}

} // namespace vesk11_test
