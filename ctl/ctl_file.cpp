#include "ctl_file.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl_error.hpp"
#include "log.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

constexpr mode_t kFILE_MODE = 0666;
constexpr size_t kREAD_SIZE = 65536;

[[noreturn]] void _T_input_failed(const std::string& aPath, int aError)
{
    LOG_WRITE(1, "fail: read <%s> (%s)", aPath.c_str(), std::strerror(aError));
    throw InputError("cannot read " + aPath + ": " + std::strerror(aError));
}

[[noreturn]] void _T_output_failed(const std::string& aPath, const char* aStep, int aError)
{
    LOG_WRITE(1, "fail: %s <%s> (%s)", aStep, aPath.c_str(), std::strerror(aError));
    throw OutputError("cannot write " + aPath + " (" + aStep + "): " + std::strerror(aError));
}

std::string _T_folder(const std::string& aPath)
{
    const size_t slash = aPath.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : aPath.substr(0, slash);
}

bool _T_write_all(int aFd, const std::string& aText)
{
    size_t done = 0;
    while (done < aText.size())
    {
        const ssize_t written = write(aFd, aText.data() + done, aText.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = EIO;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

mode_t _T_umask()
{
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// The folder's entry for the new name reaches the disk too.
void _T_sync_folder(const std::string& aFolder)
{
    const int fd = open(aFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (fsync(fd) != 0)
        LOG_WRITE(2, "fail: fsync <%s> (%s)", aFolder.c_str(), std::strerror(errno));
    close(fd);
}

// Replaces aPath by a new file holding aText; aOld is the file replaced (its mode and owner are
// kept), or null for a new one.
void _T_replace(const std::string& aPath, const std::string& aText, const struct stat* aOld)
{
    const std::string folder = _T_folder(aPath);
    std::string temp = folder + "/.vesk11-ctl-XXXXXX";
    const int fd = mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0)
        _T_output_failed(aPath, "create", errno);
    const char* step = nullptr;
    int error = 0;
    auto failed = [&step, &error](const char* aStep)
    {
        step = aStep;
        error = errno;
    };
    // A file made by root for another user stays that user's; elsewhere EPERM is expected.
    if (aOld != nullptr && fchown(fd, aOld->st_uid, aOld->st_gid) != 0 && errno != EPERM)
        failed("chown");
    else if (fchmod(fd, aOld != nullptr ? (aOld->st_mode & 07777) : kFILE_MODE & ~_T_umask()) != 0)
        failed("chmod");
    else if (!_T_write_all(fd, aText))
        failed("write");
    else if (fsync(fd) != 0)
        failed("fsync");
    if (close(fd) != 0 && step == nullptr)
        failed("close");
    if (step == nullptr && rename(temp.c_str(), aPath.c_str()) != 0)
        failed("rename");
    if (step != nullptr)
    {
        unlink(temp.c_str());
        _T_output_failed(aPath, step, error);
    }
    _T_sync_folder(folder);
}

// The file aPath's links lead to, by its own name.
std::string _T_resolved(const std::string& aPath)
{
    char* resolved = realpath(aPath.c_str(), nullptr);
    if (resolved == nullptr)
        _T_output_failed(aPath, "resolve", errno);
    std::string path(resolved);
    free(resolved);
    return path;
}

// A device or FIFO takes the text as it is; opened without waiting for a reader.
void _T_write_in_place(const std::string& aPath, const std::string& aText)
{
    const int fd = open(aPath.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        _T_output_failed(aPath, errno == ENXIO ? "a FIFO without a reader" : "open", errno);
    const int flags = fcntl(fd, F_GETFL);
    const bool written =
        flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && _T_write_all(fd, aText);
    const int error = errno;
    if (close(fd) != 0 && written)
        _T_output_failed(aPath, "close", errno);
    if (!written)
        _T_output_failed(aPath, "write", error);
}

} // namespace

std::string ReadInputFile(const std::string& aPath, std::size_t aMaxSize)
{
    const int fd = open(aPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        _T_input_failed(aPath, errno);
    std::string text;
    std::vector<char> buffer(kREAD_SIZE);
    while (text.size() <= aMaxSize)
    {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
        {
            const int error = errno;
            close(fd);
            _T_input_failed(aPath, error);
        }
        if (got == 0)
            break;
        text.append(buffer.data(), static_cast<size_t>(got));
    }
    close(fd);
    if (text.size() > aMaxSize + 1)
        text.resize(aMaxSize + 1);
    return text;
}

void WriteOutputFile(const std::string& aPath, const std::string& aText)
{
    struct stat target
    {
    };
    if (stat(aPath.c_str(), &target) != 0)
    {
        const int error = errno;
        struct stat link
        {
        };
        // A link that leads nowhere is not replaced by a file of its own.
        if (error != ENOENT || lstat(aPath.c_str(), &link) == 0)
            _T_output_failed(aPath, error == ENOENT ? "a link to nothing" : "stat", error);
        _T_replace(aPath, aText, nullptr);
    }
    else if (S_ISREG(target.st_mode))
        _T_replace(_T_resolved(aPath), aText, &target);
    else if (S_ISCHR(target.st_mode) || S_ISFIFO(target.st_mode))
        _T_write_in_place(aPath, aText);
    else
        _T_output_failed(aPath, "not a regular file, a character device or a FIFO",
                         S_ISDIR(target.st_mode) ? EISDIR : EINVAL);
    LOG_WRITE(3, "done: write <%s> (%zu bytes)", aPath.c_str(), aText.size());
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
