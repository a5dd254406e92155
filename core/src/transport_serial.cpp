// Serial port: opens one device raw at 115200 baud 8N1, exclusively, and restores it on close.
#include "transport_serial.h"

#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "log.h"
#include "serial_rs485.h"

namespace
{

constexpr tcflag_t kCFLAG_CHECKED = CSIZE | PARENB | CSTOPB | CREAD | CLOCAL;

struct com_transport
{
    char dev_path[kCOM_ENDPOINT_PATH_SIZE];
    struct termios old_termios;
    struct termios new_termios;
    int dev_fd;
    serial_rs485_args rs485;
    struct serial_rs485 old_rs485;
};

// Drops the descriptor after a failed open step (the lock goes with it); returns aCode with
// errno set to aError, the failed step's.
int _T_abandon(com_transport* aSelf, int aCode = kCOM_OPEN_FAILED, int aError = EIO)
{
    close(aSelf->dev_fd);
    aSelf->dev_fd = -1;
    errno = aError;
    return aCode;
}

bool _T_fill_new_termios(struct termios* aTermios)
{
    std::memset(aTermios, 0, sizeof *aTermios);
    aTermios->c_cflag = CS8 | CREAD | CLOCAL;
    if (cfsetospeed(aTermios, B115200) != 0 || cfsetispeed(aTermios, B115200) != 0)
        return false;
    aTermios->c_cc[VMIN] = 1;
    aTermios->c_cc[VTIME] = 0;
    return true;
}

// tcsetattr succeeds when any one of the changes took effect: read the settings back.
bool _T_settings_took_effect(const com_transport* aSelf)
{
    const struct termios& want = aSelf->new_termios;
    struct termios got
    {
    };
    return tcgetattr(aSelf->dev_fd, &got) == 0 &&
           (got.c_cflag & kCFLAG_CHECKED) == (want.c_cflag & kCFLAG_CHECKED) &&
           cfgetospeed(&got) == cfgetospeed(&want) && cfgetispeed(&got) == cfgetispeed(&want) &&
           got.c_cc[VMIN] == want.c_cc[VMIN] && got.c_cc[VTIME] == want.c_cc[VTIME] &&
           got.c_iflag == want.c_iflag && got.c_oflag == want.c_oflag &&
           got.c_lflag == want.c_lflag;
}

void _T_restore_termios(const com_transport* aSelf)
{
    if (tcsetattr(aSelf->dev_fd, TCSANOW, &aSelf->old_termios) != 0)
        LOG_WRITE(2, "failed to restore attributes of device %s (%s)", aSelf->dev_path,
                  std::strerror(errno));
}

// Turns on the RS-485 mode asked for, if any, after saving the line's own.
int _T_enable_rs485(com_transport* aSelf)
{
    if (aSelf->rs485.mode == kSERIAL_RS485_OFF)
        return 0;
    if (SerialRs485__Enable(aSelf->dev_fd, &aSelf->rs485, &aSelf->old_rs485) != 0)
    {
        LOG_WRITE(1, "the driver of %s refused RS-485 mode %s (%s)", aSelf->dev_path,
                  SerialRs485__ModeName(aSelf->rs485.mode), std::strerror(errno));
        return -1;
    }
    LOG_WRITE(3, "RS-485 mode %s on %s (delays %u/%u ms)", SerialRs485__ModeName(aSelf->rs485.mode),
              aSelf->dev_path, aSelf->rs485.delay_before_ms, aSelf->rs485.delay_after_ms);
    return 0;
}

} // namespace

int ComTransport__Create(void** aSelf, const com_transport_args* aComArgs)
{
    LOG_WRITE(5, "exec");
    com_transport* self = new (std::nothrow) com_transport{};
    if (self == nullptr)
    {
        LOG_WRITE(1, "%s", std::strerror(ENOMEM));
        return -1;
    }
    // The record's path need not hold a NUL: never read beyond it.
    const size_t pathSize = strnlen(aComArgs->endpoint_path, kCOM_ENDPOINT_PATH_SIZE) + 1;
    if (pathSize > kCOM_ENDPOINT_PATH_SIZE)
    {
        LOG_WRITE(1, "fail: endpoint-path is too long");
        delete self;
        return -1;
    }
    std::memcpy(self->dev_path, aComArgs->endpoint_path, pathSize);
    self->rs485 = aComArgs->rs485;
    self->dev_fd = -1;
    *aSelf = self;
    LOG_WRITE(5, "done");
    return 0;
}

void ComTransport__Destroy(void* aSelf)
{
    LOG_WRITE(5, "exec");
    if (aSelf == nullptr)
    {
        LOG_WRITE(1, "fail: bad arg");
        return;
    }
    delete static_cast<com_transport*>(aSelf);
    LOG_WRITE(5, "done");
}

int ComTransport__Open(void* aSelf)
{
    LOG_WRITE(4, "exec");
    com_transport* self = static_cast<com_transport*>(aSelf);
    if (self->dev_fd != -1)
    {
        LOG_WRITE(1, "fail: already opened");
        return kCOM_OPEN_FAILED;
    }
    // Non-blocking: neither a modem line without carrier nor a FIFO may hold the open, and a line
    // that stops draining may not hold a write; the caller waits with poll, within its deadline.
    self->dev_fd = open(self->dev_path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (self->dev_fd == -1)
    {
        const int error = errno;
        LOG_WRITE(1, "failed to open %s (%s)", self->dev_path, std::strerror(error));
        errno = error;
        return kCOM_OPEN_NO_ACCESS;
    }
    // Two runs on one line would interleave their frames on the bus.
    if (flock(self->dev_fd, LOCK_EX | LOCK_NB) != 0)
    {
        const int error = errno;
        LOG_WRITE(1, "failed to lock %s (%s)", self->dev_path, std::strerror(error));
        return _T_abandon(self, kCOM_OPEN_LOCKED, error);
    }
    if (tcgetattr(self->dev_fd, &self->old_termios) != 0)
    {
        const int error = errno;
        LOG_WRITE(1, "failed to get attributes of %s (%s)", self->dev_path, std::strerror(error));
        return _T_abandon(self, kCOM_OPEN_NOT_SERIAL, error);
    }
    if (!_T_fill_new_termios(&self->new_termios))
    {
        LOG_WRITE(1, "Failed to set baud rate to device %s (%s)", self->dev_path,
                  std::strerror(errno));
        return _T_abandon(self);
    }
    tcflush(self->dev_fd, TCIOFLUSH);
    if (tcsetattr(self->dev_fd, TCSANOW, &self->new_termios) != 0)
    {
        LOG_WRITE(1, "Failed to setup device %s (%s)", self->dev_path, std::strerror(errno));
    }
    else if (!_T_settings_took_effect(self))
    {
        LOG_WRITE(1, "failed to verify attributes of %s", self->dev_path);
    }
    else if (_T_enable_rs485(self) != 0)
    {
        _T_restore_termios(self);
        return _T_abandon(self, kCOM_OPEN_RS485_REFUSED);
    }
    else
    {
        LOG_WRITE(4, "done");
        return 0;
    }
    _T_restore_termios(self);
    return _T_abandon(self);
}

int ComTransport__Close(void* aSelf)
{
    LOG_WRITE(4, "exec");
    com_transport* self = static_cast<com_transport*>(aSelf);
    if (self->dev_fd != -1)
    {
        // Output still queued (a write cut short by a stop) would make close wait for it to drain.
        tcflush(self->dev_fd, TCOFLUSH);
        if (self->rs485.mode != kSERIAL_RS485_OFF &&
            SerialRs485__Restore(self->dev_fd, &self->old_rs485) != 0)
            LOG_WRITE(2, "failed to restore the RS-485 state of device %s (%s)", self->dev_path,
                      std::strerror(errno));
        _T_restore_termios(self);
        if (close(self->dev_fd) != 0)
        {
            LOG_WRITE(2, "failed to close device %s (%s)", self->dev_path, std::strerror(errno));
            return -1;
        }
        self->dev_fd = -1;
    }
    LOG_WRITE(3, "done");
    return 0;
}

bool ComTransport__InitArgs(com_transport_args* aArgs, const char* aPath,
                            const serial_rs485_args* aRs485)
{
    const size_t size = std::strlen(aPath);
    if (size > kCOM_ENDPOINT_PATH_MAX)
        return false;
    *aArgs = com_transport_args{};
    std::memcpy(aArgs->endpoint_path, aPath, size);
    if (aRs485 != nullptr)
        aArgs->rs485 = *aRs485;
    return true;
}

int ComTransport__GetLinkHandle(void* aSelf)
{
    return static_cast<com_transport*>(aSelf)->dev_fd;
}

void ComTransport__GetReconnectArgs(uint32_t* aMinTout, uint32_t* aMaxTout, double* aToutMult)
{
    *aMinTout = 2000000;
    *aMaxTout = 16000000;
    *aToutMult = 2.0;
}
