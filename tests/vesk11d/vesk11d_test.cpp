// vesk11d end to end: the real daemon between the real simulator and the real tools, one table of
// scenes. Every scene starts the line in odd settings with a stale link where the first port goes,
// waits for the daemon's readiness, lets its clients act, stops the daemon with a signal and then
// finds the line restored, the folder gone and the counters the scene must leave.
#include <atomic>
#include <functional>
#include <regex>
#include <thread>

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
    int stop_signal;
    std::function<void(scene&)> act;
    // "line COUNTER>N" or "port NAME COUNTER=N" on the daemon's closing report.
    std::vector<std::string> expect;
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
        sim_ =
            std::make_unique<cli_child>(std::vector<std::string>{"--link", link_, "--period", "2"},
                                        std::vector<std::string>{}, nullptr, -1, VESK11_SIM_BINARY);
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
    const cli_result get = aScene.ctl(aScene.port("b"), {"get", "param_x"});
    EXPECT_EQ(get.status, 0) << get.err;
    stop = true;
    garbage.join();
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
}

void simulator_restarted(scene& aScene)
{
    port_reader kept(aScene.port("a"));
    ASSERT_TRUE(kept.read_status(10));
    aScene.stop_sim();
    aScene.start_sim();
    const uint64_t before = kept.statuses;
    ASSERT_TRUE(kept.read_status(10));
    EXPECT_LT(kept.first_cycle + before, kept.last_cycle + 1) << "no block from the new simulator";
    const cli_result get = aScene.ctl(aScene.port("b"), {"get", "param_x"});
    EXPECT_EQ(get.status, 0) << get.err;
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

const daemon_case kCASES[] = {
    {"fan_out_to_a_reader_and_an_apply",
     {"a", "b", "c:ro"},
     SIGTERM,
     fan_out_reader_and_apply,
     {"port a blocks_dropped=0", "port b queries_forwarded>2", "line queries_sent>2"}},
    {"a_reader_that_never_reads",
     {"a", "b"},
     SIGINT,
     reader_that_never_reads,
     {"port a blocks_dropped>0", "port b blocks_dropped=0"}},
    {"a_garbage_writer",
     {"a", "b"},
     SIGHUP,
     garbage_writer,
     {"port a garbage_bytes>0", "port a queries_forwarded=0", "port b queries_forwarded>0"}},
    {"a_read_only_port",
     {"a:ro"},
     SIGTERM,
     read_only_port,
     {"port a ignored_bytes>0", "line queries_sent=0"}},
    {"two_concurrent_applies",
     {"a", "b"},
     SIGTERM,
     two_concurrent_applies,
     {"port a queries_forwarded>3", "port b queries_forwarded>3", "line unanswered=0"}},
    {"the_simulator_restarted_on_its_link",
     {"a", "b"},
     SIGTERM,
     simulator_restarted,
     {"line losses=1", "line opens=2"}},
    {"the_locked_line_names_the_port", {"ro:ro", "rw"}, SIGTERM, locked_line, {"line opens=1"}},
};

INSTANTIATE_TEST_SUITE_P(vesk11d, scene, ::testing::ValuesIn(kCASES),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

} // namespace
