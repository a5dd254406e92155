// Files of vesk11-ctl: a document read whole, a document written whole or not at all.
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

// Writes aText to a new file in aPath's folder, flushes it to the disk and renames it to aPath,
// so that aPath holds either its old contents or all of aText, never part of it. The file gets
// mode 0666 less the umask. Throws ctl_error (status 73, "output") on failure, leaving no
// temporary file behind.
void WriteFileAtomically(const std::string& aPath, const std::string& aText);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
