#include "ctl_output.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include <unistd.h>

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// Back to the start of the line, then the rest of the line cleared.
const char* const kERASE_LINE = "\r\033[K";

} // namespace

ctl_output::ctl_output(bool aJson, bool aQuiet)
    : json_(aJson), quiet_(aQuiet), terminal_(isatty(STDERR_FILENO) == 1)
{
}

ctl_output::~ctl_output()
{
    clear_progress();
}

void ctl_output::progress(std::size_t aDone, std::size_t aTotal, const std::string& aName)
{
    if (!terminal_ || quiet_ || aTotal < 2)
        return;
    std::cerr << kERASE_LINE << aDone << '/' << aTotal << ' ' << aName << std::flush;
    progress_shown_ = true;
}

void ctl_output::clear_progress()
{
    if (progress_shown_)
        std::cerr << kERASE_LINE << std::flush;
    progress_shown_ = false;
}

void ctl_output::rows(const std::vector<std::vector<std::string>>& aRows)
{
    clear_progress();
    // A row's last cell is never padded, so a long one (a reason) widens no column.
    std::vector<std::size_t> widths;
    for (const auto& row : aRows)
    {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i + 1 < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : aRows)
    {
        std::string text;
        for (std::size_t i = 0; i < row.size(); ++i)
        {
            text += row[i];
            if (i + 1 < row.size())
                text += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        std::cout << text << '\n';
    }
}

void ctl_output::line(const std::string& aText)
{
    clear_progress();
    std::cout << aText << '\n';
}

void ctl_output::note(const std::string& aText)
{
    if (!quiet_)
        line(aText);
}

void ctl_output::emit(const ctl_json& aObject)
{
    clear_progress();
    std::cout << aObject.dump(-1, ' ', false, ctl_json::error_handler_t::replace) << '\n';
}

void ctl_output::error(const ctl_error& aError, ctl_json aReport)
{
    clear_progress();
    std::cerr << "vesk11-ctl: " << aError.message() << '\n';
    if (aError.status() == kEXIT_USAGE)
        std::cerr << "Try 'vesk11-ctl --help' for more information.\n";
    if (!json_)
        return;
    ctl_json report{{"error", {{"kind", aError.kindName()}, {"message", aError.message()}}}};
    for (auto& member : aReport.items())
        report[member.key()] = std::move(member.value());
    emit(report);
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
