#include "metrics_text.hpp"

#include <cstdio>

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

// Line and port names are plain names (letters, digits, . _ - @): no label value needs escaping.
class exposition
{
  public:
    explicit exposition(const std::string& aLine) : line_("line=\"" + aLine + "\"") {}

    void head(const char* aName, const char* aType, const char* aHelp)
    {
        text_ +=
            std::string("# HELP ") + aName + " " + aHelp + "\n# TYPE " + aName + " " + aType + "\n";
    }
    void sample(const std::string& aName, const std::string& aLabels, const std::string& aValue)
    {
        text_ +=
            aName + "{" + line_ + (aLabels.empty() ? "" : "," + aLabels) + "} " + aValue + "\n";
    }
    void one(const char* aName, const char* aType, const char* aHelp, const std::string& aValue)
    {
        head(aName, aType, aHelp);
        sample(aName, "", aValue);
    }
    const std::string& text() const { return text_; }

  private:
    std::string line_;
    std::string text_;
};

std::string _T_number(uint64_t aValue)
{
    return std::to_string(aValue);
}

std::string _T_number(double aValue)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", aValue);
    return text;
}

// Seconds with milliseconds, from microseconds (none negative).
std::string _T_seconds(int64_t aUs)
{
    return std::to_string(aUs / 1000000) + "." +
           std::to_string(1000 + aUs % 1000000 / 1000).substr(1);
}

void _T_line(exposition& aOut, const metrics_snapshot& aSnap)
{
    const line_stats& line = aSnap.stats;
    aOut.one("vesk11d_line_up", "gauge",
             "1 while the daemon holds the line open, 0 while it is lost", line.open ? "1" : "0");
    aOut.head("vesk11d_line_blocks_total", "counter",
              "Blocks the sensor sent, by result: intact, damaged (bad body checksum), too_long "
              "(not copied)");
    aOut.sample("vesk11d_line_blocks_total", "result=\"intact\"", _T_number(line.blocks_intact));
    aOut.sample("vesk11d_line_blocks_total", "result=\"damaged\"", _T_number(line.blocks_damaged));
    aOut.sample("vesk11d_line_blocks_total", "result=\"too_long\"",
                _T_number(line.blocks_too_long));
    aOut.one("vesk11d_line_garbage_bytes_total", "counter", "Bytes of the line between blocks",
             _T_number(line.garbage_bytes));
    aOut.one("vesk11d_line_last_intact_block_timestamp_seconds", "gauge",
             "Time of the last intact block, seconds since the epoch; 0 before the first",
             _T_seconds(aSnap.last_intact_wall_us));
    aOut.one("vesk11d_line_reopens_total", "counter", "Opens of the device after the first",
             _T_number(line.opens != 0 ? line.opens - 1 : 0));
    aOut.one("vesk11d_line_losses_total", "counter",
             "Times the device went away (end of input, hang-up, I/O error)",
             _T_number(line.losses));
    aOut.one("vesk11d_line_queries_sent_total", "counter", "Query frames sent on the line",
             _T_number(line.queries_sent));
    aOut.one("vesk11d_line_replies_total", "counter", "Intact blocks carrying a reply",
             _T_number(line.replies));
    aOut.one("vesk11d_line_queries_unanswered_total", "counter",
             "Queries sent whose reply did not come within the blocks waited",
             _T_number(line.unanswered));
    aOut.one("vesk11d_line_echoes_total", "counter",
             "Intact blocks equal to the query just sent (an echoing adapter)",
             _T_number(line.echoes));
    aOut.one("vesk11d_line_write_errors_total", "counter", "Query writes that failed",
             _T_number(line.write_errors));
}

void _T_periods(exposition& aOut, const metrics_snapshot& aSnap)
{
    const char* name = "vesk11d_line_block_period_seconds";
    aOut.head(name, "histogram", "Time from one block of the sensor to the next");
    uint64_t below = 0;
    for (size_t i = 0; i < kPERIOD_BUCKETS_S.size(); ++i)
    {
        below += aSnap.periods.counts[i];
        aOut.sample(std::string(name) + "_bucket", "le=\"" + _T_number(kPERIOD_BUCKETS_S[i]) + "\"",
                    _T_number(below));
    }
    aOut.sample(std::string(name) + "_bucket", "le=\"+Inf\"", _T_number(aSnap.periods.count));
    aOut.sample(std::string(name) + "_sum", "", _T_number(aSnap.periods.sum_s));
    aOut.sample(std::string(name) + "_count", "", _T_number(aSnap.periods.count));
}

struct port_metric
{
    const char* name;
    const char* type;
    const char* help;
    uint64_t (*value)(const port_stats& aStats);
};

// clang-format off
const port_metric kPORT_METRICS[] = {
    {"vesk11d_port_client_connected", "gauge", "1 while a client has the port open",
     [](const port_stats& aStats) -> uint64_t { return aStats.attached ? 1 : 0; }},
    {"vesk11d_port_clients_total", "counter", "Times a client opened the port",
     [](const port_stats& aStats) { return aStats.clients; }},
    {"vesk11d_port_blocks_delivered_total", "counter", "Blocks queued for the port's client",
     [](const port_stats& aStats) { return aStats.blocks_copied; }},
    {"vesk11d_port_blocks_dropped_total", "counter",
     "Blocks lost whole because the port's client fell behind",
     [](const port_stats& aStats) { return aStats.blocks_dropped; }},
    {"vesk11d_port_replies_withheld_total", "counter",
     "Replies kept from the client because its own query still waited",
     [](const port_stats& aStats) { return aStats.replies_withheld; }},
    {"vesk11d_port_queries_forwarded_total", "counter", "The client's queries sent on the line",
     [](const port_stats& aStats) { return aStats.queries_forwarded; }},
    {"vesk11d_port_queries_refused_total", "counter",
     "Frames the client wrote that are not one well-formed query batch",
     [](const port_stats& aStats) { return aStats.frames_rejected; }},
    {"vesk11d_port_queries_replaced_total", "counter",
     "Pending queries replaced by a newer one of the same port",
     [](const port_stats& aStats) { return aStats.queries_replaced; }},
    {"vesk11d_port_queries_lost_total", "counter",
     "Pending queries dropped because the line was lost or the client left",
     [](const port_stats& aStats) { return aStats.queries_lost; }},
    {"vesk11d_port_garbage_bytes_total", "counter", "Bytes the client wrote that belong to no frame",
     [](const port_stats& aStats) { return aStats.garbage_bytes; }},
    {"vesk11d_port_ignored_bytes_total", "counter", "Bytes written to a read-only port",
     [](const port_stats& aStats) { return aStats.ignored_bytes; }},
};
// clang-format on

void _T_ports(exposition& aOut, const metrics_snapshot& aSnap)
{
    for (const port_metric& metric : kPORT_METRICS)
    {
        aOut.head(metric.name, metric.type, metric.help);
        for (const port_snapshot& port : aSnap.ports)
            aOut.sample(metric.name, "port=\"" + port.name + "\"",
                        _T_number(metric.value(port.stats)));
    }
}

void _T_daemon(exposition& aOut, const metrics_snapshot& aSnap)
{
    aOut.one("vesk11d_control_clients", "gauge", "Clients connected to the control socket",
             _T_number(static_cast<uint64_t>(aSnap.control.connected)));
    aOut.one("vesk11d_control_clients_dropped_total", "counter",
             "Control socket clients dropped because they did not read their replies",
             _T_number(aSnap.control.dropped));
    aOut.one("vesk11d_start_time_seconds", "gauge",
             "Start time of the daemon, seconds since the epoch", _T_seconds(aSnap.start_wall_us));
    aOut.head("vesk11d_build_info", "gauge", "The daemon's version, in its label; always 1");
    aOut.sample("vesk11d_build_info", "version=\"" VESK11_VERSION "\"", "1");
}

} // namespace

std::string MetricsText(const metrics_snapshot& aSnapshot)
{
    exposition out(aSnapshot.line);
    _T_line(out, aSnapshot);
    _T_periods(out, aSnapshot);
    _T_ports(out, aSnapshot);
    _T_daemon(out, aSnapshot);
    return out.text();
}

void metrics_board::publish(const metrics_snapshot& aSnapshot)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    snapshot_ = aSnapshot;
    ++version_;
}

std::string metrics_board::text() const
{
    metrics_snapshot copy;
    uint64_t version = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (text_version_ == version_)
            return text_;
        copy = snapshot_;
        version = version_;
    }
    std::string text = MetricsText(copy);
    const std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
    text_version_ = version;
    return text;
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
