// info, dump and diff: the sensor's identity and its configuration against a document.
#include <utility>

#include "ctl_commands.hpp"
#include "ctl_error.hpp"
#include "ctl_file.hpp"
#include "ctl_shared.hpp"
#include "uat11_names.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

std::vector<ctl_item> _T_parameter_items()
{
    std::vector<ctl_item> items;
    for (size_t i = 0; i < Uat11Names__Count(); ++i)
    {
        if (Uat11Names__At(i)->kind == kUAT11_KIND_PARAM)
            items.push_back(CatalogueItem(*Uat11Names__At(i)));
    }
    return items;
}

std::string _T_plain(const ctl_json& aValue)
{
    return aValue.is_string() ? aValue.get<std::string>() : aValue.dump();
}

void _T_show_differences(ctl_output& aOutput, const std::vector<document_entry>& aEntries,
                         const std::vector<uint32_t>& aValues)
{
    ctl_json differences = ctl_json::array();
    for (size_t i = 0; i < aEntries.size(); ++i)
    {
        const ctl_item& item = aEntries[i].item;
        if (aValues[i] == aEntries[i].bits)
            continue;
        if (!aOutput.json())
        {
            std::string text = item.name;
            text += ": sensor ";
            text += ValueText(item.value_type, aValues[i]);
            text += ", file ";
            text += ValueText(item.value_type, aEntries[i].bits);
            aOutput.line(text);
        }
        ctl_json difference = ItemJson(item);
        difference["sensor"] = ValueJson(item.value_type, aValues[i]);
        difference["file"] = ValueJson(item.value_type, aEntries[i].bits);
        differences.push_back(std::move(difference));
    }
    if (aOutput.json())
        aOutput.emit(ctl_json{{"equal", differences.empty()}, {"differences", differences}});
}

} // namespace

int RunInfo(const ctl_options& aOptions, ctl_output& aOutput)
{
    sensor_link link(LinkSettings(aOptions));
    const ctl_json identity = ReadIdentity(link, aOutput, kIDENTITY_COUNT);
    if (aOutput.json())
    {
        aOutput.emit(identity);
        return kEXIT_OK;
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& member : identity.items())
        rows.push_back({member.key(), _T_plain(member.value())});
    aOutput.rows(rows);
    return kEXIT_OK;
}

int RunDump(const ctl_options& aOptions, ctl_output& aOutput)
{
    const std::vector<ctl_item> items = _T_parameter_items();
    const size_t total = kIDENTITY_COUNT + items.size();
    config_document document;
    {
        sensor_link link(LinkSettings(aOptions));
        document.sensor = ReadIdentity(link, aOutput, total);
        const std::vector<uint32_t> values =
            ReadValues(link, items, aOutput, kIDENTITY_COUNT, total);
        for (size_t i = 0; i < items.size(); ++i)
            document.parameters.push_back(document_entry{items[i], values[i]});
    }
    const std::string text = DocumentWrite(document);
    if ((aOptions.given & kOPTION_OUTPUT) == 0)
    {
        aOutput.line(text.substr(0, text.size() - 1));
        return kEXIT_OK;
    }
    WriteOutputFile(aOptions.output, text);
    if (aOutput.json())
        aOutput.emit(ctl_json{{"file", aOptions.output}, {"parameters", items.size()}});
    else
        aOutput.note("wrote " + std::to_string(items.size()) + " parameters to " + aOptions.output);
    return kEXIT_OK;
}

int RunDiff(const ctl_options& aOptions, ctl_output& aOutput)
{
    const config_document document = LoadDocument(aOptions.words[0]);
    std::vector<ctl_item> items;
    for (const document_entry& entry : document.parameters)
        items.push_back(entry.item);
    std::vector<uint32_t> values;
    {
        sensor_link link(LinkSettings(aOptions));
        values = ReadValues(link, items, aOutput, 0, items.size());
    }
    _T_show_differences(aOutput, document.parameters, values);
    for (size_t i = 0; i < values.size(); ++i)
    {
        if (values[i] != document.parameters[i].bits)
            return kEXIT_DIFFERS;
    }
    return kEXIT_OK;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
