#include "std_descriptors.hpp"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace Orvo
{
namespace Support
{

void FillStdDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
    {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
        {
            const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null != fd && null >= 0)
                close(null); // cannot happen while fd is the lowest free descriptor
        }
    }
}

} // namespace Support
} // namespace Orvo
