#include <sstream>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "cli.hpp"

namespace
{

using Orvo::Support::cli_engine_like;
using Orvo::Support::cli_response;

static_assert(std::is_abstract<cli_engine_like>::value, "engines implement usage and activate");
static_assert(std::has_virtual_destructor<cli_engine_like>::value,
              "engines are destroyed through the interface");

// Counts flushes, so that a render that flushes is caught.
class counting_buf : public std::stringbuf
{
  public:
    int syncs_ = 0;

  protected:
    int sync() override
    {
        ++syncs_;
        return std::stringbuf::sync();
    }
};

struct rendered
{
    std::string out;
    std::string err;
    int status;
};

rendered _T_render(const cli_response& aResponse)
{
    std::ostringstream out;
    std::ostringstream err;
    const int status = aResponse.render(out, err);
    return {out.str(), err.str(), status};
}

TEST(cli_response, factories_set_their_status_whatever_the_texts)
{
    using factory_t = cli_response (*)(std::string, std::string);
    const struct
    {
        factory_t factory;
        int status;
    } cases[] = {
        {&cli_response::done, 0},
        {&cli_response::fail_external, 64},
        {&cli_response::fail_internal, 70},
    };
    for (const auto& test : cases)
    {
        for (const char* text : {"", "DONE\n", "FAIL\n"})
        {
            const rendered result = _T_render(test.factory(text, text));
            EXPECT_EQ(result.status, test.status) << text;
            EXPECT_EQ(result.out, text);
            EXPECT_EQ(result.err, text);
        }
    }
}

TEST(cli_response, done_renders_exactly_five_bytes)
{
    const rendered result = _T_render(cli_response::done("DONE\n", ""));
    EXPECT_EQ(result.out, "DONE\n");
    EXPECT_EQ(result.out.size(), 5u);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

TEST(cli_response, empty_texts_render_nothing_but_keep_the_status)
{
    counting_buf out;
    counting_buf err;
    std::ostream outStream(&out);
    std::ostream errStream(&err);
    EXPECT_EQ(cli_response(42, "", "").render(outStream, errStream), 42);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
}

TEST(cli_response, error_text_comes_first_and_nothing_is_added_or_flushed)
{
    counting_buf both;
    std::ostream stream(&both);
    EXPECT_EQ(cli_response::fail_internal("out", "err").render(stream, stream), 70);
    EXPECT_EQ(both.str(), "errout");
    EXPECT_EQ(both.syncs_, 0);
}

} // namespace
