// Runs the parameter map decoding and the text utilities on arbitrary text and checks properties
// that follow from their definitions, not from their code:
// - Cli__DecodeParams: every argument adds one value, to the entry of its name, in order; an
//   argument is its name, blanks, '=', blanks and its value; decoding in two runs into the same
//   map equals decoding in one.
// - TextDecodeParamValue: the same split, also when an output is the input itself.
// - TextSplit: non-empty pieces without the delimiter, appended in order; joined again they give
//   the text without its surplus delimiters, and splitting a join gives the pieces back.
// - TextTrim, TextTrimL, TextTrimR: the result is the text cut at both ends, to the first and last
//   character outside the set, at or after (before) the position.
// - TextDecodeValue: the value, or params_error exactly when there is none.
// - TextDecodeUtf8 into a heap target of exactly the stated size, and TextEncodeUtf8: ASCII fits
//   exactly when it and its terminator do, and text survives the way there and back.
// Input: delimiter, trim position (255: npos), UTF-8 target size in bytes, flags (bit 0: source
// size 0, that is up to its null), then the text; arguments are the pieces of the text between
// null bytes, as in an argument vector.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "cli.hpp"
#include "exceptions.hpp"
#include "fuzz_support.hpp"
#include "text.hpp"

const char* const vesk11_fuzz::kSUBJECT = "text";

namespace
{

using vesk11_fuzz::require;

using namespace Orvo;
using namespace Orvo::Support;

constexpr size_t kHEADER_SIZE = 4;
const char* const kBLANKS = "\t ";

bool _T_is_blank(char aChar)
{
    return aChar == ' ' || aChar == '\t';
}

bool _T_starts_with(const std::string& aText, const std::string& aHead)
{
    return aText.compare(0, aHead.size(), aHead) == 0;
}

bool _T_ends_with(const std::string& aText, const std::string& aTail)
{
    return aText.size() >= aTail.size() &&
           aText.compare(aText.size() - aTail.size(), aTail.size(), aTail) == 0;
}

bool _T_only_of(const std::string& aText, size_t aBegin, size_t aEnd, const std::string& aChars)
{
    for (size_t i = aBegin; i < aEnd && i < aText.size(); ++i)
    {
        if (aChars.find(aText[i]) == std::string::npos)
            return false;
    }
    return true;
}

// aText is aName, blanks, aDelim, blanks, aValue; or, without aDelim, aName alone.
void _T_check_name_value(const std::string& aText, const std::string& aName,
                         const std::string& aValue, char aDelim)
{
    if (aText.find(aDelim) == std::string::npos)
    {
        require(aName == aText && aValue.empty(), "text without delimiter is not the name");
        return;
    }
    require(aName.find(aDelim) == std::string::npos, "name holds the delimiter");
    require(_T_starts_with(aText, aName) && _T_ends_with(aText, aValue) &&
                aName.size() + aValue.size() < aText.size(),
            "name and value are not the ends of the text");
    require(aName.empty() || !_T_is_blank(aName.back()), "name ends in a blank");
    require(aValue.empty() || !_T_is_blank(aValue.front()), "value begins with a blank");
    const std::string middle =
        aText.substr(aName.size(), aText.size() - aName.size() - aValue.size());
    size_t delims = 0;
    for (char c : middle)
    {
        delims += c == aDelim ? 1 : 0;
        require(c == aDelim || _T_is_blank(c), "more than blanks around the delimiter");
    }
    require(delims == 1, "not one delimiter between name and value");
}

void _T_check_params(const std::vector<std::string>& aArgs)
{
    cli_params_t expected;
    for (const std::string& arg : aArgs)
    {
        std::string name;
        std::string value;
        TextDecodeParamValue(arg, name, value, '=');
        _T_check_name_value(arg, name, value, '=');
        expected[name].push_back(value);

        std::string aliased = arg;
        TextDecodeParamValue(aliased, aliased, value, '=');
        require(aliased == name, "name differs when written over the text");
        aliased = arg;
        TextDecodeParamValue(aliased, name, aliased, '=');
        require(aliased == value, "value differs when written over the text");
    }
    cli_params_t params;
    Cli__DecodeParams(params, aArgs);
    require(params == expected, "parameter map differs from the arguments");

    cli_params_t twoRuns;
    const auto middle = aArgs.cbegin() + static_cast<std::ptrdiff_t>(aArgs.size() / 2);
    Cli__DecodeParams(twoRuns, aArgs.cbegin(), middle);
    Cli__DecodeParams(twoRuns, middle, aArgs.cend());
    require(twoRuns == params, "a second run did not extend the map");
}

// The text with surplus delimiters gone: none at the ends, one between pieces.
std::string _T_squeeze(const std::string& aText, char aDelim)
{
    std::string result;
    bool pending = false;
    for (char c : aText)
    {
        if (c == aDelim)
        {
            pending = !result.empty();
            continue;
        }
        if (pending)
            result += aDelim;
        pending = false;
        result += c;
    }
    return result;
}

void _T_check_split(const std::string& aText, char aDelim)
{
    const std::string sentinel = "\x01sentinel";
    std::vector<std::string> pieces{sentinel};
    TextSplit(aText, aDelim, pieces);
    require(pieces.front() == sentinel, "split cleared its output");
    pieces.erase(pieces.begin());
    for (const std::string& piece : pieces)
    {
        require(!piece.empty(), "split gave an empty piece");
        require(piece.find(aDelim) == std::string::npos, "split piece holds the delimiter");
    }
    const std::string joined = TextJoin(aDelim, pieces);
    require(joined == _T_squeeze(aText, aDelim), "join of the pieces is not the text");
    std::vector<std::string> again;
    TextSplit(joined, aDelim, again);
    require(again == pieces, "split of the join is not the pieces");

    std::vector<std::string> byString;
    TextSplit(aText, std::string(1, aDelim), byString);
    require(byString == pieces, "one-character string delimiter splits differently");
}

void _T_check_split_string(const std::string& aText, const std::string& aDelim)
{
    std::vector<std::string> pieces;
    try
    {
        TextSplit(aText, aDelim, pieces);
    }
    catch (const params_error&)
    {
        require(aDelim.empty(), "split refused a delimiter");
        return;
    }
    require(!aDelim.empty(), "split accepted an empty delimiter");
    size_t at = 0;
    for (const std::string& piece : pieces)
    {
        require(!piece.empty(), "split gave an empty piece");
        require(piece.find(aDelim) == std::string::npos, "split piece holds the delimiter");
        require(aDelim.find(piece.front()) == std::string::npos,
                "split piece begins with a delimiter character");
        at = aText.find(piece, at);
        require(at != std::string::npos, "split pieces are not the text's, in order");
        at += piece.size();
    }
}

void _T_check_trims(const std::string& aText, const std::string& aChars, size_t aPos)
{
    const std::string left = TextTrimL(aText, aChars, aPos);
    const size_t from = aPos < aText.size() ? aPos : aText.size();
    const size_t leftAt = aText.size() - left.size();
    require(leftAt >= from && _T_ends_with(aText, left), "left trim is not a tail after aPos");
    require(_T_only_of(aText, from, leftAt, aChars), "left trim dropped other characters");
    require(left.empty() || aChars.find(left.front()) == std::string::npos,
            "left trim kept a set character in front");

    const std::string right = TextTrimR(aText, aChars, aPos);
    const size_t upTo = aPos < aText.size() ? aPos + 1 : aText.size();
    require(right.size() <= upTo && _T_starts_with(aText, right),
            "right trim is not a head up to aPos");
    require(_T_only_of(aText, right.size(), upTo, aChars), "right trim dropped other characters");
    require(right.empty() || aChars.find(right.back()) == std::string::npos,
            "right trim kept a set character at the end");

    require(TextTrim(aText, aChars, aPos) == TextTrimR(left, aChars),
            "trim is not the right trim of the left trim");
}

void _T_check_decode_value(const std::string& aText, char aDelim)
{
    const size_t delimPos = aText.find(aDelim);
    const std::string tail = delimPos == std::string::npos ? "" : aText.substr(delimPos + 1);
    const size_t valueAt = tail.find_first_not_of(kBLANKS);
    try
    {
        const std::string value = TextDecodeValue(aText, aDelim);
        require(valueAt != std::string::npos && value == tail.substr(valueAt),
                "decoded value is not the text after the delimiter");
    }
    catch (const params_error&)
    {
        require(valueAt == std::string::npos, "value refused although present");
    }
}

// The byte count of the UTF-8 form of a Unicode scalar value, 0 for anything else.
size_t _T_utf8_length(wchar_t aChar)
{
    const auto code = static_cast<uint32_t>(static_cast<int32_t>(aChar));
    if (code >= 0xD800 && code <= 0xDFFF)
        return 0;
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : code < 0x110000 ? 4 : 0;
}

void _T_check_decode_utf8(const std::string& aText, size_t aTargetSize, bool aUpToNull)
{
    // The source handed over is exactly the bytes it claims (with its null when measured by it).
    std::string source = aUpToNull || aText.empty() ? aText.substr(0, aText.find('\0')) : aText;
    const bool measured = aUpToNull || source.empty();
    const size_t sourceSize = source.size() + (measured ? 1 : 0);
    const std::unique_ptr<char[]> sourceData(new char[sourceSize]);
    std::memcpy(sourceData.get(), source.c_str(), sourceSize);

    const std::unique_ptr<char[]> target(new char[aTargetSize]);
    wchar_t* wide = reinterpret_cast<wchar_t*>(target.get());
    bool converted = false;
    try
    {
        converted =
            TextDecodeUtf8(wide, aTargetSize, sourceData.get(), measured ? 0 : source.size());
        require(converted, "conversion returned false");
    }
    catch (const internal_error&)
    {
    }
    const size_t room = aTargetSize / sizeof(wchar_t);
    bool ascii = true;
    for (char c : source)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        require(converted == (source.size() + 1 <= room), "ASCII fit decided wrongly");
    if (!converted)
        return;
    const size_t length = wcsnlen(wide, room);
    require(length < room, "converted text not terminated inside the target");
    require(TextEncodeUtf8(wide) == source.substr(0, source.find('\0')),
            "converted text does not encode back to the source");
}

void _T_check_encode_utf8(const std::string& aText)
{
    std::vector<wchar_t> wide(aText.size() / sizeof(wchar_t) + 1, L'\0');
    std::memcpy(wide.data(), aText.data(), aText.size() / sizeof(wchar_t) * sizeof(wchar_t));
    const std::string utf8 = TextEncodeUtf8(wide.data());
    const size_t length = std::wcslen(wide.data());
    size_t expected = 0;
    for (size_t i = 0; i < length; ++i)
    {
        const size_t bytes = _T_utf8_length(wide[i]);
        if (bytes == 0)
            return;
        expected += bytes;
    }
    require(utf8.size() == expected, "UTF-8 length differs from the characters'");
    const size_t targetSize = (length + 1) * sizeof(wchar_t);
    const std::unique_ptr<char[]> target(new char[targetSize]);
    wchar_t* back = reinterpret_cast<wchar_t*>(target.get());
    TextDecodeUtf8(back, targetSize, utf8.c_str(), 0);
    require(std::wcscmp(back, wide.data()) == 0, "text did not survive UTF-8 and back");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*aArgc*/, char*** /*aArgv*/)
{
    vesk11_fuzz::open_log("cli_params_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    if (aSize < kHEADER_SIZE)
        return 0;
    const char delim = static_cast<char>(aData[0]);
    const size_t pos = aData[1] == UINT8_MAX ? std::string::npos : aData[1];
    const size_t targetSize = aData[2];
    const bool upToNull = (aData[3] & 1) != 0;
    const std::string text(reinterpret_cast<const char*>(aData + kHEADER_SIZE),
                           aSize - kHEADER_SIZE);

    const std::vector<std::string> args = vesk11_fuzz::split_at_nulls(text);
    _T_check_params(args);
    _T_check_split(text, delim);
    _T_check_split_string(args.size() > 1 ? text.substr(args[0].size() + 1) : text, args[0]);
    _T_check_trims(text, std::string{delim, ' ', '\t'}, pos);
    _T_check_decode_value(text, delim);
    _T_check_decode_utf8(text, targetSize, upToNull);
    _T_check_encode_utf8(text);
    return 0;
}
