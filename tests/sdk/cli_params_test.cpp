#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli.hpp"

namespace
{

using Orvo::Support::Cli__DecodeParams;
using Orvo::Support::cli_params_t;
using strings_t = std::vector<std::string>;

TEST(cli_decode_params, name_and_value_of_one_argument)
{
    const struct
    {
        std::string arg;
        std::string name;
        std::string value;
    } cases[] = {
        {"--id=12", "--id", "12"},
        {"--id = 12", "--id", "12"},
        {"--id\t=\t12", "--id", "12"},
        {"--value=a=b", "--value", "a=b"},
        {"--value=", "--value", ""},
        {"get-param-i32", "get-param-i32", ""},
        {"=5", "", "5"},
        {"=", "", ""},
        {"--x", "--x", ""},
        {" --x = v ", " --x", "v "},
        {"", "", ""},
    };
    for (const auto& test : cases)
    {
        cli_params_t params;
        Cli__DecodeParams(params, strings_t{test.arg});
        EXPECT_EQ(params, (cli_params_t{{test.name, {test.value}}})) << "<" << test.arg << ">";
    }
}

TEST(cli_decode_params, empty_range_leaves_the_map_as_it_was)
{
    const cli_params_t before{{"--id", {"1"}}};
    const strings_t args{"--id=2"};
    cli_params_t params = before;
    Cli__DecodeParams(params, args.cbegin(), args.cbegin());
    Cli__DecodeParams(params, strings_t{});
    EXPECT_EQ(params, before);
}

TEST(cli_decode_params, repeated_names_keep_every_value_in_order)
{
    cli_params_t params;
    Cli__DecodeParams(params, strings_t{"--id=3", "--x", "--id=1", "--x=", "--id= 2"});
    EXPECT_EQ(params, (cli_params_t{{"--id", {"3", "1", "2"}}, {"--x", {"", ""}}}));
}

TEST(cli_decode_params, names_are_case_sensitive)
{
    cli_params_t params;
    Cli__DecodeParams(params, strings_t{"--ID=1", "--id=2"});
    EXPECT_EQ(params, (cli_params_t{{"--ID", {"1"}}, {"--id", {"2"}}}));
}

TEST(cli_decode_params, existing_entries_are_extended)
{
    cli_params_t params{{"--group", {"1"}}, {"--other", {"x"}}};
    Cli__DecodeParams(params, strings_t{"--group=2", "--id=5"});
    EXPECT_EQ(params, (cli_params_t{{"--group", {"1", "2"}}, {"--id", {"5"}}, {"--other", {"x"}}}));
}

TEST(cli_decode_params, range_covers_only_its_arguments)
{
    const strings_t args{"set-param-f32", "--group=2000", "--id=50", "--value=1.5"};
    cli_params_t whole;
    Cli__DecodeParams(whole, args);
    EXPECT_EQ(whole, (cli_params_t{{"set-param-f32", {""}},
                                   {"--group", {"2000"}},
                                   {"--id", {"50"}},
                                   {"--value", {"1.5"}}}));

    cli_params_t part;
    Cli__DecodeParams(part, args.cbegin() + 1, args.cend() - 1);
    EXPECT_EQ(part, (cli_params_t{{"--group", {"2000"}}, {"--id", {"50"}}}));
}

} // namespace
