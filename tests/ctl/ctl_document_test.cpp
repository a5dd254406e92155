// The configuration document, names and values of vesk11-ctl, in-process: what is refused and
// why, and floats that come back with their very bits.
#include <cfloat>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "cli_child.hpp"
#include "ctl_document.hpp"
#include "ctl_error.hpp"
#include "ctl_file.hpp"
#include "ctl_names.hpp"
#include "ctl_output.hpp"
#include "ctl_value.hpp"
#include "pty_pair.hpp"
#include "uat4/types.h"

namespace
{

using namespace Orvo::Support::Vesk11Ctl;

std::string _T_doc(const std::string& aParameters)
{
    return "{\"format\": \"vesk11-config/1\", \"parameters\": {" + aParameters + "}}";
}

std::string _T_refusal(const std::string& aText)
{
    try
    {
        DocumentRead(aText);
    }
    catch (const ctl_error& x)
    {
        EXPECT_EQ(x.status(), kEXIT_DATAERR);
        EXPECT_EQ(x.kind(), error_kind::document);
        return x.message();
    }
    return "(accepted)";
}

struct refused_document
{
    std::string text;
    std::string message;
};

// Every document error names the key (or the position) and the reason.
TEST(ctl_document, bad_documents_are_refused_with_key_and_reason)
{
    const std::string deep = "{\"format\": \"vesk11-config/1\", \"parameters\": {}, \"sensor\": " +
                             std::string(20, '[') + std::string(20, ']') + "}";
    // clang-format off
    const std::vector<refused_document> cases = {
        {"", "syntax error at line 1, column 1: syntax error while parsing value - unexpected end of input"},
        {"{\n  \"format\": \"vesk11-config/1\",\n  \"parameters\": {\"param_x\": 1,,}}",
         "syntax error at line 3, column 31: syntax error while parsing object key"},
        {"{\"format\": \"vesk11-config/1\", \"parameters\": {\"param_x\": NaN}}",
         "syntax error at line 1, column 57: syntax error while parsing value - invalid literal"},
        {"{\"format\": \"vesk11-config/1\", \"sensor\": {\"a\": \"\xff\"}, \"parameters\": {}}",
         "syntax error at line 1, column 48"},
        {"[]", "the document is not a JSON object"},
        {"{\"parameters\": {}}", "missing key \"format\" (\"vesk11-config/1\")"},
        {"{\"format\": 1, \"parameters\": {}}", "key \"format\": a string is expected"},
        {"{\"format\": \"vesk11-config/2\", \"parameters\": {}}",
         "key \"format\": unknown version 'vesk11-config/2': this program reads vesk11-config/1"},
        {"{\"format\": \"json\", \"parameters\": {}}", "key \"format\": 'json' is not a vesk11-config format"},
        {"{\"format\": \"vesk11-config/1\"}", "missing key \"parameters\""},
        {"{\"format\": \"vesk11-config/1\", \"parameters\": []}", "key \"parameters\": an object is expected"},
        {"{\"format\": \"vesk11-config/1\", \"sensor\": 3, \"parameters\": {}}", "key \"sensor\": an object is expected"},
        {"{\"format\": \"vesk11-config/1\", \"comment\": \"\", \"parameters\": {}}",
         "key \"comment\": unknown key (known: format, sensor, parameters)"},
        {deep, "nesting deeper than 16 levels"},
        {_T_doc("\"param_q\": 1"), "key \"parameters.param_q\": unknown name 'param_q' (did you mean 'param_x'?)"},
        {_T_doc("\"hw_serial\": 1"), "key \"parameters.hw_serial\": a status value, which cannot be written"},
        {_T_doc("\"reboot\": 1"), "key \"parameters.reboot\": a command, not a parameter"},
        {_T_doc("\"param_x\": \"0.5\""), "key \"parameters.param_x\": a number is expected"},
        {_T_doc("\"param_x\": null"), "key \"parameters.param_x\": a number is expected"},
        {_T_doc("\"power_mode\": 1.5"), "key \"parameters.power_mode\" at line 1, column 60: 1.5: an integer is expected, not a fraction"},
        {_T_doc("\"power_mode\": 1.0"), "key \"parameters.power_mode\" at line 1, column 60: 1.0: an integer is expected, not a fraction"},
        {_T_doc("\"power_mode\": true"), "key \"parameters.power_mode\": a number is expected"},
        {_T_doc("\"power_mode\": 2147483648"), "key \"parameters.power_mode\" at line 1, column 60: 2147483648: out of the range of a 32-bit integer"},
        {_T_doc("\"power_mode\": -2147483649"), "key \"parameters.power_mode\" at line 1, column 60: -2147483649: out of the range"},
        {_T_doc("\"power_mode\": 18446744073709551615"), "key \"parameters.power_mode\" at line 1, column 60: 18446744073709551615: out of the range"},
        {_T_doc("\"power_mode\": 99999999999999999999999"), "key \"parameters.power_mode\" at line 1, column 60: 99999999999999999999999: out of the range"},
        {_T_doc("\"power_mode\": \"inf\""), "key \"parameters.power_mode\": a number is expected"},
        {_T_doc("\"param_x\": 1e39"), "key \"parameters.param_x\" at line 1, column 57: 1e39: out of the range of a float"},
        {_T_doc("\"param_x\": 0.5,\n \"param_y\": -1e999"), "key \"parameters.param_y\" at line 2, column 13: -1e999: out of the range of a float"},
        {_T_doc("\"param_x\": 1e-50"), "key \"parameters.param_x\" at line 1, column 57: 1e-50: too small for a float: it would become 0"},
        {_T_doc("\"param_x\": -0.00000e-999"), "(accepted)"},
        {_T_doc("\"param_x\": -9223372036854775809"), "key \"parameters.param_x\" at line 1, column 57: -9223372036854775809: not exactly a float"},
        {_T_doc("\"param_x\": \"nan\""), "key \"parameters.param_x\": a number is expected (or \"inf\", \"-inf\", \"nan:0x\" and 8 hex digits)"},
        {_T_doc("\"param_x\": \"nan:0x7F800000\""), "key \"parameters.param_x\": a number is expected"},
        {_T_doc("\"param_x\": \"nan:0x7FC0000\""), "key \"parameters.param_x\": a number is expected"},
        {_T_doc("\"param_x\": \"Inf\""), "key \"parameters.param_x\": a number is expected"},
        {_T_doc("") + std::string("\0", 1) + "garbage", "syntax error at line 1, column 48: a NUL byte"},
        {_T_doc("") + " x", "syntax error at line 1, column 49: syntax error while parsing value - invalid literal"},
        {_T_doc("\"param_x\": 16777217"), "key \"parameters.param_x\" at line 1, column 57: 16777217: not exactly a float"},
        {_T_doc("\"param_x\": 9223372036854775807"), "key \"parameters.param_x\" at line 1, column 57: 9223372036854775807: not exactly a float"},
        {_T_doc("\"param_x\": 18446744073709551615"), "key \"parameters.param_x\" at line 1, column 57: 18446744073709551615: not exactly a float"},
        {_T_doc("\"param_x\": 1, \"param_x\": 2"), "key \"param_x\": given twice"},
        {_T_doc("\"param_x\": 1, \"2000/50\": 2"), "key \"parameters.2000/50\": names 2000/50 again, given once already"},
        {_T_doc("\"2000/77\": 1"), "key \"parameters.2000/77\": '2000/77' is not in the catalogue: give its type, 2000/77:f32 or 2000/77:i32"},
        {_T_doc("\"2000/450:f32\": 1"), "key \"parameters.2000/450:f32\": '2000/450:f32': speed_limit_enable is i32"},
        {_T_doc("\"2003/77:i32\": 1"), "key \"parameters.2003/77:i32\": a status value, which cannot be written"},
        {_T_doc("\"2000/x\": 1"), "key \"parameters.2000/x\": '2000/x': GROUP/ID wants two numbers from 0 to 65535"},
        {_T_doc("\"2000/65536:i32\": 1"), "key \"parameters.2000/65536:i32\": '2000/65536:i32': GROUP/ID wants two numbers from 0 to 65535"},
        {_T_doc("\"2000/77:u8\": 1"), "key \"parameters.2000/77:u8\": '2000/77:u8': the type after ':' is i32 or f32"},
        {std::string(kDOCUMENT_MAX_SIZE + 1, ' '), "larger than 1048576 bytes"},
    };
    // clang-format on
    for (const refused_document& refused : cases)
    {
        SCOPED_TRACE(refused.text.substr(0, 120));
        const std::string message = _T_refusal(refused.text);
        EXPECT_EQ(message.substr(0, refused.message.size()), refused.message) << message;
    }
}

TEST(ctl_document, accepted_document_keeps_order_values_and_types)
{
    const config_document document = DocumentRead(
        "{\"format\": \"vesk11-config/1\", \"sensor\": {\"hw_serial\": 5, \"x\": [1, {}]},\n"
        " \"parameters\": {\"power_mode\": 0, \"param_x\": -0.0, \"2000/456\": 12.5,\n"
        " \"2000/77:f32\": 3, \"param_y\": -16777216, \"speed_limit_enable\": -2147483648,\n"
        " \"2000/78:f32\": -9223372036854775808, \"2000/79:f32\": \"nan:0xffc00001\"}}");
    EXPECT_EQ(document.sensor["hw_serial"], 5);
    struct expected_entry
    {
        const char* name;
        uint16_t array;
        uint32_t bits;
    };
    const expected_entry expected[] = {
        {"power_mode", 104, 0},
        {"param_x", 50, 0x80000000},
        {"speed_limit_3_max", 456, Uat4__F32ToBits(12.5F)},
        {"2000/77:f32", 77, Uat4__F32ToBits(3.0F)},
        {"param_y", 51, Uat4__F32ToBits(-16777216.0F)},
        {"speed_limit_enable", 450, 0x80000000},
        {"2000/78:f32", 78, 0xDF000000},
        {"2000/79:f32", 79, 0xFFC00001},
    };
    ASSERT_EQ(document.parameters.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < document.parameters.size(); ++i)
    {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(document.parameters[i].item.name, expected[i].name);
        EXPECT_EQ(document.parameters[i].item.group, 2000);
        EXPECT_EQ(document.parameters[i].item.array, expected[i].array);
        EXPECT_EQ(document.parameters[i].bits, expected[i].bits);
    }
    // Written again, an identifier outside the catalogue keeps its type and reads back.
    const config_document back = DocumentRead(DocumentWrite(document));
    ASSERT_EQ(back.parameters.size(), document.parameters.size());
    EXPECT_EQ(back.parameters[3].item.name, "2000/77:f32");
    EXPECT_EQ(back.parameters[3].bits, Uat4__F32ToBits(3.0F));
}

// Any float, written into a document and read back, keeps its bits (NaN payloads too); a finite
// one also through the people's %.9g text and the command line's reading.
TEST(ctl_document, floats_round_trip_bit_exactly)
{
    std::vector<uint32_t> patterns = {0x00000000, 0x80000000, 0x00000001, 0x80000001, 0x007FFFFF,
                                      0x00800000, 0x7F7FFFFF, 0xFF7FFFFF, 0x3DCCCCCD, 0x3F800001,
                                      0x4B800001, 0x33800000, 0x4CBEBC20, 0x7F800000, 0xFF800000,
                                      0x7FC00000, 0xFFC00000, 0x7F800001, 0xFFBFFFFF, 0x7FA5A5A5};
    std::mt19937 random(12345);
    while (patterns.size() < 60000)
        patterns.push_back(static_cast<uint32_t>(random()));
    ctl_item item;
    std::string reason;
    ASSERT_TRUE(ResolveItem("3000/0:f32", &item, &reason)) << reason;
    config_document document;
    size_t checked = 0;
    for (size_t start = 0; start < patterns.size(); start += 500)
    {
        document.parameters.clear();
        for (size_t i = start; i < patterns.size() && i < start + 500; ++i)
        {
            item.name = "3000/" + std::to_string(i - start) + ":f32";
            item.array = static_cast<uint16_t>(i - start);
            document.parameters.push_back(document_entry{item, patterns[i]});
        }
        const config_document back = DocumentRead(DocumentWrite(document));
        ASSERT_EQ(back.parameters.size(), document.parameters.size());
        for (size_t i = 0; i < back.parameters.size(); ++i)
        {
            const uint32_t bits = document.parameters[i].bits;
            ASSERT_EQ(back.parameters[i].bits, bits) << std::hex << bits;
            ++checked;
            if ((bits & 0x7F800000) == 0x7F800000)
                continue;
            uint32_t fromText = ~bits;
            ASSERT_TRUE(ValueFromText(ValueText(2, bits), 2, &fromText));
            ASSERT_EQ(fromText, bits) << ValueText(2, bits);
        }
    }
    EXPECT_EQ(checked, patterns.size());
}

struct resolved_name
{
    std::string text;
    bool known;
    std::string name; // or the start of the reason
    uint16_t group;
    uint16_t array;
    uint16_t value_type;
    uat11_kind kind;
};

TEST(ctl_names, names_and_ids_resolve_or_are_refused_with_a_suggestion)
{
    // clang-format off
    const std::vector<resolved_name> cases = {
        {"hw_serial", true, "hw_serial", 2003, 9, 0, kUAT11_KIND_STATUS},
        {"2003/9", true, "hw_serial", 2003, 9, 0, kUAT11_KIND_STATUS},
        {"2003/9:i32", true, "hw_serial", 2003, 9, 0, kUAT11_KIND_STATUS},
        {"2000/456", true, "speed_limit_3_max", 2000, 456, 2, kUAT11_KIND_PARAM},
        {"2000/104", true, "power_mode", 2000, 104, 0, kUAT11_KIND_PARAM},
        {"2000/77:f32", true, "2000/77:f32", 2000, 77, 2, kUAT11_KIND_PARAM},
        {"2003/77:i32", true, "2003/77:i32", 2003, 77, 0, kUAT11_KIND_STATUS},
        {"1000/347:i32", true, "1000/347:i32", 1000, 347, 0, kUAT11_KIND_COMMAND},
        {"1000/342", true, "reboot", 1000, 342, 0, kUAT11_KIND_COMMAND},
        {"temprature", false, "unknown name 'temprature' (did you mean 'temperature'?)", 0, 0, 0, kUAT11_KIND_PARAM},
        {"zzz", false, "unknown name 'zzz'", 0, 0, 0, kUAT11_KIND_PARAM},
        {std::string("param_x\0y", 9), false, "unknown name", 0, 0, 0, kUAT11_KIND_PARAM},
        {"2000/77", false, "'2000/77' is not in the catalogue", 0, 0, 0, kUAT11_KIND_PARAM},
        {"2000/ 77:f32", false, "'2000/ 77:f32': GROUP/ID wants", 0, 0, 0, kUAT11_KIND_PARAM},
        {"2000/+77:f32", false, "'2000/+77:f32': GROUP/ID wants", 0, 0, 0, kUAT11_KIND_PARAM},
        {"/77:f32", false, "'/77:f32': GROUP/ID wants", 0, 0, 0, kUAT11_KIND_PARAM},
        {"2000/50:i32", false, "'2000/50:i32': param_x is f32", 0, 0, 0, kUAT11_KIND_PARAM},
        {"2000/77:", false, "'2000/77:': the type after ':' is i32 or f32", 0, 0, 0, kUAT11_KIND_PARAM},
    };
    // clang-format on
    for (const resolved_name& entry : cases)
    {
        SCOPED_TRACE(entry.text);
        ctl_item item;
        std::string reason;
        ASSERT_EQ(ResolveItem(entry.text, &item, &reason), entry.known) << reason;
        if (!entry.known)
        {
            EXPECT_EQ(reason.substr(0, entry.name.size()), entry.name) << reason;
            continue;
        }
        EXPECT_EQ(item.name, entry.name);
        EXPECT_EQ(item.group, entry.group);
        EXPECT_EQ(item.array, entry.array);
        EXPECT_EQ(item.value_type, entry.value_type);
        EXPECT_EQ(item.kind, entry.kind);
    }
}

struct value_text
{
    std::string text;
    uint16_t value_type;
    bool taken;
    uint32_t bits;
};

// Values on the command line are read strictly: the whole text a number of the parameter's type.
TEST(ctl_value, values_are_read_strictly_and_shown_exactly)
{
    // clang-format off
    const std::vector<value_text> cases = {
        {"7", 0, true, 7}, {"-1", 0, true, 0xFFFFFFFF}, {" 12 ", 0, true, 12},
        {"2147483647", 0, true, 0x7FFFFFFF}, {"-2147483648", 0, true, 0x80000000},
        {"2147483648", 0, false, 0}, {"1.5", 0, false, 0}, {"0x10", 0, false, 0}, {"", 0, false, 0},
        {"1e3", 0, false, 0}, {"7 8", 0, false, 0},
        {"0.25", 2, true, 0x3E800000}, {"-0", 2, true, 0x80000000}, {"1e3", 2, true, 0x447A0000},
        {"0x1p-149", 2, true, 1}, {"nan", 2, false, 0}, {"inf", 2, false, 0}, {"1e39", 2, false, 0},
        {"1,5", 2, false, 0}, {"", 2, false, 0},
    };
    // clang-format on
    for (const value_text& entry : cases)
    {
        SCOPED_TRACE(entry.text);
        uint32_t bits = 0xA5A5A5A5;
        EXPECT_EQ(ValueFromText(entry.text, entry.value_type, &bits), entry.taken);
        EXPECT_EQ(bits, entry.taken ? entry.bits : 0xA5A5A5A5);
    }
    EXPECT_EQ(ValueText(0, 0xFFFFFFFF), "-1");
    EXPECT_EQ(ValueText(2, 0x3DCCCCCD), "0.100000001");
    EXPECT_EQ(ValueText(2, 0x80000000), "-0");
    EXPECT_EQ(ValueJson(2, 0x80000000).dump(), "-0.0");
    EXPECT_EQ(ValueJson(2, 0x3DCCCCCD).dump(), "0.1");
    EXPECT_EQ(ValueJson(2, 0x41200000).dump(), "10.0");
    EXPECT_EQ(ValueJson(0, 0x80000000).dump(), "-2147483648");
    EXPECT_EQ(ValueJson(2, 0x7FC00001).dump(), "\"nan:0x7FC00001\"");
    EXPECT_EQ(ValueJson(2, 0xFF800000).dump(), "\"-inf\"");
    EXPECT_EQ(ValueText(2, 0x7F800000), "inf");
    EXPECT_EQ(ValueText(2, 0xFFFFFFFF), "nan:0xFFFFFFFF");
}

std::string _T_pending(int aFd)
{
    std::string text;
    pollfd ready{aFd, POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 100) == 1 && read(aFd, &c, 1) == 1)
        text.push_back(c);
    return text;
}

// Progress is for a person at a terminal: rewritten in place, cleared at the end, and only when
// the command takes more than one query and -q is not given.
TEST(ctl_output, progress_only_on_a_terminal)
{
    vesk11_test::pty_pair terminal(vesk11_test::pty_mode_t::kRAW);
    char pattern[] = "/tmp/vesk11-progress-XXXXXX";
    const int plainFile = mkstemp(pattern);
    ASSERT_GE(plainFile, 0);
    struct progress_case
    {
        const char* setting;
        int fd;
        bool quiet;
        size_t total;
        std::string shown;
    };
    const progress_case cases[] = {
        {"terminal", terminal.slave(), false, 18,
         "\r\033[K1/18 param_x\r\033[K2/18 param_y\r\033[K"},
        {"terminal, one query", terminal.slave(), false, 1, ""},
        {"terminal, quiet", terminal.slave(), true, 18, ""},
        {"plain file", plainFile, false, 18, ""},
    };
    for (const progress_case& setting : cases)
    {
        SCOPED_TRACE(setting.setting);
        const int saved = dup(STDERR_FILENO);
        dup2(setting.fd, STDERR_FILENO);
        {
            ctl_output output(false, setting.quiet);
            output.progress(1, setting.total, "param_x");
            output.progress(2, setting.total, "param_y");
        }
        dup2(saved, STDERR_FILENO);
        close(saved);
        EXPECT_EQ(_T_pending(terminal.master()), setting.shown);
    }
    EXPECT_EQ(lseek(plainFile, 0, SEEK_END), 0);
    close(plainFile);
    unlink(pattern);
}

struct output_target
{
    const char* what;
    std::function<void(const std::string&)> make; // makes what stands at the path
    std::string refusal;                          // empty: written
    mode_t type;                                  // what the path leads to afterwards
    mode_t mode;                                  // its permission bits, for a regular file
};

// A document goes where the path leads: a regular file is replaced whole keeping its mode and
// the links to it; a device or FIFO is written, never replaced; anything else is refused. Nodes
// are made in a temporary folder only.
TEST(ctl_file, output_respects_what_stands_at_the_path)
{
    char folder[] = "/tmp/vesk11-output-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    int reader = -1;
    auto file = [&dir](mode_t aMode)
    {
        return [&dir, aMode](const std::string& aPath)
        {
            std::ofstream(dir + "/file", std::ios::binary) << std::string(5000, 'x');
            chmod((dir + "/file").c_str(), aMode);
            if (aPath != dir + "/file")
                symlink((dir + "/file").c_str(), aPath.c_str());
        };
    };
    // clang-format off
    const std::vector<output_target> cases = {
        {"nothing there", [](const std::string&) {}, "", S_IFREG, 0},
        {"0600 file", file(0600), "", S_IFREG, 0600},
        {"link to a 0640 file", file(0640), "", S_IFLNK, 0640},
        {"FIFO with a reader", [&reader](const std::string& aPath) {
             mkfifo(aPath.c_str(), 0600);
             reader = open(aPath.c_str(), O_RDONLY | O_NONBLOCK); }, "", S_IFIFO, 0},
        {"FIFO without a reader", [](const std::string& aPath) { mkfifo(aPath.c_str(), 0600); },
         "(a FIFO without a reader)", S_IFIFO, 0},
        {"character device", [](const std::string& aPath) { mknod(aPath.c_str(), S_IFCHR | 0666, makedev(1, 3)); },
         "", S_IFCHR, 0},
        {"link to nothing", [&dir](const std::string& aPath) { symlink((dir + "/none").c_str(), aPath.c_str()); },
         "(a link to nothing)", S_IFLNK, 0},
        {"folder", [](const std::string& aPath) { mkdir(aPath.c_str(), 0700); },
         "(not a regular file, a character device or a FIFO)", S_IFDIR, 0},
    };
    // clang-format on
    for (const output_target& target : cases)
    {
        SCOPED_TRACE(target.what);
        const std::string path =
            dir + (target.mode != 0 && target.type == S_IFREG ? "/file" : "/out");
        target.make(path);
        std::string refusal;
        try
        {
            WriteOutputFile(path, "{}\n");
        }
        catch (const ctl_error& x)
        {
            EXPECT_EQ(x.status(), kEXIT_CANTCREAT);
            refusal = x.message();
        }
        EXPECT_NE(refusal.find(target.refusal), std::string::npos) << refusal;
        EXPECT_EQ(refusal.empty(), target.refusal.empty()) << refusal;
        struct stat st
        {
        };
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, target.type);
        if (target.mode != 0)
        {
            EXPECT_EQ(vesk11_test::read_file(dir + "/file"), "{}\n");
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, target.mode);
        }
        if (reader >= 0)
        {
            char got[8] = {};
            EXPECT_EQ(read(reader, got, sizeof got), 3);
            EXPECT_STREQ(got, "{}\n");
            close(reader);
            reader = -1;
        }
        unlink((dir + "/file").c_str());
        if (rmdir((dir + "/out").c_str()) != 0)
            unlink((dir + "/out").c_str());
    }
    rmdir(folder);
}

} // namespace
