#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exceptions.hpp"
#include "log_capture.hpp"
#include "text.hpp"

namespace
{

using namespace Orvo::Support;
using vesk11_test::log_capture;

const wchar_t kCANARY = static_cast<wchar_t>(0x5A5A5A5A);

// A target of aChars wide characters followed by a canary that must survive every call.
struct guarded_target
{
    explicit guarded_target(size_t aChars) : chars_(aChars), data_(aChars + 1, L'#')
    {
        data_[aChars] = kCANARY;
    }
    wchar_t* data() { return data_.data(); }
    size_t bytes() const { return chars_ * sizeof(wchar_t); }
    bool canaryIntact() const { return data_[chars_] == kCANARY; }

    size_t chars_;
    std::vector<wchar_t> data_;
};

TEST(text_encode_utf8, known_encodings)
{
    EXPECT_EQ(TextEncodeUtf8(L""), "");
    EXPECT_EQ(TextEncodeUtf8(L"abc"), "abc");
    EXPECT_EQ(TextEncodeUtf8(L"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(TextEncodeUtf8(L"\u0416\u20ac"), "\xD0\x96\xE2\x82\xAC");
    // Four-byte sequences: the widest case the result buffer is sized for.
    EXPECT_EQ(TextEncodeUtf8(L"\U0001D11E\U0001F600"), "\xF0\x9D\x84\x9E\xF0\x9F\x98\x80");
}

TEST(text_encode_utf8, stops_at_an_unconvertible_character)
{
    // A lone surrogate has no UTF-8 form.
    const wchar_t text[] = {L'a', L'b', static_cast<wchar_t>(0xD800), L'c', L'\0'};
    EXPECT_EQ(TextEncodeUtf8(text), "ab");
}

TEST(text_encode_utf8, character_beyond_unicode_never_overruns_the_result)
{
    // The converter may write such a value in the old five-byte form, filling the whole
    // buffer with no zero byte left in it.
    const wchar_t text[] = {static_cast<wchar_t>(0x3FFFFFF), L'\0'};
    std::string result;
    EXPECT_NO_THROW(result = TextEncodeUtf8(text));
    EXPECT_LE(result.size(), 5u);
    EXPECT_EQ(result.find('\0'), std::string::npos);
}

TEST(text_decode_utf8, decodes_up_to_the_null_when_no_size_is_given)
{
    guarded_target target(16);
    EXPECT_TRUE(TextDecodeUtf8(target.data(), target.bytes(), "h\xC3\xA9llo \xE2\x82\xAC", 0));
    EXPECT_EQ(std::wstring(target.data()), L"h\u00e9llo \u20ac");
    EXPECT_TRUE(target.canaryIntact());
}

TEST(text_decode_utf8, converts_exactly_the_given_size)
{
    guarded_target target(8);
    EXPECT_TRUE(TextDecodeUtf8(target.data(), target.bytes(), "abcdef", 3));
    EXPECT_EQ(std::wstring(target.data()), L"abc");
}

TEST(text_decode_utf8, empty_source_gives_empty_text)
{
    log_capture capture;
    guarded_target target(1);
    EXPECT_TRUE(TextDecodeUtf8(target.data(), target.bytes(), "", 0));
    EXPECT_EQ(target.data()[0], L'\0');
    EXPECT_TRUE(target.canaryIntact());
    EXPECT_TRUE(capture.records().empty()) << capture.dump();
}

TEST(text_decode_utf8, exact_fit_keeps_text_and_terminator_inside)
{
    // Five wide characters of room: four characters of text plus the terminator.
    guarded_target target(5);
    EXPECT_TRUE(TextDecodeUtf8(target.data(), target.bytes(), "ab\xC3\xA9\xE2\x82\xAC", 0));
    EXPECT_EQ(std::wstring(target.data()), L"ab\u00e9\u20ac");
    EXPECT_EQ(target.data()[4], L'\0');
    EXPECT_TRUE(target.canaryIntact());
}

TEST(text_decode_utf8, one_character_too_many_is_refused)
{
    log_capture capture;
    guarded_target target(5);
    // The fifth character, two bytes long, leaves no room for the terminator.
    EXPECT_THROW(TextDecodeUtf8(target.data(), target.bytes(), "abcd\xC3\xA9", 0),
                 Orvo::internal_error);
    EXPECT_TRUE(target.canaryIntact());
    EXPECT_TRUE(capture.has(1, "TextDecodeUtf8", "fail: iconv (source-left:2)")) << capture.dump();
}

TEST(text_decode_utf8, ragged_size_uses_only_whole_wide_characters)
{
    // The buffer claims three bytes of the canary: a terminator there would overrun it.
    for (size_t extra = 1; extra < sizeof(wchar_t); ++extra)
    {
        guarded_target fits(4);
        EXPECT_TRUE(TextDecodeUtf8(fits.data(), fits.bytes() + extra, "abc", 0));
        EXPECT_EQ(std::wstring(fits.data()), L"abc");
        EXPECT_TRUE(fits.canaryIntact()) << "extra " << extra;

        log_capture capture;
        guarded_target full(4);
        EXPECT_THROW(TextDecodeUtf8(full.data(), full.bytes() + extra, "abcd", 0),
                     Orvo::internal_error);
        EXPECT_TRUE(full.canaryIntact()) << "extra " << extra;
        EXPECT_TRUE(capture.has(1, "TextDecodeUtf8", "fail: iconv (source-left:1)"))
            << capture.dump();
    }
}

TEST(text_decode_utf8, buffer_too_small_for_the_terminator_is_refused)
{
    for (size_t bytes = 0; bytes < sizeof(wchar_t); ++bytes)
    {
        log_capture capture;
        guarded_target target(0);
        EXPECT_THROW(TextDecodeUtf8(target.data(), bytes, "", 0), Orvo::internal_error);
        EXPECT_TRUE(target.canaryIntact()) << "bytes " << bytes;
        EXPECT_TRUE(capture.has(1, "TextDecodeUtf8", "fail: iconv (target-left:0)"))
            << capture.dump();
    }
}

TEST(text_decode_utf8, invalid_utf8_is_refused)
{
    const struct
    {
        std::string source;
        std::string message;
    } cases[] = {
        {"\xFF\xFE", "fail: iconv (source-left:2)"},
        {"ab\x80z", "fail: iconv (source-left:2)"},
        // A sequence cut short at the end of the source.
        {"a\xC3", "fail: iconv (source-left:1)"},
    };
    for (const auto& test : cases)
    {
        log_capture capture;
        guarded_target target(16);
        EXPECT_THROW(
            TextDecodeUtf8(target.data(), target.bytes(), test.source.data(), test.source.size()),
            Orvo::internal_error);
        EXPECT_TRUE(capture.has(1, "TextDecodeUtf8", test.message)) << capture.dump();
    }
}

TEST(text_decode_utf8, round_trips_with_text_encode_utf8)
{
    const std::wstring text = L"Gr\u00fc\u00dfe \u041f\u0440\u0438\u0432\u0435\u0442 \U0001F600";
    const std::string utf8 = TextEncodeUtf8(text.c_str());
    guarded_target target(text.size() + 1);
    EXPECT_TRUE(TextDecodeUtf8(target.data(), target.bytes(), utf8.c_str(), 0));
    EXPECT_EQ(std::wstring(target.data()), text);
    EXPECT_TRUE(target.canaryIntact());
}

TEST(text_trans_plate, cyrillic_capitals_that_look_latin_become_latin)
{
    EXPECT_EQ(TextTransPlate(L"\u0410\u0412\u0421\u0415\u041D\u0406\u041A\u041C\u041E\u0420\u0422"
                             L"\u0425"),
              L"ABCEHIKMOPTX");
}

TEST(text_trans_plate, everything_else_passes_unchanged)
{
    const std::wstring others[] = {
        L"",
        L"ABCEHIKMOPTX abc 123",
        // Small letters of the mapped capitals.
        L"\u0430\u0432\u0441\u0435\u043D\u0456\u043A\u043C\u043E\u0440\u0442\u0445",
        // Capitals with no Latin look-alike.
        L"\u0411\u0414\u0416\u042F",
    };
    for (const std::wstring& text : others)
        EXPECT_EQ(TextTransPlate(text), text);
    EXPECT_EQ(TextTransPlate(L"\u041C\u0438\u0440 MIR"), L"M\u0438\u0440 MIR");
}

} // namespace
