#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "exceptions.hpp"
#include "log_capture.hpp"
#include "text.hpp"

namespace
{

using namespace Orvo::Support;
using strings_t = std::vector<std::string>;
using vesk11_test::log_capture;

const std::string kBLANKS = "\t ";

struct split_case
{
    std::string text;
    char delim;
    strings_t pieces;
};

const split_case kSPLIT_CASES[] = {
    {"", '=', {}},
    {"===", '=', {}},
    {"x", '=', {"x"}},
    {"a==b=", '=', {"a", "b"}},
    {"=a", '=', {"a"}},
    {"a=b=c", '=', {"a", "b", "c"}},
    {" a  b ", ' ', {"a", "b"}},
};

TEST(text_split, char_delimiter_yields_non_empty_pieces)
{
    for (const split_case& test : kSPLIT_CASES)
    {
        strings_t pieces;
        TextSplit(test.text, test.delim, pieces);
        EXPECT_EQ(pieces, test.pieces) << "text <" << test.text << ">";
    }
}

TEST(text_split, one_character_string_delimiter_agrees_with_char_delimiter)
{
    for (const split_case& test : kSPLIT_CASES)
    {
        strings_t pieces;
        TextSplit(test.text, std::string(1, test.delim), pieces);
        EXPECT_EQ(pieces, test.pieces) << "text <" << test.text << ">";
    }
}

TEST(text_split, appends_without_clearing)
{
    strings_t pieces{"keep"};
    TextSplit("a=b", '=', pieces);
    TextSplit("c::d", "::", pieces);
    EXPECT_EQ(pieces, (strings_t{"keep", "a", "b", "c", "d"}));
}

TEST(text_split, string_delimiter_separates_on_the_whole_delimiter)
{
    const struct
    {
        std::string text;
        std::string delim;
        strings_t pieces;
    } cases[] = {
        {"a::b", "::", {"a", "b"}},
        {"::a::::b::", "::", {"a", "b"}},
        {"a:b", "::", {"a:b"}},
        // Characters of the delimiter are skipped before a piece, not inside it.
        {":a:b", "::", {"a:b"}},
        {"a, b,c", ", ", {"a", "b,c"}},
    };
    for (const auto& test : cases)
    {
        strings_t pieces;
        TextSplit(test.text, test.delim, pieces);
        EXPECT_EQ(pieces, test.pieces) << "text <" << test.text << "> delim <" << test.delim << ">";
    }
}

TEST(text_split, empty_string_delimiter_is_refused)
{
    log_capture capture;
    strings_t pieces{"keep"};
    EXPECT_THROW(TextSplit("abc", std::string(), pieces), Orvo::params_error);
    EXPECT_EQ(pieces, strings_t{"keep"});
    EXPECT_TRUE(capture.has(1, "TextSplit", "fail: empty delimiter (text:<abc>)"))
        << capture.dump();
}

TEST(text_join, empty_segments_keep_their_delimiters)
{
    EXPECT_EQ(TextJoin(',', {}), "");
    EXPECT_EQ(TextJoin(',', {"a"}), "a");
    EXPECT_EQ(TextJoin(',', {"a", "", "b"}), "a,,b");
    EXPECT_EQ(TextJoin(',', {"", ""}), ",");
    EXPECT_EQ(TextJoin('=', {"--id", "7"}), "--id=7");
}

enum class trim_t
{
    kBOTH,
    kLEFT,
    kRIGHT
};

TEST(text_trim, table)
{
    const size_t npos = std::string::npos;
    const struct
    {
        trim_t kind;
        std::string text;
        size_t pos;
        std::string result;
    } cases[] = {
        {trim_t::kBOTH, " \tab c\t ", 0, "ab c"},
        {trim_t::kBOTH, "   ", 0, ""},
        {trim_t::kBOTH, "", 0, ""},
        {trim_t::kBOTH, "ab  cd  ", 2, "cd"},
        {trim_t::kBOTH, "ab", 5, ""},
        {trim_t::kLEFT, " \tab  ", 0, "ab  "},
        {trim_t::kLEFT, " a b", 2, "b"},
        {trim_t::kLEFT, "  ", 0, ""},
        {trim_t::kLEFT, "ab", 2, ""},
        {trim_t::kRIGHT, "  ab \t", npos, "  ab"},
        {trim_t::kRIGHT, " \t  ", npos, ""},
        {trim_t::kRIGHT, "", npos, ""},
        {trim_t::kRIGHT, "ab cd", 2, "ab"},
        {trim_t::kRIGHT, "ab cd", 3, "ab c"},
        {trim_t::kRIGHT, " a", 0, ""},
    };
    for (const auto& test : cases)
    {
        std::string result = test.kind == trim_t::kBOTH   ? TextTrim(test.text, kBLANKS, test.pos)
                             : test.kind == trim_t::kLEFT ? TextTrimL(test.text, kBLANKS, test.pos)
                                                          : TextTrimR(test.text, kBLANKS, test.pos);
        EXPECT_EQ(result, test.result) << "kind " << static_cast<int>(test.kind) << " text <"
                                       << test.text << "> pos " << test.pos;
    }
}

TEST(text_trim, only_the_given_characters_are_trimmed)
{
    EXPECT_EQ(TextTrim("--x--", "-"), "x");
    EXPECT_EQ(TextTrim(" x ", "-"), " x ");
    EXPECT_EQ(TextTrimL("xxy", "x"), "y");
    EXPECT_EQ(TextTrimR("yxx", "x"), "y");
}

TEST(text_decode_param_value, table)
{
    const struct
    {
        std::string text;
        char delim;
        std::string param;
        std::string value;
    } cases[] = {
        {"  --id  =  7  ", '=', "  --id", "7  "},
        {"--id=12", '=', "--id", "12"},
        {"no-delimiter ", '=', "no-delimiter ", ""},
        {"=5", '=', "", "5"},
        {"=", '=', "", ""},
        {"a=b=c", '=', "a", "b=c"},
        {"\t--x\t=\tv", '=', "\t--x", "v"},
        {"k : v", ':', "k", "v"},
        {" \t= \t", '=', "", ""},
    };
    for (const auto& test : cases)
    {
        std::string param = "stale";
        std::string value = "stale";
        TextDecodeParamValue(test.text, param, value, test.delim);
        EXPECT_EQ(param, test.param) << "text <" << test.text << ">";
        EXPECT_EQ(value, test.value) << "text <" << test.text << ">";
    }
}

TEST(text_decode_param_value, output_may_be_the_input)
{
    std::string text = "name = value";
    std::string value;
    TextDecodeParamValue(text, text, value, '=');
    EXPECT_EQ(text, "name");
    EXPECT_EQ(value, "value");

    std::string param;
    text = "name = value";
    TextDecodeParamValue(text, param, text, '=');
    EXPECT_EQ(param, "name");
    EXPECT_EQ(text, "value");
}

TEST(text_decode_value, returns_the_text_after_the_first_delimiter)
{
    log_capture capture;
    EXPECT_EQ(TextDecodeValue("key= v ", '='), "v ");
    EXPECT_EQ(TextDecodeValue("a=b=c", '='), "b=c");
    EXPECT_EQ(TextDecodeValue("=\tx", '='), "x");
    EXPECT_TRUE(capture.records().empty()) << capture.dump();
}

TEST(text_decode_value, failures_are_logged_and_thrown)
{
    const struct
    {
        std::string text;
        std::string message;
    } cases[] = {
        {"novalue", "fail: find (text:<novalue>, delim:<=>)"},
        {"a= ", "fail: value absent (text:<a= >, delim:<=>)"},
        {"a=", "fail: value absent (text:<a=>, delim:<=>)"},
        {"", "fail: find (text:<>, delim:<=>)"},
    };
    for (const auto& test : cases)
    {
        log_capture capture;
        EXPECT_THROW(TextDecodeValue(test.text, '='), Orvo::params_error) << test.text;
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u) << capture.dump();
        EXPECT_EQ(records[0].level, 1);
        EXPECT_EQ(records[0].func, "TextDecodeValue");
        EXPECT_EQ(records[0].message, test.message);
    }
}

TEST(text_case, only_ascii_letters_change_over_every_byte)
{
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all += static_cast<char>(byte);
    const std::string upper = TextToUpper(all);
    const std::string lower = TextToLower(all);
    ASSERT_EQ(upper.size(), 256u);
    ASSERT_EQ(lower.size(), 256u);
    for (int byte = 0; byte < 256; ++byte)
    {
        const auto index = static_cast<size_t>(byte);
        const bool isLower = byte >= 'a' && byte <= 'z';
        const bool isUpper = byte >= 'A' && byte <= 'Z';
        EXPECT_EQ(static_cast<unsigned char>(upper[index]), isLower ? byte - 32 : byte) << byte;
        EXPECT_EQ(static_cast<unsigned char>(lower[index]), isUpper ? byte + 32 : byte) << byte;
    }
}

} // namespace
