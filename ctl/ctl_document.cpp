#include "ctl_document.hpp"

#include <algorithm>
#include <map>
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

[[noreturn]] void _T_refuse_at(const std::string& aPath, const std::string& aPosition,
                               const std::string& aReason)
{
    throw DocumentError(_T_key(aPath) + " at " + aPosition + ": " + aReason);
}

// Line and column (from 1) of the byte at aOffset (from 0).
std::string _T_position(const std::string& aText, size_t aOffset)
{
    const size_t end = std::min(aOffset, aText.size());
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

// A number as written: the parser keeps only its float or 64-bit value, which may not be the
// number the document gives.
struct number_literal
{
    size_t offset;
    std::string text;
};

// The number literals of a JSON text in their order (strings skipped).
std::vector<number_literal> _T_number_literals(const std::string& aText)
{
    std::vector<number_literal> literals;
    for (size_t i = 0; i < aText.size(); ++i)
    {
        if (aText[i] == '"')
        {
            for (++i; i < aText.size() && aText[i] != '"'; ++i)
                i += aText[i] == '\\' ? 1U : 0U;
            continue;
        }
        if (aText[i] != '-' && (aText[i] < '0' || aText[i] > '9'))
            continue;
        const size_t end = aText.find_first_not_of("0123456789+-.eE", i);
        const size_t size = (end == std::string::npos ? aText.size() : end) - i;
        literals.push_back(number_literal{i, aText.substr(i, size)});
        i += size - 1;
    }
    return literals;
}

// What the parser saw besides the tree: the literal of every number under "parameters".
struct parse_notes
{
    std::vector<number_literal> literals; // of the whole text
    size_t next_literal = 0;              // the one the parser comes to next
    std::vector<std::string> path;        // keys from the root to the value being parsed
    std::map<std::string, number_literal> parameters;
};

// Keeps the path and the literals, and refuses what the tree would hide: duplicate keys (the
// last one would win silently) and deep nesting (before it can cost anything).
class key_checker
{
  public:
    explicit key_checker(parse_notes* aNotes) : notes_(aNotes) {}

    bool operator()(int aDepth, ctl_json::parse_event_t aEvent, ctl_json& aParsed)
    {
        using event = ctl_json::parse_event_t;
        std::vector<std::string>& path = notes_->path;
        if (aDepth > kMAX_DEPTH)
            throw DocumentError("nesting deeper than " + std::to_string(kMAX_DEPTH) + " levels");
        if (aEvent == event::object_start)
        {
            keys_.emplace_back();
            path.emplace_back();
        }
        else if (aEvent == event::object_end)
        {
            keys_.pop_back();
            path.pop_back();
        }
        else if (aEvent == event::key && !keys_.back().insert(aParsed.get<std::string>()).second)
            _T_refuse(aParsed.get<std::string>(), "given twice");
        else if (aEvent == event::key)
            path.back() = aParsed.get<std::string>();
        else if (aEvent == event::value && aParsed.is_number())
            take_literal();
        return true;
    }

  private:
    void take_literal()
    {
        const number_literal& literal = notes_->literals.at(notes_->next_literal++);
        const std::vector<std::string>& path = notes_->path;
        if (path.size() == 2 && path[0] == "parameters")
            notes_->parameters.emplace(path[1], literal);
    }

    parse_notes* notes_;
    std::vector<std::set<std::string>> keys_;
};

std::string _T_path(const std::vector<std::string>& aPath)
{
    std::string path;
    for (const std::string& key : aPath)
        path += (path.empty() ? "" : ".") + key;
    return path;
}

ctl_json _T_parse(const std::string& aText, parse_notes* aNotes)
{
    // The parser takes a NUL for the end of its input and would not see what follows it.
    const size_t nul = aText.find('\0');
    if (nul != std::string::npos)
        throw DocumentError("syntax error at " + _T_position(aText, nul) + ": a NUL byte");
    aNotes->literals = _T_number_literals(aText);
    try
    {
        return ctl_json::parse(aText, key_checker(aNotes));
    }
    catch (const ctl_json::parse_error& x)
    {
        // The parser's own text: "[json.exception.parse_error.101] parse error at ...: reason";
        // its byte counts from 1.
        const std::string what = x.what();
        const size_t column = what.find("column ");
        const size_t reason = what.find(": ", column == std::string::npos ? 0 : column);
        throw DocumentError("syntax error at " + _T_position(aText, x.byte > 0 ? x.byte - 1 : 0) +
                            ": " + (reason == std::string::npos ? what : what.substr(reason + 2)));
    }
    catch (const ctl_json::out_of_range&)
    {
        // A number beyond a float, which the parser refuses before it is a value.
        const number_literal& literal = aNotes->literals.at(aNotes->next_literal);
        _T_refuse_at(_T_path(aNotes->path), _T_position(aText, literal.offset),
                     literal.text + ": out of the range of a float");
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
        _T_refuse("format",
                  "unknown version '" + text + "': this program reads " + kDOCUMENT_FORMAT);
    _T_refuse("format", "'" + text + "' is not a vesk11-config format");
}

document_entry _T_entry(const std::string& aKey, const ctl_json& aValue, const std::string& aText,
                        const parse_notes& aNotes)
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
    const auto literal = aNotes.parameters.find(aKey);
    const bool number = literal != aNotes.parameters.end();
    if (ValueFromJson(aValue, number ? literal->second.text : "", entry.item.value_type,
                      &entry.bits, &reason))
        return entry;
    if (number)
        _T_refuse_at(path, _T_position(aText, literal->second.offset),
                     literal->second.text + ": " + reason);
    _T_refuse(path, reason);
}

std::vector<document_entry> _T_parameters(const ctl_json& aRoot, const std::string& aText,
                                          const parse_notes& aNotes)
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
        document_entry entry = _T_entry(member.key(), member.value(), aText, aNotes);
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
    parse_notes notes;
    const ctl_json root = _T_parse(aText, &notes);
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
    document.parameters = _T_parameters(root, aText, notes);
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
