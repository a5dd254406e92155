#include "ctl_shared.hpp"

#include "ctl_error.hpp"
#include "ctl_file.hpp"
#include "log.h"
#include "uat11.h"
#include "uat11_names.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// The status values that tell what the sensor is, in the order they are read.
const char* const kIDENTITY_NAMES[] = {
    "hw_serial",         "hw_antenna",       "fw_version_gen",    "fw_version_major",
    "fw_version_minor",  "fw_version_patch", "app_version_major", "app_version_minor",
    "app_version_patch", "app_variant",      "app_type",
};
static_assert(sizeof kIDENTITY_NAMES / sizeof kIDENTITY_NAMES[0] == kIDENTITY_COUNT,
              "every identity value is counted");

std::vector<ctl_item> _T_identity_items()
{
    std::vector<ctl_item> items;
    for (const char* name : kIDENTITY_NAMES)
        items.push_back(CatalogueItem(*Uat11Names__Find(name)));
    return items;
}

std::string _T_version(const std::vector<uint32_t>& aValues, size_t aFirst, size_t aCount)
{
    std::string text;
    for (size_t i = aFirst; i < aFirst + aCount; ++i)
        text += (text.empty() ? "" : ".") + std::to_string(static_cast<int32_t>(aValues[i]));
    return text;
}

} // namespace

link_settings LinkSettings(const ctl_options& aOptions)
{
    link_settings settings{aOptions.device, aOptions.timeout_ms, aOptions.retries};
    settings.rs485 = aOptions.rs485;
    settings.signals = aOptions.signals;
    return settings;
}

std::vector<uint32_t> ReadValues(sensor_link& aLink, const std::vector<ctl_item>& aItems,
                                 ctl_output& aOutput, std::size_t aDone, std::size_t aTotal)
{
    std::vector<uint32_t> values;
    for (const ctl_item& item : aItems)
    {
        aOutput.progress(aDone + values.size() + 1, aTotal, item.name);
        values.push_back(aLink.read(item));
    }
    return values;
}

ctl_json ReadIdentity(sensor_link& aLink, ctl_output& aOutput, size_t aTotal)
{
    const std::vector<uint32_t> values = ReadValues(aLink, _T_identity_items(), aOutput, 0, aTotal);
    auto number = [&values](size_t aIndex) { return static_cast<int32_t>(values[aIndex]); };
    return ctl_json{{"hw_serial", number(0)},
                    {"hw_antenna", number(1)},
                    {"firmware", _T_version(values, 2, 4)},
                    {"application", _T_version(values, 6, 3)},
                    {"app_variant", number(9)},
                    {"app_type", number(10)}};
}

config_document LoadDocument(const std::string& aPath)
{
    const std::string text = ReadInputFile(aPath, kDOCUMENT_MAX_SIZE);
    try
    {
        config_document document = DocumentRead(text);
        LOG_WRITE(3, "done: %s (%zu parameters)", aPath.c_str(), document.parameters.size());
        return document;
    }
    catch (const ctl_error& x)
    {
        LOG_WRITE(1, "fail: %s <%s>", aPath.c_str(), x.message().c_str());
        throw x.withMessage(aPath + ": " + x.message());
    }
}

void SaveToFlash(sensor_link& aLink)
{
    uat4_action_t action{};
    Uat11__InitCommandUpdateFlashConf(&action, kALL_GROUPS);
    aLink.command(action, "saving to flash");
}

ctl_json ItemJson(const ctl_item& aItem)
{
    return ctl_json{{"name", aItem.name}, {"group", aItem.group}, {"id", aItem.array}};
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
