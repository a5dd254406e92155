#include "ctl_file.hpp"

#include <cerrno>
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

void WriteFileAtomically(const std::string& aPath, const std::string& aText)
{
    const std::string folder = _T_folder(aPath);
    std::string temp = folder + "/.vesk11-ctl-XXXXXX";
    const int fd = mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0)
        _T_output_failed(aPath, "create", errno);
    const char* step = nullptr;
    int error = 0;
    auto failed = [&step, &error](const char* aStep) {
        step = aStep;
        error = errno;
    };
    if (fchmod(fd, kFILE_MODE & ~_T_umask()) != 0)
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
    LOG_WRITE(3, "done: write <%s> (%zu bytes)", aPath.c_str(), aText.size());
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
