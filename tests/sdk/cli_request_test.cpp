#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli.hpp"
#include "exceptions.hpp"
#include "log_capture.hpp"

namespace
{

using Orvo::not_found_error;
using Orvo::Support::cli_request;
using env_t = std::map<std::string, std::string>;

// Builds a request from a null-terminated argument vector, as main receives it.
cli_request _T_create(std::vector<const char*> aArgv, std::vector<const char*> aEnvp = {})
{
    const int argc = static_cast<int>(aArgv.size());
    aArgv.push_back(nullptr);
    if (aEnvp.empty())
        return cli_request::create(argc, aArgv.data(), nullptr);
    aEnvp.push_back(nullptr);
    return cli_request::create(argc, aArgv.data(), aEnvp.data());
}

cli_request _T_request(std::vector<std::string> aArgs)
{
    return cli_request("/usr/bin/vesk11-cli", std::move(aArgs), {});
}

TEST(cli_request, create_splits_path_and_arguments)
{
    const cli_request request =
        _T_create({"/usr/bin/vesk11-cli", "get-param-i32", "--group=1", "", "--id = 2"});
    EXPECT_EQ(request.path_, "/usr/bin/vesk11-cli");
    EXPECT_EQ(request.args_,
              (std::vector<std::string>{"get-param-i32", "--group=1", "", "--id = 2"}));
    EXPECT_TRUE(request.env_.empty());
}

TEST(cli_request, no_words_after_the_path)
{
    const cli_request request = _T_create({"vesk11-cli"});
    EXPECT_TRUE(request.args_.empty());
    EXPECT_NO_THROW(request.assert_args(0));
    EXPECT_NO_THROW(request.assert_max_args(0));
    EXPECT_THROW(request.assert_min_args(1), not_found_error);
}

TEST(cli_request, no_program_path_at_all)
{
    const char* const argv[] = {nullptr};
    for (const cli_request& request :
         {cli_request::create(0, argv, nullptr), cli_request::create(0, nullptr, nullptr)})
    {
        EXPECT_EQ(request.path_, "");
        EXPECT_TRUE(request.args_.empty());
        EXPECT_EQ(request.getLogName(), "vesk11-cli");
        EXPECT_EQ(request.getLogLevel(), 4);
    }
}

TEST(cli_request, log_name_is_the_file_stem)
{
    const struct
    {
        std::string path;
        std::string name;
    } cases[] = {
        {"/usr/bin/vesk11-cli", "vesk11-cli"},
        {"tools\\vesk11-cli.sh", "vesk11-cli"},
        {"./a.b.c", "a.b"},
        {"plain", "plain"},
        {"a/b\\c.d", "c"},
        {"c\\b/x.tar.gz", "x.tar"},
        {"/opt/tool.", "tool"},
        {"dir/", ""},
        // No usable file name: the tool's own name.
        {"", "vesk11-cli"},
        {".hidden", "vesk11-cli"},
        {"/etc/.profile.d", "vesk11-cli"},
        {"..", "vesk11-cli"},
    };
    for (const auto& test : cases)
        EXPECT_EQ(_T_create({test.path.c_str()}).getLogName(), test.name) << test.path;
}

TEST(cli_request, log_level_is_always_four)
{
    EXPECT_EQ(_T_create({"vesk11-cli"}).getLogLevel(), 4);
    EXPECT_EQ(_T_create({"x", "--level=5", "-v"}, {"LOG_LEVEL=1"}).getLogLevel(), 4);
    EXPECT_EQ(cli_request("", {}, {}).getLogLevel(), 4);
}

TEST(cli_request, count_tests)
{
    using check_t = std::function<void(const cli_request&)>;
    const struct
    {
        const char* name;
        check_t check;
        bool passes;
    } cases[] = {
        {"args(2)", [](const cli_request& r) { r.assert_args(2); }, true},
        {"args(1)", [](const cli_request& r) { r.assert_args(1); }, false},
        {"args(3)", [](const cli_request& r) { r.assert_args(3); }, false},
        {"min(0)", [](const cli_request& r) { r.assert_min_args(0); }, true},
        {"min(2)", [](const cli_request& r) { r.assert_min_args(2); }, true},
        {"min(3)", [](const cli_request& r) { r.assert_min_args(3); }, false},
        {"max(2)", [](const cli_request& r) { r.assert_max_args(2); }, true},
        {"max(9)", [](const cli_request& r) { r.assert_max_args(9); }, true},
        {"max(1)", [](const cli_request& r) { r.assert_max_args(1); }, false},
    };
    const cli_request request = _T_request({"low-power", "on"});
    for (const auto& test : cases)
    {
        if (test.passes)
            EXPECT_NO_THROW(test.check(request)) << test.name;
        else
            EXPECT_THROW(test.check(request), not_found_error) << test.name;
    }
}

TEST(cli_request, argument_test_is_exact_and_bounded)
{
    const cli_request request = _T_request({"Reboot", "on"});
    EXPECT_THROW(request.assert_arg(0, "reboot"), not_found_error);
    EXPECT_NO_THROW(request.assert_arg(0, "Reboot"));
    EXPECT_NO_THROW(request.assert_arg(1, "on"));
    EXPECT_THROW(request.assert_arg(1, "on "), not_found_error);
    EXPECT_THROW(request.assert_arg(1, "o"), not_found_error);
    // Positions at or beyond the count fail instead of reading past the arguments.
    EXPECT_THROW(request.assert_arg(2, ""), not_found_error);
    EXPECT_THROW(request.assert_arg(static_cast<size_t>(-1), "on"), not_found_error);
    EXPECT_THROW(_T_request({}).assert_arg(0, ""), not_found_error);
}

TEST(cli_request, failed_tests_log_nothing)
{
    vesk11_test::log_capture capture;
    const cli_request request = _T_request({"reboot"});
    EXPECT_THROW(request.assert_args(2), not_found_error);
    EXPECT_THROW(request.assert_min_args(2), not_found_error);
    EXPECT_THROW(request.assert_max_args(0), not_found_error);
    EXPECT_THROW(request.assert_arg(0, "x"), not_found_error);
    EXPECT_THROW(request.assert_env("A"), not_found_error);
    EXPECT_TRUE(capture.records().empty()) << capture.dump();
}

TEST(cli_request, environment_entries)
{
    const struct
    {
        std::vector<const char*> envp;
        env_t env;
    } cases[] = {
        {{"A=1", "A=2"}, {{"A", "1"}}},
        {{"=A=b"}, {{"A", "b"}}},
        {{"A=b=c"}, {{"A", "b"}}},
        {{"A==b"}, {{"A", "b"}}},
        {{"A=", "B", "C=3"}, {{"A", ""}, {"B", ""}, {"C", "3"}}},
        // Entries without a name are skipped.
        {{"", "=", "==", "D=4"}, {{"D", "4"}}},
    };
    for (const auto& test : cases)
        EXPECT_EQ(_T_create({"vesk11-cli"}, test.envp).env_, test.env) << test.envp.front();
}

TEST(cli_request, environment_test)
{
    const cli_request request = _T_create({"vesk11-cli"}, {"A=1", "B="});
    EXPECT_NO_THROW(request.assert_env("A"));
    EXPECT_NO_THROW(request.assert_env("B"));
    EXPECT_THROW(request.assert_env("a"), not_found_error);
    EXPECT_THROW(request.assert_env(""), not_found_error);
    EXPECT_THROW(_T_create({"vesk11-cli"}).assert_env("A"), not_found_error);
}

} // namespace
