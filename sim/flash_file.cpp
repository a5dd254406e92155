#include "flash_file.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <fcntl.h>
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

// The rename is durable only once the directory itself is synced.
void _T_sync_dir(const std::string& aPath)
{
    size_t slash = aPath.rfind('/');
    std::string dir = slash == std::string::npos ? "." : aPath.substr(0, slash + 1);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// False with errno set when the file cannot be opened or read.
bool _T_read_file(const std::string& aPath, std::string* aText)
{
    std::FILE* file = std::fopen(aPath.c_str(), "re");
    if (!file)
        return false;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        aText->append(buffer, n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    if (!ok)
        errno = EIO;
    return ok;
}

} // namespace

flash_load_t load_flash_file(const std::string& aPath, std::vector<flash_entry_t>& aEntries,
                             std::string& aError)
{
    std::string text;
    if (!_T_read_file(aPath, &text))
    {
        if (errno == ENOENT)
            return flash_load_t::kABSENT;
        aError = _T_errno_text("cannot read", aPath);
        return flash_load_t::kDAMAGED;
    }
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
    std::string temp = aPath + ".tmp";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
    if (written && rename(temp.c_str(), aPath.c_str()) != 0)
    {
        aError = _T_errno_text("cannot rename to", aPath);
        written = false;
    }
    if (!written)
    {
        unlink(temp.c_str());
        return false;
    }
    _T_sync_dir(aPath);
    return true;
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
