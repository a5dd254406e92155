// Files of vesk11-ctl: a document read whole, a document written whole or not at all, and what
// stands at an output path respected.
#ifndef VESK11_CTL_CTL_FILE_HPP
#define VESK11_CTL_CTL_FILE_HPP

#include <cstddef>
#include <string>

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// The contents of aPath, at most aMaxSize + 1 bytes (so that a caller sees a file too large).
// Throws ctl_error (status 66, "input") when it cannot be opened or read.
std::string ReadInputFile(const std::string& aPath, std::size_t aMaxSize);

// Writes aText to what aPath leads to, judged after following symbolic links:
// - nothing there: a new file, mode 0666 less the umask;
// - a regular file: a new file in the folder of the file the links lead to, with the old file's
//   mode (and owner, where allowed), flushed to the disk and renamed over it, so that the file
//   holds either its old contents or all of aText, never part of it; the links stay;
// - a character device or a FIFO (/dev/null, /dev/stdout on a terminal or pipe): written
//   directly, never replaced; a FIFO with no reader is refused rather than waited for;
// - anything else (a folder, a block device, a socket, a link to nothing): refused.
// Throws ctl_error (status 73, "output") on failure, leaving no temporary file behind.
void WriteOutputFile(const std::string& aPath, const std::string& aText);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
