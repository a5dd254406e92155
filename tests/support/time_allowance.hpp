// How long a test lets a step take at most. Tests judge time by the order of events and by
// counts; the few upper bounds left all go through within_ms, which a loaded or slowed-down
// machine widens in one place: VESK11_TEST_SLACK multiplies every bound (default 3), and a
// wrapper (VESK11_TEST_WRAPPER, valgrind) adds its start-up on top.
#ifndef VESK11_TESTS_SUPPORT_TIME_ALLOWANCE_HPP
#define VESK11_TESTS_SUPPORT_TIME_ALLOWANCE_HPP

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace vesk11_test
{

// The words of VESK11_TEST_WRAPPER, blank-separated; none when it is unset or empty.
inline std::vector<std::string> wrapper_words()
{
    std::vector<std::string> words;
    std::istringstream text(getenv("VESK11_TEST_WRAPPER") ? getenv("VESK11_TEST_WRAPPER") : "");
    for (std::string word; text >> word;)
        words.push_back(word);
    return words;
}

// What a wrapped run may take longer: start-up and a slowed-down tool.
inline long wrapper_allowance_ms()
{
    return wrapper_words().empty() ? 0 : 20000;
}

// The factor of VESK11_TEST_SLACK (at least 1), else 3: a busy machine runs slower.
inline double time_slack()
{
    const char* text = getenv("VESK11_TEST_SLACK");
    const double factor = text != nullptr ? std::strtod(text, nullptr) : 3.0;
    return factor >= 1.0 ? factor : 1.0;
}

// An upper time limit of a step that takes aNativeMs on an idle machine.
inline long within_ms(long aNativeMs)
{
    return static_cast<long>(static_cast<double>(aNativeMs) * time_slack()) +
           wrapper_allowance_ms();
}

} // namespace vesk11_test

#endif
