// get and set: values by name, read, or written and read back.
#include <utility>

#include "ctl_commands.hpp"
#include "ctl_error.hpp"
#include "ctl_shared.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

struct assignment
{
    ctl_item item;
    uint32_t bits;
};

// NAME=VALUE: a writable item and a value of its type, or a usage error.
assignment _T_assignment(const std::string& aWord)
{
    const size_t equals = aWord.find('=');
    if (equals == std::string::npos)
        throw UsageError("'" + aWord + "' is not NAME=VALUE");
    assignment value{ItemOrUsageError(aWord.substr(0, equals)), 0};
    const ctl_item& item = value.item;
    if (item.kind != kUAT11_KIND_PARAM)
        throw UsageError(item.name + (item.kind == kUAT11_KIND_STATUS
                                          ? " is a status value: it cannot be set"
                                          : " is a command, not a parameter"));
    const std::string text = aWord.substr(equals + 1);
    if (!ValueFromText(text, item.value_type, &value.bits))
        throw UsageError(item.name + "=" + text + ": " +
                         (item.value_type == kUAT4_VALUE_F32
                              ? "not a finite number"
                              : "not a whole number from -2147483648 to 2147483647"));
    return value;
}

ctl_json _T_values_json(const std::vector<ctl_item>& aItems, const std::vector<uint32_t>& aValues)
{
    ctl_json values = ctl_json::array();
    for (size_t i = 0; i < aValues.size(); ++i)
    {
        ctl_json value = ItemJson(aItems[i]);
        value["value"] = ValueJson(aItems[i].value_type, aValues[i]);
        values.push_back(std::move(value));
    }
    return values;
}

void _T_show(ctl_output& aOutput, const std::vector<ctl_item>& aItems,
             const std::vector<uint32_t>& aValues, bool aSaved)
{
    if (aOutput.json())
    {
        ctl_json report{{"values", _T_values_json(aItems, aValues)}};
        if (aSaved)
            report["saved"] = true;
        aOutput.emit(report);
        return;
    }
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < aValues.size(); ++i)
        rows.push_back(
            {aItems[i].name, ItemId(aItems[i]), ValueText(aItems[i].value_type, aValues[i])});
    aOutput.rows(rows);
    if (aSaved)
        aOutput.note("saved to flash");
}

} // namespace

int RunGet(const ctl_options& aOptions, ctl_output& aOutput)
{
    std::vector<ctl_item> items;
    for (const std::string& word : aOptions.words)
    {
        items.push_back(ItemOrUsageError(word));
        if (items.back().kind == kUAT11_KIND_COMMAND)
            throw UsageError(items.back().name + " is a command: it has no value to read");
    }
    sensor_link link(LinkSettings(aOptions));
    const std::vector<uint32_t> values = ReadValues(link, items, aOutput, 0, items.size());
    _T_show(aOutput, items, values, false);
    return kEXIT_OK;
}

int RunSet(const ctl_options& aOptions, ctl_output& aOutput)
{
    std::vector<assignment> assignments;
    for (const std::string& word : aOptions.words)
        assignments.push_back(_T_assignment(word));
    const bool save = (aOptions.given & kOPTION_SAVE) != 0;
    const size_t total = assignments.size() + (save ? 1 : 0);
    sensor_link link(LinkSettings(aOptions));
    std::vector<ctl_item> items;
    std::vector<uint32_t> values;
    for (const assignment& value : assignments)
    {
        aOutput.progress(items.size() + 1, total, value.item.name);
        try
        {
            link.write(value.item, value.bits);
        }
        catch (const ctl_error& x)
        {
            // What was written before stays written: the report says so.
            ctl_json report{{"values", _T_values_json(items, values)}};
            throw x.withReport(std::move(report));
        }
        items.push_back(value.item);
        values.push_back(value.bits);
    }
    if (save)
    {
        aOutput.progress(total, total, "saving to flash");
        SaveToFlash(link);
    }
    _T_show(aOutput, items, values, save);
    return kEXIT_OK;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
