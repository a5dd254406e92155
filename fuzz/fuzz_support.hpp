// What the fuzz targets share: a broken invariant stops the run, the log is formatted as in the
// tool and thrown away, and null bytes cut an input's text into words.
#ifndef VESK11_FUZZ_FUZZ_SUPPORT_HPP
#define VESK11_FUZZ_FUZZ_SUPPORT_HPP

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log.h"

namespace vesk11_fuzz
{

// What the target's invariants are about ("exchange", "text" ...): each target defines it.
extern const char* const kSUBJECT;

// Stops the run when an invariant is broken: libFuzzer keeps the input as a crash.
inline void require(bool aCondition, const char* aWhat)
{
    if (aCondition)
        return;
    std::fprintf(stderr, "%s invariant broken: %s\n", kSUBJECT, aWhat);
    std::abort();
}

// Records are formatted as in the tool (maximum level 4), then thrown away.
inline void open_log(const char* aName)
{
    setenv("LOG2_FILE", "/dev/null", 1);
    LogOpen2(aName, 4, 0);
}

// The pieces of aText between null bytes, as in an argument vector: one more than it has nulls.
inline std::vector<std::string> split_at_nulls(const std::string& aText)
{
    std::vector<std::string> words;
    size_t at = 0;
    for (;;)
    {
        const size_t end = aText.find('\0', at);
        words.push_back(aText.substr(at, end - at));
        if (end == std::string::npos)
            return words;
        at = end + 1;
    }
}

} // namespace vesk11_fuzz

#endif
