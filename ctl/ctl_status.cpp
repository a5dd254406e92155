// status: what vesk11d knows of its line, asked on its control socket; the line is not touched.
#include <cstdio>

#include "ctl_commands.hpp"
#include "ctl_daemon_link.hpp"
#include "ctl_error.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

std::string _T_fixed(double aValue, int aDigits)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", aDigits, aValue);
    return text;
}

std::string _T_count(const ctl_json& aObject, const char* aName)
{
    const ctl_json& member = Member(aObject, aName);
    return std::to_string(member.is_number_unsigned() ? member.get<uint64_t>() : 0);
}

std::string _T_state(const ctl_json& aLine)
{
    std::string text = MemberText(aLine, "state");
    if (!MemberText(aLine, "since").empty())
        text += " since " + MemberText(aLine, "since") + " (" +
                _T_fixed(MemberNumber(aLine, "for_s"), 1) + " s)";
    return text;
}

// "mean 50.0 ms, jitter -0.4/+0.6 ms (last 60.0 s)", as monitor tells it.
std::string _T_period(const ctl_json& aWindow)
{
    const std::string over = " (last " + _T_fixed(MemberNumber(aWindow, "duration_s"), 1) + " s)";
    const ctl_json& period = Member(aWindow, "period_ms");
    if (!period.is_object())
        return "none measured" + over;
    const double mean = MemberNumber(period, "mean");
    return "mean " + _T_fixed(mean, 1) + " ms, jitter " +
           _T_fixed(MemberNumber(period, "min") - mean, 1) + "/+" +
           _T_fixed(MemberNumber(period, "max") - mean, 1) + " ms" + over;
}

void _T_show_line(ctl_output& aOutput, const ctl_json& aLine)
{
    const ctl_json& window = Member(aLine, "window");
    const bool ageKnown = Member(aLine, "last_intact_age_s").is_number();
    aOutput.rows({
        {"line", MemberText(aLine, "name") + " (" + MemberText(aLine, "device") + ")"},
        {"state", _T_state(aLine)},
        {"blocks", _T_count(aLine, "blocks_intact") + " intact, " +
                       _T_count(aLine, "blocks_damaged") + " damaged, " +
                       _T_count(aLine, "blocks_too_long") + " too long"},
        {"garbage", _T_count(aLine, "garbage_bytes") + " bytes"},
        {"last intact",
         ageKnown ? _T_fixed(MemberNumber(aLine, "last_intact_age_s"), 3) + " s ago" : "none yet"},
        {"period", _T_period(window)},
        {"reopens", _T_count(aLine, "reopens") + " (losses: " + _T_count(aLine, "losses") + ")"},
        {"queries", _T_count(aLine, "queries_sent") + " sent, " + _T_count(aLine, "replies") +
                        " replies, " + _T_count(aLine, "unanswered") + " unanswered"},
        {"verdict", MemberText(aLine, "verdict")},
    });
}

void _T_show_ports(ctl_output& aOutput, const ctl_json& aPorts)
{
    std::vector<std::vector<std::string>> rows = {
        {"port", "access", "client", "delivered", "dropped", "forwarded", "refused", "path"}};
    for (size_t i = 0; aPorts.is_array() && i < aPorts.size(); ++i)
    {
        const ctl_json& port = aPorts.at(i);
        rows.push_back({MemberText(port, "name"), MemberText(port, "access"),
                        Member(port, "client") == true ? "yes" : "no",
                        _T_count(port, "blocks_delivered"), _T_count(port, "blocks_dropped"),
                        _T_count(port, "queries_forwarded"), _T_count(port, "frames_refused"),
                        MemberText(port, "path")});
    }
    aOutput.line("");
    aOutput.rows(rows);
}

} // namespace

int RunStatus(const ctl_options& aOptions, ctl_output& aOutput)
{
    daemon_link link(ControlSocketPath(aOptions.words[0]));
    link.request(ctl_json{{"request", "status"}});
    ctl_json status = link.reply("status");
    status.erase("v");
    status.erase("reply");
    const ctl_json line = Member(status, "line");
    const bool lost = MemberText(line, "state") != "open";
    const std::string failure = "the line " + MemberText(line, "device") +
                                " is lost; vesk11d reopens it about once a second";
    if (lost && aOutput.json())
        throw UnavailableError(failure).withReport(status);
    if (aOutput.json())
        aOutput.emit(status);
    else
    {
        _T_show_line(aOutput, line);
        _T_show_ports(aOutput, Member(status, "ports"));
    }
    if (lost)
        throw UnavailableError(failure);
    return kEXIT_OK;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
