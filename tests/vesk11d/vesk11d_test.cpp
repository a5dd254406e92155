// vesk11d end to end: the real daemon between the real simulator and the real tools, one table of
// scenes. Every scene starts the line in odd settings with a stale link where the first port goes,
// waits for the daemon's readiness, lets its clients act, stops the daemon with a signal and then
// finds the line restored, the folder gone and the counters the scene must leave.
#include <atomic>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "block_decoder11.h"
#include "cli_child.hpp"
#include "transport_serial_types11.h"
#include "uat4/uat4.h"

namespace
{

using namespace vesk11_test;

const char* const kDOCUMENT = R"({"format": "vesk11-config/1", "sensor": {"hw_serial": 1},
  "parameters": {"param_x": 0.1, "param_y": -0.5, "speed_limit_2_max": 33.25}})";

// A client of a port that checks what it reads: whole intact blocks, status cycles without a gap.
class port_reader
{
  public:
    explicit port_reader(const std::string& aPath)
        : fd_(open(aPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        EXPECT_GE(fd_, 0) << aPath;
        BlockDecoder11__Init(&decoder_, &port_reader::take, this);
    }
    ~port_reader()
    {
        BlockDecoder11__Deinit(&decoder_);
        close(fd_);
    }
    // Reads until aCount more status blocks came (or *aStop is set); false past the watchdog.
    bool read_status(uint64_t aCount, const std::atomic<bool>* aStop = nullptr)
    {
        const uint64_t goal = statuses + aCount;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (statuses < goal && !(aStop != nullptr && *aStop))
        {
            if (std::chrono::steady_clock::now() > giveUp)
                return false;
            pollfd wait{fd_, POLLIN, 0};
            uint8_t bytes[4096];
            const ssize_t got = poll(&wait, 1, 100) > 0 ? read(fd_, bytes, sizeof bytes) : 0;
            if (got > 0)
                BlockDecoder11__AddBuffer(&decoder_, bytes, static_cast<size_t>(got));
        }
        garbage = BlockDecoder11__Discarded(&decoder_);
        return true;
    }
    int fd() const { return fd_; }

    uint64_t statuses = 0, damaged = 0, gaps = 0, garbage = 0;
    uint32_t first_cycle = 0, last_cycle = 0;

  private:
    static void take(void* aSelf, uint64_t, uint8_t aStat, uint16_t aIdent, void* aData,
                     uint8_t aSize)
    {
        auto* self = static_cast<port_reader*>(aSelf);
        const auto* data = static_cast<const uint8_t*>(aData);
        self->damaged += aStat == kBLOCKDECODER11_STAT_FINI_FAIL ? 1 : 0;
        if (aStat != kBLOCKDECODER11_STAT_MSG ||
            aIdent != Orvo::Support::Vesk11Sim::kSIM_STATUS_IDENT || aSize != 8 ||
            Uat4__GetU16le(data) != Orvo::Support::Vesk11Sim::kSIM_STATUS_UDT_INDEX)
            return;
        const uint32_t cycle = Uat4__GetU32le(data + 2);
        self->gaps += self->statuses > 0 && cycle != self->last_cycle + 1 ? 1 : 0;
        self->first_cycle = self->statuses++ == 0 ? cycle : self->first_cycle;
        self->last_cycle = cycle;
    }
    int fd_;
    block_decoder11_t decoder_{};
};

class scene;
struct daemon_case
{
    friend void PrintTo(const daemon_case& aCase, std::ostream* aOut) { *aOut << aCase.name; }
    const char* name;
    std::vector<std::string> ports;
    std::vector<std::string> sim; // more options of the simulator
    int stop_signal;
    std::function<void(scene&)> act;
    // "line COUNTER>N" or "port NAME COUNTER=N" on the daemon's closing report.
    std::vector<std::string> expect;
    // More options of the daemon: @PORT@ becomes a free loopback port, @DIR@ the scene's folder.
    std::vector<std::string> daemon_options = {};
};

class scene : public ::testing::TestWithParam<daemon_case>
{
  public:
    std::string port(const std::string& aName) const { return dir_ + "/run/sim/" + aName; }
    const std::string& line() const { return link_; }
    std::string dir() const { return dir_ + "/run"; }

    cli_result ctl(const std::string& aPort, const std::vector<std::string>& aArgs)
    {
        return run_cli(aArgs, ctl_env(aPort), nullptr, VESK11_CTL_BINARY);
    }
    std::vector<std::string> ctl_env(const std::string& aPath) const
    {
        return {"VESK11_CLI_ENDPOINT=" + aPath, "VESK11_RUNTIME_DIR=" + dir()};
    }
    std::string document() const { return dir_ + "/doc.json"; }

    void start_sim()
    {
        std::vector<std::string> args{"--link", link_, "--period", "2"};
        args.insert(args.end(), GetParam().sim.begin(), GetParam().sim.end());
        sim_ = std::make_unique<cli_child>(args, std::vector<std::string>{}, nullptr, -1,
                                           VESK11_SIM_BINARY);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (access(link_.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The line goes with the simulator: there are no settings left to find restored.
    void stop_sim()
    {
        kill(sim_->pid(), SIGTERM);
        EXPECT_EQ(sim_->wait().status, 0);
        close(line_fd_);
        line_fd_ = -1;
    }
    pid_t daemon_pid() const { return daemon_->pid(); }
    std::string control() const { return dir() + "/sim/control"; }
    std::string folder() const { return dir_; }
    int metrics_port() const { return metrics_port_; }
    // A loopback port free a moment ago.
    static int free_port()
    {
        const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(sock, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size);
        close(sock);
        return ntohs(address.sin_port);
    }

  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk11d-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        link_ = dir_ + "/sim";
        std::ofstream(document()) << kDOCUMENT;
        start_sim();
        line_fd_ = open(link_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(line_fd_, 0);
        ASSERT_EQ(tcgetattr(line_fd_, &settings_), 0);
        settings_.c_cflag |= CSTOPB;
        settings_.c_cc[VMIN] = 5;
        cfsetspeed(&settings_, B9600);
        ASSERT_EQ(tcsetattr(line_fd_, TCSANOW, &settings_), 0);
        ASSERT_EQ(mkdir(dir().c_str(), 0755), 0);
        ASSERT_EQ(mkdir((dir() + "/sim").c_str(), 0755), 0);
        ASSERT_EQ(
            symlink("/nonexistent",
                    port(GetParam().ports[0].substr(0, GetParam().ports[0].find(':'))).c_str()),
            0);
    }
    void TearDown() override
    {
        daemon_.reset();
        sim_.reset();
        if (line_fd_ >= 0)
            close(line_fd_);
        std::system(("rm -rf " + dir_).c_str());
    }

    // The daemon with NOTIFY_SOCKET: true once it said READY=1.
    bool start_daemon()
    {
        const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string notify = dir_ + "/notify";
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", notify.c_str());
        bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
        std::vector<std::string> args{"--device", link_, "--runtime-dir", dir()};
        for (const std::string& name : GetParam().ports)
            args.insert(args.end(), {"--port", name});
        for (std::string option : GetParam().daemon_options)
        {
            option = std::regex_replace(option, std::regex("@DIR@"), dir_);
            metrics_port_ =
                option.find("@PORT@") != std::string::npos ? free_port() : metrics_port_;
            args.push_back(
                std::regex_replace(option, std::regex("@PORT@"), std::to_string(metrics_port_)));
        }
        daemon_ = std::make_unique<cli_child>(
            args, std::vector<std::string>{"NOTIFY_SOCKET=" + notify}, nullptr, -1, VESK11D_BINARY);
        std::string said;
        for (pollfd wait{sock, POLLIN, 0}; said.find("READY=1") == std::string::npos &&
                                           poll(&wait, 1, static_cast<int>(within_ms(30000))) > 0;)
        {
            char text[512] = {};
            said += std::string(text, static_cast<size_t>(std::max<ssize_t>(
                                          0, recv(sock, text, sizeof text - 1, 0))));
        }
        close(sock);
        return said.find("READY=1") != std::string::npos;
    }

    std::unique_ptr<cli_child> daemon_;
    std::unique_ptr<cli_child> sim_;
    int line_fd_ = -1;
    termios settings_{};

  private:
    int metrics_port_ = 0;
    std::string dir_;
    std::string link_;
};

// The value of COUNTER on the report line that begins with aWhat ("line", "port a").
long long counter(const std::string& aReport, const std::string& aWhat, const std::string& aCounter)
{
    std::smatch found;
    const std::regex line("vesk11d: " + aWhat + " [^\n]*\\b" + aCounter + "=([0-9]+)");
    return std::regex_search(aReport, found, line) ? std::stoll(found[1]) : -1;
}

TEST_P(scene, serves_its_clients_and_stops_cleanly)
{
    ASSERT_TRUE(start_daemon());
    GetParam().act(*this);
    kill(daemon_->pid(), GetParam().stop_signal);
    const cli_result stopped = daemon_->wait();
    EXPECT_EQ(stopped.status, 0) << stopped.err;
    termios now{};
    if (line_fd_ >= 0)
    {
        ASSERT_EQ(tcgetattr(line_fd_, &now), 0);
        expect_same_line_settings(now, settings_);
        EXPECT_EQ(cfgetospeed(&now), B9600);
    }
    EXPECT_NE(access((dir() + "/sim").c_str(), F_OK), 0) << "the line's folder is left";
    const std::regex rule("(line|port [^ ]+) ([a-z_]+)([=>])([0-9]+)");
    for (const std::string& expect : GetParam().expect)
    {
        std::smatch part;
        ASSERT_TRUE(std::regex_match(expect, part, rule)) << expect;
        const long long value = counter(stopped.err, part[1], part[2]);
        const long long bound = std::stoll(part[4]);
        EXPECT_TRUE(part[3] == "=" ? value == bound : value > bound)
            << expect << ", found " << value << " in:\n"
            << stopped.err;
    }
}

using json = nlohmann::json;

bool before(std::chrono::steady_clock::time_point aGiveUp)
{
    return std::chrono::steady_clock::now() < aGiveUp;
}

std::chrono::steady_clock::time_point watchdog()
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms(60000));
}

// A client of a stream socket: text out, lines in.
class stream_client
{
  public:
    explicit stream_client(const std::string& aPath)
        : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", aPath.c_str());
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    explicit stream_client(int aPort) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(aPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~stream_client() { close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& aText)
    {
        EXPECT_EQ(write(fd_, aText.data(), aText.size()), static_cast<ssize_t>(aText.size()));
    }
    // Up to the next newline (without it), or all until the end when aWhole; "" at the end or
    // past the watchdog.
    std::string read(bool aWhole = false)
    {
        const auto giveUp = watchdog();
        size_t newline;
        while ((aWhole || (newline = in_.find('\n')) == std::string::npos) && before(giveUp))
        {
            pollfd wait{fd_, POLLIN, 0};
            char bytes[4096];
            const ssize_t got = poll(&wait, 1, 100) > 0 ? ::read(fd_, bytes, sizeof bytes) : -1;
            if (got == 0 && aWhole)
                return std::move(in_);
            if (got == 0)
                return "";
            in_.append(bytes, static_cast<size_t>(std::max<ssize_t>(got, 0)));
        }
        const std::string line = in_.substr(0, newline);
        in_.erase(0, newline + 1);
        return line;
    }
    json next()
    {
        const std::string line = read();
        return line.empty() ? json() : json::parse(line);
    }

  private:
    int fd_;
    bool connected_ = false;
    std::string in_;
};

// The control socket's mode, and whether its group is the line's.
std::pair<mode_t, bool> control_access(scene& aScene)
{
    struct stat socket
    {
    }, line{};
    EXPECT_EQ(stat(aScene.control().c_str(), &socket), 0);
    EXPECT_EQ(stat(aScene.line().c_str(), &line), 0);
    return {socket.st_mode & 07777, socket.st_gid == line.st_gid};
}

json status_of(scene& aScene)
{
    stream_client client(aScene.control());
    client.send("{\"request\": \"status\"}\n");
    return client.next();
}

// The status once the daemon saw aIntact intact blocks and its window spans aSeconds.
json status_after(scene& aScene, uint64_t aIntact, double aSeconds)
{
    json status;
    for (const auto giveUp = watchdog(); before(giveUp);)
    {
        status = status_of(aScene);
        if (status["line"]["blocks_intact"] >= aIntact &&
            status["line"]["window"]["duration_s"] >= aSeconds)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return status;
}

// Reads on a port in a thread of its own until told to stop.
struct background_reader
{
    explicit background_reader(const std::string& aPath)
        : reader(aPath), thread([this] { reader.read_status(~0ull >> 1, &stop); })
    {
    }
    ~background_reader()
    {
        stop = true;
        thread.join();
    }
    std::atomic<bool> stop{false};
    port_reader reader;
    std::thread thread;
};

void fan_out_reader_and_apply(scene& aScene)
{
    port_reader watcher(aScene.port("c"));
    ASSERT_TRUE(watcher.read_status(20));
    uint32_t seen = 0;
    {
        background_reader data(aScene.port("a"));
        seen = watcher.last_cycle;
        const cli_result apply = aScene.ctl(aScene.port("b"), {"apply", aScene.document()});
        EXPECT_EQ(apply.status, 0) << apply.err;
        data.stop = true;
        data.thread.join();
        data.thread = std::thread([] {});
        EXPECT_GT(data.reader.statuses, 0u);
        EXPECT_GT(data.reader.first_cycle, seen) << "a block older than the client reached it";
        EXPECT_EQ(data.reader.gaps + data.reader.damaged + data.reader.garbage, 0u);
    }
    const cli_result check = aScene.ctl(aScene.port("b"), {"apply", "--check", aScene.document()});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

void reader_that_never_reads(scene& aScene)
{
    const int stalled = open(aScene.port("a").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    port_reader live(aScene.port("b"));
    ASSERT_TRUE(live.read_status(3000));
    EXPECT_EQ(live.gaps + live.damaged + live.garbage, 0u);
    close(stalled);
}

void garbage_writer(scene& aScene)
{
    std::atomic<bool> stop{false};
    std::thread garbage(
        [&]
        {
            port_reader writer(aScene.port("a"));
            uint8_t noise[4096];
            for (size_t i = 0; i < sizeof noise; ++i)
                noise[i] = i % 7 == 0 ? kHEAD485_START_PATTERN : static_cast<uint8_t>(i * 131);
            while (!stop)
                (void)!write(writer.fd(), noise, sizeof noise);
        });
    // Another client opens its port, leaves half a query there and closes it, over and over.
    std::thread restless(
        [&]
        {
            uint8_t frame[kFRAME485_MAX_SIZE];
            const uat4_query_batch batch{};
            const size_t size = Block485__EncodeFrame(frame, sizeof frame, &batch, sizeof batch);
            while (!stop)
            {
                const int fd = open(aScene.port("c").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
                (void)!write(fd, frame, size / 2);
                close(fd);
            }
        });
    // And one that left its port echoing: every block comes back to the daemon as it went.
    port_reader echoing(aScene.port("d"));
    termios settings{};
    tcgetattr(echoing.fd(), &settings);
    settings.c_lflag = ECHO;
    ASSERT_EQ(tcsetattr(echoing.fd(), TCSANOW, &settings), 0);
    const cli_result get = aScene.ctl(aScene.port("b"), {"get", "param_x"});
    EXPECT_EQ(get.status, 0) << get.err;
    stop = true;
    garbage.join();
    restless.join();
}

void read_only_port(scene& aScene)
{
    const cli_result get = aScene.ctl(aScene.port("a"), {"get", "param_x", "-t", "50"});
    EXPECT_NE(get.status, 0);
    uat4_action_t action{};
    UatAction4__InitGetParamF32(&action, 2000, 50, 0, 0);
    uat4_query_batch batch{};
    UatAction4__EncodeQueryBatch(&batch, &action);
    uint8_t frame[kFRAME485_MAX_SIZE];
    port_reader client(aScene.port("a"));
    ASSERT_TRUE(client.read_status(1));
    EXPECT_GT(
        write(client.fd(), frame, Block485__EncodeFrame(frame, sizeof frame, &batch, sizeof batch)),
        0);
    ASSERT_TRUE(client.read_status(20));
}

void two_concurrent_applies(scene& aScene)
{
    cli_child first({"apply", aScene.document(), "--json"}, aScene.ctl_env(aScene.port("a")),
                    nullptr, -1, VESK11_CTL_BINARY);
    cli_child second({"apply", aScene.document(), "--json"}, aScene.ctl_env(aScene.port("b")),
                     nullptr, -1, VESK11_CTL_BINARY);
    for (cli_child* apply : {&first, &second})
    {
        const cli_result run = apply->wait();
        EXPECT_EQ(run.status, 0) << run.out << run.err;
    }
    const cli_result check = aScene.ctl(aScene.port("a"), {"apply", "--check", aScene.document()});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

void simulator_restarted(scene& aScene)
{
    port_reader kept(aScene.port("a"));
    ASSERT_TRUE(kept.read_status(10));
    aScene.stop_sim();
    cli_result lost;
    for (const auto giveUp = watchdog();
         lost.out.find("the stream stopped") == std::string::npos && before(giveUp);)
        lost = aScene.ctl("", {"status", aScene.control(), "--json"});
    EXPECT_EQ(lost.status, 69) << lost.out << lost.err;
    const json gone = json::parse(lost.out);
    EXPECT_EQ(gone["error"]["kind"], "unavailable");
    EXPECT_EQ(gone["line"]["state"], "lost");
    EXPECT_EQ(gone["line"]["losses"], 1);
    aScene.start_sim();
    const uint64_t before = kept.statuses;
    ASSERT_TRUE(kept.read_status(10));
    EXPECT_LT(kept.first_cycle + before, kept.last_cycle + 1) << "no block from the new simulator";
    const cli_result get = aScene.ctl(aScene.port("b"), {"get", "param_x"});
    EXPECT_EQ(get.status, 0) << get.err;
    const json back = status_of(aScene);
    EXPECT_EQ(back["line"]["state"], "open");
    EXPECT_EQ(back["line"]["reopens"], 1);
}

void locked_line(scene& aScene)
{
    const std::string hint = "held by vesk11d (pid " + std::to_string(aScene.daemon_pid()) +
                             "); use its port " + aScene.port("rw");
    const cli_result ctl = aScene.ctl(aScene.line(), {"info"});
    EXPECT_EQ(ctl.status, 69);
    EXPECT_NE(ctl.err.find(hint), std::string::npos) << ctl.err;
    std::vector<std::string> env = aScene.ctl_env(aScene.line());
    env.push_back("VESK11_CLI_TOUT=200");
    const cli_result cli = run_cli({"get-param-f32", "--group=2000", "--id=50"}, env);
    EXPECT_EQ(cli.out, "FAIL\n");
    EXPECT_TRUE(
        has_record(cli.log, 1, "enter", "fail: " + aScene.line() + " " + hint + " instead"));
    const cli_result second =
        run_cli({"--device", aScene.line(), "--runtime-dir", aScene.dir() + "/2"},
                aScene.ctl_env(""), nullptr, VESK11D_BINARY);
    EXPECT_EQ(second.status, 69);
    EXPECT_NE(second.err.find(hint), std::string::npos) << second.err;
}

// The verdict the line earns from what the simulator sends, in JSON and for a person by name. A
// loaded machine may pause the simulator past the rule's gap: healthy then reads as a pause.
std::function<void(scene&)> verdict_is(const std::string& aVerdict, uint64_t aIntact)
{
    return [aVerdict, aIntact](scene& aScene)
    {
        const json status = status_after(aScene, aIntact, 1.0);
        const bool paused = status["line"]["window"]["longest_silence_ms"].get<double>() > 100.0;
        const std::regex verdict(aVerdict == "healthy" && paused ? "stream stopped|apart"
                                                                 : aVerdict);
        EXPECT_TRUE(std::regex_search(status["line"]["verdict"].get<std::string>(), verdict))
            << status.dump();
        const cli_result text = aScene.ctl("", {"status", "sim"});
        EXPECT_EQ(text.status, 0) << text.err;
        const size_t row = text.out.find("\nverdict ");
        EXPECT_TRUE(
            row != std::string::npos &&
            std::regex_search(text.out.substr(row, text.out.find('\n', row + 1) - row), verdict))
            << text.out;
        EXPECT_TRUE(std::regex_search(text.out, std::regex("\nport +access +client")));
    };
}

// The status message's cycle in a block object; -1 when it has none.
long long cycle_of(const json& aBlock)
{
    for (const json& message : aBlock["messages"])
    {
        const std::string hex = message["data"].get<std::string>();
        std::vector<uint8_t> bytes;
        for (size_t at = 0; at + 2 <= hex.size(); at += 3)
            bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(at, 2), nullptr, 16)));
        if (message["ident"] == Orvo::Support::Vesk11Sim::kSIM_STATUS_IDENT && bytes.size() == 8 &&
            Uat4__GetU16le(bytes.data()) == Orvo::Support::Vesk11Sim::kSIM_STATUS_UDT_INDEX)
            return Uat4__GetU32le(bytes.data() + 2);
    }
    return -1;
}

// Every block between two status replies on one connection, whole and in order, and the
// counters grown by exactly as many; monitor through the socket prints the same objects.
void subscription_counts_every_block(scene& aScene)
{
    stream_client client(aScene.control());
    client.send("{\"request\": \"status\"}\n{\"request\": \"subscribe\", \"hex\": true}\n");
    const json first = client.next();
    ASSERT_EQ(client.next()["reply"], "subscribe");
    const std::set<std::string> keys{"t_ms", "ok", "body_size", "messages", "frame"};
    uint64_t blocks = 0, gaps = 0;
    double lastMs = -1;
    long long lastCycle = -1;
    json block;
    for (bool asked = false; (block = client.next()).contains("t_ms");)
    {
        std::set<std::string> found;
        for (const auto& item : block.items())
            found.insert(item.key());
        EXPECT_EQ(found, keys) << block.dump();
        EXPECT_TRUE(block["ok"].get<bool>()) << block.dump();
        EXPECT_GT(block["t_ms"].get<double>(), lastMs);
        lastMs = block["t_ms"].get<double>();
        gaps += lastCycle >= 0 && cycle_of(block) != lastCycle + 1 ? 1u : 0u;
        lastCycle = cycle_of(block);
        if (++blocks == 200 && !asked)
            client.send("{\"request\": \"status\"}\n");
        asked = asked || blocks == 200;
    }
    ASSERT_EQ(block["reply"], "status") << block.dump();
    EXPECT_EQ(gaps, 0u);
    EXPECT_EQ(block["line"]["blocks_intact"].get<uint64_t>() -
                  first["line"]["blocks_intact"].get<uint64_t>(),
              blocks);
    EXPECT_EQ(block["control"]["subscribers"], 1);
    EXPECT_EQ(control_access(aScene), std::make_pair(mode_t{0660}, true));
    const cli_result monitor =
        aScene.ctl(aScene.control(), {"monitor", "--count", "5", "--json", "--hex"});
    EXPECT_EQ(monitor.status, 0) << monitor.err;
    std::vector<json> printed;
    for (size_t at = 0, end; (end = monitor.out.find('\n', at)) != std::string::npos; at = end + 1)
        printed.push_back(json::parse(monitor.out.substr(at, end - at)));
    ASSERT_EQ(printed.size(), 6u) << monitor.out;
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(printed[i].size(), keys.size()) << printed[i].dump();
    EXPECT_EQ(printed[5]["summary"]["intact"], 5) << monitor.out;
}

struct bad_request
{
    std::string text;
    const char* kind;
};

// Each gets its error object, and the connection still answers.
void bad_requests(scene& aScene)
{
    const bad_request kBAD[] = {
        {"nonsense", "malformed"},
        {"[1, 2]", "malformed"},
        {"{}", "malformed"},
        {R"({"request": "reboot"})", "unknown_request"},
        {R"({"request": "status", "v": 2})", "version"},
        {R"({"request": "subscribe", "hex": 1})", "malformed"},
        {"{\"request\": \"" + std::string(5000, 'x') + "\"}", "too_long"},
    };
    stream_client client(aScene.control());
    for (const bad_request& request : kBAD)
    {
        client.send(request.text + "\n");
        const json reply = client.next();
        EXPECT_EQ(reply["v"], 1);
        EXPECT_EQ(reply["error"]["kind"], request.kind) << request.text.substr(0, 40);
    }
    client.send("{\"request\": \"status\", \"v\": 1}\n");
    EXPECT_EQ(client.next()["reply"], "status");
    EXPECT_EQ(control_access(aScene), std::make_pair(mode_t{0640}, true));
    const cli_result nobody = aScene.ctl("", {"status", "no-such-line"});
    EXPECT_EQ(nobody.status, 69) << nobody.err;
}

// Its replies pile up until it is dropped; a port's reader misses nothing meanwhile.
void subscriber_that_never_reads(scene& aScene)
{
    stream_client stalled(aScene.control());
    stalled.send("{\"request\": \"subscribe\", \"hex\": true}\n");
    port_reader live(aScene.port("a"));
    json status;
    for (const auto giveUp = watchdog(); before(giveUp) && status["control"]["dropped"] != 1;)
    {
        ASSERT_TRUE(live.read_status(50));
        status = status_of(aScene);
    }
    EXPECT_EQ(status["control"]["dropped"], 1) << status.dump();
    EXPECT_EQ(status["control"]["subscribers"], 0);
    EXPECT_EQ(live.gaps + live.damaged + live.garbage, 0u);
    EXPECT_FALSE(stalled.read(true).empty()) << "the daemon closed the connection";
}

std::string http_get(int aPort)
{
    stream_client client(aPort);
    client.send("GET /metrics HTTP/1.0\r\n\r\n");
    return client.connected() ? client.read(true) : "";
}

cli_result promtool_check(const std::string& aText, const std::string& aFolder)
{
    const std::string path = aFolder + "/checked.txt";
    std::ofstream(path) << aText;
    return run_cli({"-c", "promtool check metrics < " + path}, {}, nullptr, "/bin/sh");
}

// A scrape, the same text in the file, both passing promtool; the node exporter's textfile
// collector serving the file; a scrape storm while an apply runs through a port, unharmed.
void metrics_scraped(scene& aScene)
{
    const std::string scraped = http_get(aScene.metrics_port());
    EXPECT_EQ(scraped.rfind("HTTP/1.", 0), 0u);
    EXPECT_NE(scraped.find(" 200 "), std::string::npos) << scraped.substr(0, 200);
    const std::string body = scraped.substr(scraped.find("\r\n\r\n") + 4);
    EXPECT_NE(body.find("vesk11d_line_up{line=\"sim\"} 1\n"), std::string::npos) << body;
    const std::string written = read_file(aScene.folder() + "/vesk11d.prom");
    for (const std::string& text : {body, written})
    {
        const cli_result check = promtool_check(text, aScene.folder());
        EXPECT_EQ(check.status, 0) << check.out << check.err;
    }
    const int exporterPort = scene::free_port();
    const std::string exporter = "127.0.0.1:" + std::to_string(exporterPort);
    cli_child collector({"--web.listen-address=" + exporter, "--collector.disable-defaults",
                         "--collector.textfile",
                         "--collector.textfile.directory=" + aScene.folder()},
                        {}, nullptr, -1, "/usr/bin/prometheus-node-exporter");
    std::string served;
    for (const auto giveUp = watchdog();
         served.find("vesk11d_line_up{line=\"sim\"} 1") == std::string::npos && before(giveUp);)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        served = http_get(exporterPort);
    }
    EXPECT_NE(served.find("vesk11d_line_blocks_total{line=\"sim\",result=\"intact\"}"),
              std::string::npos)
        << served;
    std::atomic<bool> applied{false};
    std::atomic<int> scrapes{0}, failed{0};
    std::vector<std::thread> storm;
    for (int i = 0; i < 2; ++i)
        storm.emplace_back(
            [&]
            {
                for (int n = 0; n < 5000 && !applied; ++n, ++scrapes)
                    failed += http_get(aScene.metrics_port()).find(" 200 ") == std::string::npos;
            });
    const cli_result apply = aScene.ctl(aScene.port("a"), {"apply", aScene.document()});
    applied = true;
    for (std::thread& thread : storm)
        thread.join();
    EXPECT_EQ(apply.status, 0) << apply.err;
    EXPECT_GT(scrapes, 2);
    EXPECT_EQ(failed, 0);
    const cli_result check = aScene.ctl(aScene.port("a"), {"apply", "--check", aScene.document()});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

// clang-format off
// name, ports, simulator options, stop signal, what the clients do, the counters it leaves.
const daemon_case kCASES[] = {
    {"fan_out_to_a_reader_and_an_apply", {"a", "b", "c:ro"}, {}, SIGTERM, fan_out_reader_and_apply,
     {"port a blocks_dropped=0", "port b queries_forwarded>2", "line queries_sent>2"}},
    {"a_reader_that_never_reads", {"a", "b"}, {}, SIGINT, reader_that_never_reads,
     {"port a blocks_dropped>0", "port b blocks_dropped=0"}},
    {"a_garbage_writer_a_restless_client_and_an_echo", {"a", "b", "c", "d"}, {}, SIGHUP, garbage_writer,
     {"port a garbage_bytes>0", "port a queries_forwarded=0", "port b queries_forwarded>0",
      "port c queries_forwarded=0", "port d frames_rejected>0", "port d queries_forwarded=0"}},
    {"a_read_only_port", {"a:ro"}, {}, SIGTERM, read_only_port,
     {"port a ignored_bytes>0", "line queries_sent=0"}},
    {"two_concurrent_applies", {"a", "b"}, {"--reply-delay", "2"}, SIGTERM, two_concurrent_applies,
     {"port a queries_forwarded>1", "port b queries_forwarded>1", "line unanswered=0"}},
    {"the_simulator_restarted_on_its_link", {"a", "b"}, {}, SIGTERM, simulator_restarted,
     {"line losses=1", "line opens=2"}},
    {"the_locked_line_names_the_port", {"ro:ro", "rw"}, {}, SIGTERM, locked_line, {"line opens=1"}},
    {"status_healthy", {"a"}, {"--period", "20"}, SIGTERM, verdict_is("healthy", 50), {}},
    {"status_garbage", {"a"}, {"--noise"}, SIGTERM, verdict_is("bytes between blocks", 50), {}},
    {"status_damaged", {"a"}, {"--bad-crc", "2500"}, SIGTERM, verdict_is("% damaged", 1), {}},
    {"status_no_intact_block", {"a"}, {"--bad-crc", "100000000"}, SIGTERM,
     verdict_is("every block's body is damaged", 0), {}},
    {"status_no_blocks", {"a"}, {"--silent"}, SIGTERM, verdict_is("no blocks", 0), {}},
    {"a_subscription_counts_every_block", {"a"}, {}, SIGTERM, subscription_counts_every_block,
     {"line blocks_damaged=0"}},
    {"bad_requests_on_the_control_socket", {"a"}, {}, SIGTERM, bad_requests, {"line opens=1"},
     {"--control-mode", "0640"}},
    {"a_subscriber_that_never_reads", {"a"}, {}, SIGTERM, subscriber_that_never_reads,
     {"port a blocks_dropped=0"}},
    {"metrics_scraped_during_an_apply", {"a"}, {}, SIGTERM, metrics_scraped,
     {"port a queries_forwarded>2", "line unanswered=0", "port a blocks_dropped=0"},
     {"--metrics-listen", "127.0.0.1:@PORT@", "--metrics-file", "@DIR@/vesk11d.prom"}},
};

// clang-format on
INSTANTIATE_TEST_SUITE_P(vesk11d, scene, ::testing::ValuesIn(kCASES),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

} // namespace
