#include "flash_file.hpp"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{
namespace
{

constexpr char kFIRST_LINE[] = "vesk11-sim flash 1";
constexpr char kLAST_LINE[] = "end";
constexpr uint8_t kVALUE_I32 = 0;
constexpr uint8_t kVALUE_F32 = 2;
constexpr size_t kMAX_FILE_SIZE = size_t{1024} * 1024; // the real file is about 1 kB
constexpr int kMAX_LINK_HOPS = 40;                     // as the kernel's own limit

std::string _T_errno_text(const std::string& aWhat, const std::string& aPath)
{
    return aWhat + " " + aPath + ": " + std::strerror(errno);
}

bool _T_parse_hex32(const std::string& aToken, uint32_t* aBits)
{
    if (aToken.size() != 10 || aToken.compare(0, 2, "0x") != 0)
        return false;
    uint32_t bits = 0;
    for (size_t i = 2; i < aToken.size(); ++i)
    {
        char c = aToken[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        bits = bits << 4 | digit;
    }
    *aBits = bits;
    return true;
}

// "<group> <array> <i32|f32> 0x<8 hex digits>", nothing else on the line.
bool _T_parse_entry(const std::string& aLine, flash_entry_t* aEntry)
{
    std::istringstream in(aLine);
    unsigned long group = 0;
    unsigned long array = 0;
    std::string type;
    std::string bits;
    std::string rest;
    if (!(in >> group >> array >> type >> bits) || (in >> rest) || group > 0xFFFF ||
        array > 0xFFFF || !_T_parse_hex32(bits, &aEntry->bits))
        return false;
    if (type != "i32" && type != "f32")
        return false;
    aEntry->group = static_cast<uint16_t>(group);
    aEntry->array = static_cast<uint16_t>(array);
    aEntry->value_type = type == "f32" ? kVALUE_F32 : kVALUE_I32;
    return true;
}

std::string _T_format(const std::vector<flash_entry_t>& aEntries)
{
    std::string text = std::string(kFIRST_LINE) + "\n";
    for (const flash_entry_t& entry : aEntries)
    {
        char line[64];
        snprintf(line, sizeof line, "%u %u %s 0x%08" PRIx32 "\n", entry.group, entry.array,
                 entry.value_type == kVALUE_F32 ? "f32" : "i32", entry.bits);
        text += line;
    }
    return text + kLAST_LINE + "\n";
}

bool _T_write_all(int aFd, const std::string& aText)
{
    size_t done = 0;
    while (done < aText.size())
    {
        ssize_t n = write(aFd, aText.data() + done, aText.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The folder part of aPath with its slash, "./" when it has none.
std::string _T_folder_of(const std::string& aPath)
{
    size_t slash = aPath.rfind('/');
    return slash == std::string::npos ? "./" : aPath.substr(0, slash + 1);
}

// The file a chain of symlinks ends at (relative targets taken from each link's folder), so that
// a link is written through rather than replaced; aPath itself when it is not a link.
std::string _T_follow_links(const std::string& aPath)
{
    std::string path = aPath;
    char target[PATH_MAX];
    for (int hop = 0; hop < kMAX_LINK_HOPS; ++hop)
    {
        ssize_t n = readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target)
            break;
        if (target[0] != '/')
            path = _T_folder_of(path);
        else
            path.clear();
        path.append(target, static_cast<size_t>(n));
    }
    return path;
}

// The rename is durable only once the folder itself is synced.
void _T_sync_folder(const std::string& aPath)
{
    int fd = open(_T_folder_of(aPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// Up to aLimit bytes; false with errno set on a read error.
bool _T_read_at_most(int aFd, size_t aLimit, std::string* aText)
{
    char buffer[4096];
    while (aText->size() < aLimit)
    {
        ssize_t n = read(aFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        aText->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

// Opens a regular file for reading (kLOADED with *aFd set), or says why not. The type is checked
// before the open, the open never blocks, and the open file is checked again, so a FIFO or a
// device never stalls the start.
flash_load_t _T_open_regular(const std::string& aPath, int* aFd, std::string& aError)
{
    struct stat info
    {
    };
    if (stat(aPath.c_str(), &info) != 0)
    {
        if (errno == ENOENT)
            return flash_load_t::kABSENT;
        aError = _T_errno_text("cannot read", aPath);
        return flash_load_t::kUNUSABLE;
    }
    if (S_ISREG(info.st_mode))
    {
        *aFd = open(aPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (*aFd < 0)
        {
            aError = _T_errno_text("cannot read", aPath);
            return flash_load_t::kUNUSABLE;
        }
        if (fstat(*aFd, &info) == 0 && S_ISREG(info.st_mode))
            return flash_load_t::kLOADED;
        close(*aFd);
        *aFd = -1;
    }
    aError = aPath + " is not a regular file";
    return flash_load_t::kUNUSABLE;
}

// The whole text of a regular file of at most kMAX_FILE_SIZE bytes.
flash_load_t _T_read_file(const std::string& aPath, std::string* aText, std::string& aError)
{
    int fd = -1;
    flash_load_t opened = _T_open_regular(aPath, &fd, aError);
    if (opened != flash_load_t::kLOADED)
        return opened;
    bool read = _T_read_at_most(fd, kMAX_FILE_SIZE + 1, aText);
    if (!read)
        aError = _T_errno_text("cannot read", aPath);
    close(fd);
    if (read && aText->size() > kMAX_FILE_SIZE)
        aError = aPath + " is larger than 1 MiB";
    return read && aText->size() <= kMAX_FILE_SIZE ? flash_load_t::kLOADED
                                                   : flash_load_t::kUNUSABLE;
}

} // namespace

flash_load_t load_flash_file(const std::string& aPath, std::vector<flash_entry_t>& aEntries,
                             std::string& aError)
{
    std::string text;
    flash_load_t read = _T_read_file(aPath, &text, aError);
    if (read != flash_load_t::kLOADED)
        return read;
    std::istringstream in(text);
    std::string line;
    unsigned lineNo = 1;
    if (!std::getline(in, line) || line != kFIRST_LINE)
    {
        aError = aPath + ": line 1: not a vesk11-sim flash file";
        return flash_load_t::kDAMAGED;
    }
    aEntries.clear();
    bool ended = false;
    while (std::getline(in, line))
    {
        ++lineNo;
        flash_entry_t entry{};
        if (!ended && line == kLAST_LINE)
            ended = true;
        else if (!ended && _T_parse_entry(line, &entry))
            aEntries.push_back(entry);
        else
        {
            aError = aPath;
            aError.append(": line ").append(std::to_string(lineNo));
            aError.append(": unexpected \"").append(line).append("\"");
            return flash_load_t::kDAMAGED;
        }
    }
    if (!ended)
    {
        aError = aPath + ": truncated (no \"end\" line)";
        return flash_load_t::kDAMAGED;
    }
    return flash_load_t::kLOADED;
}

bool save_flash_file(const std::string& aPath, const std::vector<flash_entry_t>& aEntries,
                     std::string& aError)
{
    std::string target = _T_follow_links(aPath);
    std::string temp = target + ".tmp";
    unlink(temp.c_str()); // left by a crash; O_EXCL then never writes through a planted link
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        aError = _T_errno_text("cannot create", temp);
        return false;
    }
    bool written = _T_write_all(fd, _T_format(aEntries)) && fsync(fd) == 0;
    if (!written)
        aError = _T_errno_text("cannot write", temp);
    if (close(fd) != 0 && written)
    {
        aError = _T_errno_text("cannot write", temp);
        written = false;
    }
    if (written && rename(temp.c_str(), target.c_str()) != 0)
    {
        aError = _T_errno_text("cannot rename to", target);
        written = false;
    }
    if (!written)
    {
        unlink(temp.c_str());
        return false;
    }
    _T_sync_folder(target);
    return true;
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
