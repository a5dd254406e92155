// The flash copy across simulator lifetimes, and the flash file itself.
#include "sensor_sim.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "flash_file.hpp"
#include "sim_client.hpp"
#include "uat11.h"

namespace
{

using namespace Orvo::Support::Vesk11Sim;
using namespace vesk11_sim_test;

std::string read_text(const std::string& aPath)
{
    std::ifstream in(aPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const std::string& aPath, const std::string& aText)
{
    std::ofstream(aPath) << aText;
}

bool exists(const std::string& aPath)
{
    struct stat info
    {
    };
    return stat(aPath.c_str(), &info) == 0;
}

class sim_flash : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk11-sim-flash-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/flash.txt";
        options_.flash_path = path_;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string dir_;
    std::string path_;
    sim_options options_;
};

TEST_F(sim_flash, update_flash_survives_into_the_next_lifetime)
{
    {
        sensor_sim sim(options_);
        ASSERT_TRUE(sim.start()) << sim.error();
        EXPECT_TRUE(exists(path_)) << "a missing file is created with the factory values";
        sim_client client(sim.path());
        uat4_action_t action;
        Uat11__InitSetGetParamRdfSpeedLimit3Max(&action, 12.5f);
        client.exchange(action);
        Uat11__InitSetGetParamRdfSpeedLimitEnable(&action, 0);
        client.exchange(action);
        Uat11__InitCommandUpdateFlashConf(&action, 0xFFFFFFFF);
        EXPECT_EQ(client.exchange(action).result, kRESULT_OK);
        EXPECT_NE(read_text(path_).find("2000 456 f32 0x41480000\n"), std::string::npos)
            << "written at once:\n"
            << read_text(path_);
        Uat11__InitSetGetParamZ(&action, 9.0f); // RAM only: lost at the end
        client.exchange(action);
    }
    EXPECT_FALSE(exists(path_ + ".tmp"));
    sensor_sim sim(options_);
    ASSERT_TRUE(sim.start()) << sim.error();
    uint32_t bits = 0;
    ASSERT_TRUE(sim.ram_value(2000, 456, &bits));
    EXPECT_EQ(bits, Uat4__F32ToBits(12.5f));
    ASSERT_TRUE(sim.flash_value(2000, 450, &bits));
    EXPECT_EQ(bits, 0u);
    ASSERT_TRUE(sim.ram_value(2000, 52, &bits));
    EXPECT_EQ(bits, Uat4__F32ToBits(1.5f));
}

TEST_F(sim_flash, reset_flash_persists_the_factory_values)
{
    std::vector<flash_entry_t> entries;
    std::string error;
    {
        sensor_sim sim(options_);
        ASSERT_TRUE(sim.start()) << sim.error();
    }
    std::string factory = read_text(path_);
    ASSERT_EQ(load_flash_file(path_, entries, error), flash_load_t::kLOADED) << error;
    for (flash_entry_t& entry : entries)
        entry.bits = entry.value_type == 2 ? Uat4__F32ToBits(3.0f) : 3u;
    ASSERT_TRUE(save_flash_file(path_, entries, error)) << error;
    {
        sensor_sim sim(options_);
        ASSERT_TRUE(sim.start()) << sim.error();
        uint32_t bits = 0;
        ASSERT_TRUE(sim.ram_value(2000, 104, &bits));
        EXPECT_EQ(bits, 3u);
        sim_client client(sim.path());
        uat4_action_t action;
        Uat11__InitCommandResetFlashConf(&action, 0xFFFFFFFF);
        EXPECT_EQ(client.exchange(action).result, kRESULT_OK);
    }
    EXPECT_EQ(read_text(path_), factory);
}

TEST_F(sim_flash, a_damaged_file_is_refused_and_left_alone)
{
    {
        sensor_sim sim(options_);
        ASSERT_TRUE(sim.start()) << sim.error();
    }
    std::string good = read_text(path_);
    auto replace = [&](const std::string& aFrom, const std::string& aTo)
    {
        std::string text = good;
        text.replace(text.find(aFrom), aFrom.size(), aTo);
        return text;
    };
    const std::pair<const char*, std::string> cases[] = {
        {"truncated", good.substr(0, good.size() / 2)},
        {"no end line", replace("end\n", "")},
        {"wrong first line", replace("vesk11-sim flash 1", "vesk11-sim flash 2")},
        {"bad hex", replace("2000 50 f32 0x3e800000", "2000 50 f32 0x3e80000g")},
        {"wrong type", replace("2000 50 f32", "2000 50 i32")},
        {"unknown parameter", replace("2000 50 f32", "2000 49 f32")},
        {"duplicate", replace("2000 51 f32 0xbf000000", "2000 50 f32 0xbf000000")},
        {"missing parameter", replace("2000 51 f32 0xbf000000\n", "")},
        {"text after end", good + "2000 50 f32 0x00000000\n"},
        {"empty", ""},
    };
    for (const auto& c : cases)
    {
        write_text(path_, c.second);
        sensor_sim sim(options_);
        EXPECT_FALSE(sim.start()) << c.first;
        EXPECT_NE(sim.error().find("damaged flash file"), std::string::npos) << sim.error();
        sim.stop();
        EXPECT_EQ(read_text(path_), c.second) << c.first << ": not replaced";
    }
}

TEST_F(sim_flash, a_failed_write_is_answered_with_a_result_and_changes_no_copy)
{
    sensor_sim sim(options_);
    ASSERT_TRUE(sim.start()) << sim.error();
    sim_client client(sim.path());
    uat4_action_t action;
    Uat11__InitSetGetParamX(&action, 7.0f);
    ASSERT_EQ(client.exchange(action).result, kRESULT_OK);
    // The path turns into a folder: the new file cannot be renamed over it.
    ASSERT_EQ(unlink(path_.c_str()), 0);
    ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
    void (*const commands[])(uat4_action_t*, uint32_t) = {Uat11__InitCommandUpdateFlashConf,
                                                          Uat11__InitCommandResetFlashConf};
    for (auto command : commands)
    {
        command(&action, 0xFFFFFFFF);
        EXPECT_EQ(client.exchange(action).result, kRESULT_FLASH_FAILED);
        uint32_t bits = 0;
        ASSERT_TRUE(sim.flash_value(2000, 50, &bits));
        EXPECT_EQ(bits, Uat4__F32ToBits(0.25f)) << "flash copy as the file last held it";
        ASSERT_TRUE(sim.ram_value(2000, 50, &bits));
        EXPECT_EQ(bits, Uat4__F32ToBits(7.0f)) << "RAM untouched";
    }
    EXPECT_FALSE(exists(path_ + ".tmp")) << "the new file is not left behind";
    ASSERT_EQ(rmdir(path_.c_str()), 0);
    Uat11__InitCommandUpdateFlashConf(&action, 0xFFFFFFFF);
    EXPECT_EQ(client.exchange(action).result, kRESULT_OK) << "the path is usable again";
    EXPECT_NE(read_text(path_).find("2000 50 f32 0x40e00000\n"), std::string::npos);
}

// A symlinked flash file stays a symlink: the file it names is the one replaced.
TEST_F(sim_flash, a_symlink_is_written_through)
{
    struct link_case
    {
        const char* what;
        std::string link_text; // relative to dir_, or absolute
        std::string target;    // the file that must hold the flash copy
    };
    ASSERT_EQ(mkdir((dir_ + "/real").c_str(), 0755), 0);
    const link_case cases[] = {
        {"relative link into a folder", "real/relative.txt", dir_ + "/real/relative.txt"},
        {"absolute link", dir_ + "/real/absolute.txt", dir_ + "/real/absolute.txt"},
        {"link to a link", "chained", dir_ + "/real/chained.txt"},
    };
    ASSERT_EQ(symlink("real/chained.txt", (dir_ + "/chained").c_str()), 0);
    for (const link_case& c : cases)
    {
        unlink(path_.c_str());
        ASSERT_EQ(symlink(c.link_text.c_str(), path_.c_str()), 0) << c.what;
        {
            sensor_sim sim(options_);
            ASSERT_TRUE(sim.start()) << c.what << ": " << sim.error();
            EXPECT_TRUE(exists(c.target)) << c.what << ": created through the link";
            sim_client client(sim.path());
            uat4_action_t action;
            Uat11__InitSetGetParamX(&action, 7.0f);
            client.exchange(action);
            Uat11__InitCommandUpdateFlashConf(&action, 0xFFFFFFFF);
            EXPECT_EQ(client.exchange(action).result, kRESULT_OK) << c.what;
        }
        struct stat info
        {
        };
        ASSERT_EQ(lstat(path_.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << c.what << ": the link was replaced";
        EXPECT_NE(read_text(c.target).find("2000 50 f32 0x40e00000\n"), std::string::npos)
            << c.what;
        EXPECT_FALSE(exists(c.target + ".tmp")) << c.what;
        EXPECT_FALSE(exists(path_ + ".tmp")) << c.what;
    }
}

TEST_F(sim_flash, file_round_trips_through_save_and_load)
{
    const std::vector<flash_entry_t> entries = {
        {2000, 50, 2, 0xBF800000},
        {2000, 104, 0, 0xFFFFFFFF},
    };
    std::string error;
    ASSERT_TRUE(save_flash_file(path_, entries, error)) << error;
    EXPECT_EQ(read_text(path_), "vesk11-sim flash 1\n"
                                "2000 50 f32 0xbf800000\n"
                                "2000 104 i32 0xffffffff\n"
                                "end\n");
    std::vector<flash_entry_t> loaded;
    ASSERT_EQ(load_flash_file(path_, loaded, error), flash_load_t::kLOADED) << error;
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[1].bits, 0xFFFFFFFFu);
    EXPECT_EQ(loaded[1].value_type, 0);
    EXPECT_EQ(loaded[0].value_type, 2);
    EXPECT_EQ(load_flash_file(dir_ + "/absent", loaded, error), flash_load_t::kABSENT);
    EXPECT_FALSE(save_flash_file(dir_ + "/no/such/dir", entries, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

} // namespace
