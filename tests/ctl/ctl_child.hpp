// End-to-end harness of vesk11-ctl: the real program as a child against the simulated sensor on a
// pseudo-terminal, whose settings every run must leave as found, and documents in temp files.
#ifndef VESK11_TESTS_CTL_CTL_CHILD_HPP
#define VESK11_TESTS_CTL_CTL_CHILD_HPP

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_child.hpp"

namespace vesk11_test
{

class ctl_fixture : public sim_fixture
{
  protected:
    void TearDown() override
    {
        for (const std::string& path : files_)
            unlink(path.c_str());
        sim_fixture::TearDown();
    }

    // VESK11_CLI_ENDPOINT names the sensor's line unless aEnv is given.
    cli_result ctl(const std::vector<std::string>& aArgs)
    {
        return ctl(aArgs, {"VESK11_CLI_ENDPOINT=" + sim_->path()});
    }

    cli_result ctl(const std::vector<std::string>& aArgs, const std::vector<std::string>& aEnv)
    {
        cli_result result = run_cli(aArgs, aEnv, nullptr, VESK11_CTL_BINARY);
        if (sim_)
            expect_line_restored();
        return result;
    }

    // A temp file holding aText, removed after the test.
    std::string file_with(const std::string& aText)
    {
        const std::string path = temp_file();
        std::ofstream(path, std::ios::binary) << aText;
        files_.push_back(path);
        return path;
    }

    // A path in /tmp that does not exist yet, removed after the test.
    std::string new_path()
    {
        const std::string path = temp_file();
        unlink(path.c_str());
        files_.push_back(path);
        return path;
    }

    uint32_t ram(uint16_t aGroup, uint16_t aArray) const
    {
        uint32_t bits = 0;
        EXPECT_TRUE(sim_->ram_value(aGroup, aArray, &bits));
        return bits;
    }

    uint32_t flash(uint16_t aGroup, uint16_t aArray) const
    {
        uint32_t bits = 0;
        EXPECT_TRUE(sim_->flash_value(aGroup, aArray, &bits));
        return bits;
    }

    // The queries of one action type (4: set and read back, 0: command) the sensor received.
    std::vector<Orvo::Support::Vesk11Sim::sim_query> queries_of(uint8_t aActionType) const
    {
        std::vector<Orvo::Support::Vesk11Sim::sim_query> found;
        for (const auto& query : sim_->queries())
        {
            if (query.action_type == aActionType)
                found.push_back(query);
        }
        return found;
    }

    static nlohmann::json json_of(const cli_result& aRun)
    {
        return nlohmann::json::parse(aRun.out, nullptr, false);
    }

  private:
    std::vector<std::string> files_;
};

} // namespace vesk11_test

#endif
