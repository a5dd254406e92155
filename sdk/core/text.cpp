#include "text.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iconv.h>
#include <map>
#include <memory>
#include <type_traits>

#include "exceptions.hpp"
#include "log.h"

namespace Orvo
{
namespace Support
{

namespace
{

const char* const kBLANKS = "\t ";
const char* const kCHARSET_UTF8 = "UTF-8";
const char* const kCHARSET_WCHAR = "WCHAR_T";

// An open converter, closed on every exit; null when the open failed.
using iconv_up_t = std::unique_ptr<std::remove_pointer_t<iconv_t>, decltype(&iconv_close)>;

iconv_up_t _T_iconv_open(const char* aTarget, const char* aSource)
{
    iconv_t handle = iconv_open(aTarget, aSource);
    if (reinterpret_cast<std::intptr_t>(handle) == -1)
        handle = nullptr;
    return iconv_up_t(handle, &iconv_close);
}

template <typename Fold> std::string _T_fold(const std::string& aSource, Fold aFold)
{
    std::string result(aSource);
    std::transform(result.begin(), result.end(), result.begin(),
                   [aFold](char aChar)
                   { return static_cast<char>(aFold(static_cast<unsigned char>(aChar))); });
    return result;
}

} // namespace

std::string TextJoin(char aDelim, const std::vector<std::string>& aSegments)
{
    std::string text;
    for (std::size_t i = 0; i < aSegments.size(); ++i)
    {
        if (i > 0)
            text += aDelim;
        text += aSegments[i];
    }
    return text;
}

void TextSplit(const std::string& aString, char aDelim, std::vector<std::string>& aSegments)
{
    TextSplit(aString, std::string(1, aDelim), aSegments);
}

void TextSplit(const std::string& aString, const std::string& aDelim,
               std::vector<std::string>& aSegments)
{
    // An empty delimiter would never advance the search.
    if (aDelim.empty())
    {
        LOG_WRITE(1, "fail: empty delimiter (text:<%s>)", aString.c_str());
        throw params_error();
    }
    std::size_t segStop = 0;
    for (;;)
    {
        const std::size_t segStart = aString.find_first_not_of(aDelim, segStop);
        if (segStart == std::string::npos)
            return;
        segStop = aString.find(aDelim, segStart);
        aSegments.push_back(aString.substr(segStart, segStop - segStart));
    }
}

std::string TextTrim(const std::string& aString, const std::string& aChars, std::size_t aPos)
{
    const std::size_t strBegin = aString.find_first_not_of(aChars, aPos);
    if (strBegin == std::string::npos)
        return std::string();
    const std::size_t strEnd = aString.find_last_not_of(aChars);
    return aString.substr(strBegin, strEnd - strBegin + 1);
}

std::string TextTrimL(const std::string& aString, const std::string& aChars, std::size_t aPos)
{
    const std::size_t strBegin = aString.find_first_not_of(aChars, aPos);
    if (strBegin == std::string::npos)
        return std::string();
    return aString.substr(strBegin);
}

std::string TextTrimR(const std::string& aString, const std::string& aChars, std::size_t aPos)
{
    const std::size_t strEnd = aString.find_last_not_of(aChars, aPos);
    if (strEnd == std::string::npos)
        return std::string();
    return aString.substr(0, strEnd + 1);
}

void TextDecodeParamValue(const std::string& aText, std::string& aParam, std::string& aValue,
                          char aDelim)
{
    const std::size_t delimPos = aText.find(aDelim);
    if (delimPos == std::string::npos)
    {
        aParam = aText;
        aValue.clear();
        return;
    }
    // Both parts are taken before either output is written: an output may be aText itself.
    std::string param = delimPos == 0 ? std::string() : TextTrimR(aText, kBLANKS, delimPos - 1);
    std::string value = TextTrimL(aText, kBLANKS, delimPos + 1);
    aParam = std::move(param);
    aValue = std::move(value);
}

std::string TextDecodeValue(const std::string& aText, char aDelim)
{
    const std::size_t lineSeek = aText.find(aDelim);
    if (lineSeek == std::string::npos)
    {
        LOG_WRITE(1, "fail: find (text:<%s>, delim:<%c>)", aText.c_str(), aDelim);
        throw params_error();
    }
    std::string value = TextTrimL(aText, kBLANKS, lineSeek + 1);
    if (value.empty())
    {
        LOG_WRITE(1, "fail: value absent (text:<%s>, delim:<%c>)", aText.c_str(), aDelim);
        throw params_error();
    }
    return value;
}

std::string TextToUpper(const std::string& aSource)
{
    return _T_fold(aSource, [](int aChar) { return std::toupper(aChar); });
}

std::string TextToLower(const std::string& aSource)
{
    return _T_fold(aSource, [](int aChar) { return std::tolower(aChar); });
}

std::string TextEncodeUtf8(const wchar_t* aTextAsUtf32)
{
    // A Unicode character takes at most 4 bytes in UTF-8. The converter writes values beyond
    // Unicode in the old 5- and 6-byte forms and may fill the buffer completely, so the cut
    // below relies on the string's own terminator rather than on a zero byte in the buffer.
    const std::size_t length = std::wcslen(aTextAsUtf32);
    std::string result(4 * length + 1, '\0');
    const iconv_up_t converter = _T_iconv_open(kCHARSET_UTF8, kCHARSET_WCHAR);
    if (!converter)
        return std::string();
    char* source = reinterpret_cast<char*>(const_cast<wchar_t*>(aTextAsUtf32));
    std::size_t sourceLeft = (length + 1) * sizeof(wchar_t);
    char* target = &result[0];
    std::size_t targetLeft = result.size();
    iconv(converter.get(), &source, &sourceLeft, &target, &targetLeft);
    result.resize(std::strlen(result.c_str()));
    return result;
}

bool TextDecodeUtf8(wchar_t* aTargetData, std::size_t aTargetSize, const char* aSourceData,
                    std::size_t aSourceSize)
{
    const iconv_up_t converter = _T_iconv_open(kCHARSET_WCHAR, kCHARSET_UTF8);
    if (!converter)
    {
        LOG_WRITE(2, "fail: iconv_open (source:<UTF-8>, target:<WCHAR_T>, errno:<%s>)",
                  std::strerror(errno));
        throw internal_error();
    }
    char* source = const_cast<char*>(aSourceData);
    std::size_t sourceLeft = aSourceSize != 0 ? aSourceSize : std::strlen(aSourceData);
    // Whole wide characters only, less one byte: the converter then always leaves room for the
    // terminator, or no room at all when the buffer cannot hold even that.
    const std::size_t room = aTargetSize / sizeof(wchar_t) * sizeof(wchar_t);
    char* target = reinterpret_cast<char*>(aTargetData);
    std::size_t targetLeft = room == 0 ? 0 : room - 1;
    iconv(converter.get(), &source, &sourceLeft, &target, &targetLeft);
    if (sourceLeft != 0)
    {
        LOG_WRITE(1, "fail: iconv (source-left:%zu)", sourceLeft);
        throw internal_error();
    }
    if (targetLeft == 0)
    {
        LOG_WRITE(1, "fail: iconv (target-left:%zu)", targetLeft);
        throw internal_error();
    }
    aTargetData[(room - 1 - targetLeft) / sizeof(wchar_t)] = L'\0';
    return true;
}

std::wstring TextTransPlate(const std::wstring& aSource)
{
    static const std::map<wchar_t, wchar_t> _S_ucode_to_ascii_map{
        {L'\u0410', L'A'}, {L'\u0412', L'B'}, {L'\u0421', L'C'}, {L'\u0415', L'E'},
        {L'\u041D', L'H'}, {L'\u0406', L'I'}, {L'\u041A', L'K'}, {L'\u041C', L'M'},
        {L'\u041E', L'O'}, {L'\u0420', L'P'}, {L'\u0422', L'T'}, {L'\u0425', L'X'}};
    std::wstring result(aSource);
    for (wchar_t& character : result)
    {
        const auto found = _S_ucode_to_ascii_map.find(character);
        if (found != _S_ucode_to_ascii_map.end())
            character = found->second;
    }
    return result;
}

} // namespace Support
} // namespace Orvo
