#include "ctl_document.hpp"

#include <algorithm>
#include <set>
#include <utility>

#include "ctl_error.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

constexpr int kMAX_DEPTH = 16;
constexpr const char* kFORMAT_PREFIX = "vesk11-config/";

std::string _T_key(const std::string& aPath)
{
    return "key " + ctl_json(aPath).dump(-1, ' ', false, ctl_json::error_handler_t::replace);
}

[[noreturn]] void _T_refuse(const std::string& aPath, const std::string& aReason)
{
    throw DocumentError(_T_key(aPath) + ": " + aReason);
}

// Duplicate keys would otherwise be dropped silently, the last one winning; deep nesting is
// refused before it can cost anything.
class key_checker
{
  public:
    bool operator()(int aDepth, ctl_json::parse_event_t aEvent, ctl_json& aParsed)
    {
        if (aDepth > kMAX_DEPTH)
            throw DocumentError("nesting deeper than " + std::to_string(kMAX_DEPTH) + " levels");
        if (aEvent == ctl_json::parse_event_t::object_start)
            keys_.emplace_back();
        else if (aEvent == ctl_json::parse_event_t::object_end)
            keys_.pop_back();
        else if (aEvent == ctl_json::parse_event_t::key &&
                 !keys_.back().insert(aParsed.get<std::string>()).second)
            _T_refuse(aParsed.get<std::string>(), "given twice");
        return true;
    }

  private:
    std::vector<std::set<std::string>> keys_;
};

// Line and column (from 1) of the byte at aOffset, counted from 1 as the parser reports it.
std::string _T_position(const std::string& aText, size_t aOffset)
{
    const size_t end = std::min(aOffset > 0 ? aOffset - 1 : 0, aText.size());
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i < end; ++i)
    {
        const bool newLine = aText[i] == '\n';
        line += newLine ? 1 : 0;
        column = newLine ? 1 : column + 1;
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

ctl_json _T_parse(const std::string& aText)
{
    try
    {
        return ctl_json::parse(aText, key_checker());
    }
    catch (const ctl_json::parse_error& x)
    {
        // The parser's own text: "[json.exception.parse_error.101] parse error at ...: reason".
        const std::string what = x.what();
        const size_t column = what.find("column ");
        const size_t reason = what.find(": ", column == std::string::npos ? 0 : column);
        throw DocumentError("syntax error at " + _T_position(aText, x.byte) + ": " +
                            (reason == std::string::npos ? what : what.substr(reason + 2)));
    }
    catch (const ctl_json::out_of_range& x)
    {
        // A number beyond even a 64-bit integer or a float: "... number overflow parsing '1e39'".
        const std::string what = x.what();
        throw DocumentError(what.substr(what.find(']') + 2));
    }
}

void _T_check_format(const ctl_json& aRoot)
{
    const auto format = aRoot.find("format");
    if (format == aRoot.end())
        throw DocumentError("missing key \"format\" (\"" + std::string(kDOCUMENT_FORMAT) + "\")");
    if (!format->is_string())
        _T_refuse("format", "a string is expected");
    const std::string text = format->get<std::string>();
    if (text == kDOCUMENT_FORMAT)
        return;
    if (text.rfind(kFORMAT_PREFIX, 0) == 0)
        _T_refuse("format", "unknown version '" + text + "': this program reads " +
                                kDOCUMENT_FORMAT);
    _T_refuse("format", "'" + text + "' is not a vesk11-config format");
}

document_entry _T_entry(const std::string& aKey, const ctl_json& aValue)
{
    const std::string path = "parameters." + aKey;
    document_entry entry;
    std::string reason;
    if (!ResolveItem(aKey, &entry.item, &reason))
        _T_refuse(path, reason);
    if (entry.item.kind != kUAT11_KIND_PARAM)
        _T_refuse(path, entry.item.kind == kUAT11_KIND_STATUS
                            ? "a status value, which cannot be written"
                            : "a command, not a parameter");
    if (!ValueFromJson(aValue, entry.item.value_type, &entry.bits, &reason))
        _T_refuse(path, reason);
    return entry;
}

std::vector<document_entry> _T_parameters(const ctl_json& aRoot)
{
    const auto parameters = aRoot.find("parameters");
    if (parameters == aRoot.end())
        throw DocumentError("missing key \"parameters\"");
    if (!parameters->is_object())
        _T_refuse("parameters", "an object is expected");
    std::vector<document_entry> entries;
    std::set<std::pair<uint16_t, uint16_t>> seen;
    for (const auto& member : parameters->items())
    {
        document_entry entry = _T_entry(member.key(), member.value());
        if (!seen.insert({entry.item.group, entry.item.array}).second)
            _T_refuse("parameters." + member.key(),
                      "names " + ItemId(entry.item) + " again, given once already");
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace

config_document DocumentRead(const std::string& aText)
{
    if (aText.size() > kDOCUMENT_MAX_SIZE)
        throw DocumentError("larger than " + std::to_string(kDOCUMENT_MAX_SIZE) + " bytes");
    const ctl_json root = _T_parse(aText);
    if (!root.is_object())
        throw DocumentError("the document is not a JSON object");
    for (const auto& member : root.items())
    {
        if (member.key() != "format" && member.key() != "sensor" && member.key() != "parameters")
            _T_refuse(member.key(), "unknown key (known: format, sensor, parameters)");
    }
    _T_check_format(root);
    config_document document;
    const auto sensor = root.find("sensor");
    if (sensor != root.end() && !sensor->is_object())
        _T_refuse("sensor", "an object is expected");
    if (sensor != root.end())
        document.sensor = *sensor;
    document.parameters = _T_parameters(root);
    return document;
}

std::string DocumentWrite(const config_document& aDocument)
{
    ctl_json root = ctl_json::object();
    root["format"] = kDOCUMENT_FORMAT;
    root["sensor"] = aDocument.sensor;
    ctl_json& parameters = root["parameters"] = ctl_json::object();
    for (const document_entry& entry : aDocument.parameters)
        parameters[entry.item.name] = ValueJson(entry.item.value_type, entry.bits);
    return root.dump(2) + "\n";
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
