// Text utilities: splitting, joining, trimming, name/value decoding, case folding and the
// UTF-8 / wide-character conversions. None keeps state or changes its inputs.
#ifndef VESK11_SDK_CORE_TEXT_HPP
#define VESK11_SDK_CORE_TEXT_HPP

#include <cstddef>
#include <string>
#include <vector>

namespace Orvo
{
namespace Support
{

// The segments joined by aDelim; empty segments keep their delimiters.
std::string TextJoin(char aDelim, const std::vector<std::string>& aSegments);

// Append the non-empty pieces of aString between delimiters to aSegments (not cleared first).
void TextSplit(const std::string& aString, char aDelim, std::vector<std::string>& aSegments);
// Pieces are separated by the whole of aDelim; any characters of aDelim are skipped before a
// piece. An empty aDelim logs a failure and throws params_error.
void TextSplit(const std::string& aString, const std::string& aDelim,
               std::vector<std::string>& aSegments);

// Drop the characters of aChars at both ends; text before aPos is dropped.
std::string TextTrim(const std::string& aString, const std::string& aChars, std::size_t aPos = 0);
// Drop the characters of aChars at the start; text before aPos is dropped.
std::string TextTrimL(const std::string& aString, const std::string& aChars, std::size_t aPos = 0);
// Drop the characters of aChars at the end; text after aPos is dropped.
std::string TextTrimR(const std::string& aString, const std::string& aChars,
                      std::size_t aPos = std::string::npos);

// Split aText at its first aDelim: blanks before the delimiter and after it are removed. Without
// a delimiter aParam is the whole text and aValue is empty. Never fails.
void TextDecodeParamValue(const std::string& aText, std::string& aParam, std::string& aValue,
                          char aDelim);
// The text after the first aDelim without leading blanks; a missing delimiter or an empty value
// logs a failure and throws params_error.
std::string TextDecodeValue(const std::string& aText, char aDelim);

// ASCII letters folded; the locale is never changed by the program.
std::string TextToUpper(const std::string& aSource);
std::string TextToLower(const std::string& aSource);

// The UTF-8 form of a null-terminated wide string; empty if no converter is available, cut
// where the conversion stops.
std::string TextEncodeUtf8(const wchar_t* aTextAsUtf32);

// Converts aSourceSize bytes of UTF-8 (up to its null when aSourceSize is 0) into aTargetData
// and terminates it with a wide null. aTargetSize is the size of the target buffer in BYTES;
// only whole wide characters of it are used, so the text and its terminator always fit. Throws
// internal_error, after logging, when the converter cannot be opened, the input is not valid
// UTF-8 or the text and its terminator do not fit. Returns true otherwise.
bool TextDecodeUtf8(wchar_t* aTargetData, std::size_t aTargetSize, const char* aSourceData,
                    std::size_t aSourceSize);

// Cyrillic capitals that look like Latin capitals become those Latin capitals.
std::wstring TextTransPlate(const std::wstring& aSource);

} // namespace Support
} // namespace Orvo

#endif
