// apply: the sensor's configuration made equal to a document, every change read back, and all
// of them taken back when one fails.
#include <utility>

#include "ctl_commands.hpp"
#include "ctl_error.hpp"
#include "ctl_shared.hpp"
#include "log.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

struct restore_t
{
    size_t index; // into the document's parameters
    bool done;    // written back and read back
};

// What one apply did, for its report.
struct apply_run
{
    const std::vector<document_entry>& entries;
    std::vector<uint32_t> before;    // the sensor's values, read first
    std::vector<size_t> differing;   // indexes of the entries that differ
    std::vector<size_t> changed;     // indexes written and read back
    std::vector<restore_t> restored; // the rollback, when there was one
    bool saved = false;
};

ctl_json _T_change_json(const apply_run& aRun, size_t aIndex)
{
    const document_entry& entry = aRun.entries[aIndex];
    ctl_json change = ItemJson(entry.item);
    change["before"] = ValueJson(entry.item.value_type, aRun.before[aIndex]);
    change["after"] = ValueJson(entry.item.value_type, entry.bits);
    return change;
}

ctl_json _T_report(const apply_run& aRun, const std::vector<size_t>& aChanges, bool aCheck)
{
    ctl_json changes = ctl_json::array();
    for (size_t index : aChanges)
        changes.push_back(_T_change_json(aRun, index));
    ctl_json rolledBack = ctl_json::array();
    bool allRestored = true;
    for (const restore_t& restore : aRun.restored)
    {
        const document_entry& entry = aRun.entries[restore.index];
        ctl_json value = ItemJson(entry.item);
        value["value"] = ValueJson(entry.item.value_type, aRun.before[restore.index]);
        value["restored"] = restore.done;
        rolledBack.push_back(std::move(value));
        allRestored = allRestored && restore.done;
    }
    // Changed: the sensor keeps values this run wrote.
    const bool rolledBackAll = !aRun.restored.empty() && allRestored;
    ctl_json report{{"changed", !aRun.changed.empty() && !rolledBackAll},
                    {"changes", std::move(changes)},
                    {"saved", aRun.saved},
                    {"rolled_back", std::move(rolledBack)}};
    if (aCheck)
        report["check"] = true;
    return report;
}

void _T_show_changes(ctl_output& aOutput, const apply_run& aRun,
                     const std::vector<size_t>& aChanges)
{
    std::vector<std::vector<std::string>> rows;
    for (size_t index : aChanges)
    {
        const document_entry& entry = aRun.entries[index];
        const uint16_t type = entry.item.value_type;
        rows.push_back({entry.item.name, ItemId(entry.item),
                        ValueText(type, aRun.before[index]) + " -> " +
                            ValueText(type, entry.bits)});
    }
    aOutput.rows(rows);
}

// Writes back the values changed (the failed one too, when the sensor may hold it), newest
// first. A line that fails ends the rollback: the rest cannot be written either.
void _T_roll_back(sensor_link& aLink, apply_run& aRun, const ctl_error& aFailure,
                  size_t aFailed)
{
    std::vector<size_t> indexes(aRun.changed.rbegin(), aRun.changed.rend());
    if (aFailure.kind() != error_kind::refused)
        indexes.insert(indexes.begin(), aFailed);
    sensor_link::resume();
    bool lineWorks = true;
    for (size_t index : indexes)
    {
        const document_entry& entry = aRun.entries[index];
        bool done = false;
        try
        {
            if (lineWorks)
                aLink.write(entry.item, aRun.before[index]);
            done = lineWorks;
        }
        catch (const ctl_error& x)
        {
            lineWorks = x.status() == kEXIT_REFUSED;
        }
        aRun.restored.push_back(restore_t{index, done});
    }
}

std::string _T_rollback_text(const apply_run& aRun)
{
    std::string restored;
    std::string left;
    for (const restore_t& restore : aRun.restored)
    {
        std::string& list = restore.done ? restored : left;
        list += (list.empty() ? "" : ", ") + aRun.entries[restore.index].item.name;
    }
    std::string text;
    if (!restored.empty())
        text += "; rolled back, each read back: " + restored;
    if (!left.empty())
        text += "; NOT rolled back, may stay changed: " + left;
    if (aRun.restored.empty())
        text += "; nothing was changed";
    return text;
}

[[noreturn]] void _T_fail(const apply_run& aRun, const ctl_error& aFailure)
{
    LOG_WRITE(1, "fail: apply (%zu changed, %zu rolled back)", aRun.changed.size(),
              aRun.restored.size());
    throw aFailure.withMessage(aFailure.message() + _T_rollback_text(aRun))
        .withReport(_T_report(aRun, aRun.changed, false));
}

void _T_write_differences(sensor_link& aLink, apply_run& aRun, ctl_output& aOutput,
                          size_t aTotal)
{
    const size_t done = aRun.entries.size();
    for (size_t index : aRun.differing)
    {
        const document_entry& entry = aRun.entries[index];
        aOutput.progress(done + aRun.changed.size() + 1, aTotal, entry.item.name);
        try
        {
            aLink.write(entry.item, entry.bits);
        }
        catch (const ctl_error& x)
        {
            _T_roll_back(aLink, aRun, x, index);
            _T_fail(aRun, x);
        }
        aRun.changed.push_back(index);
    }
}

void _T_save(sensor_link& aLink, apply_run& aRun)
{
    try
    {
        SaveToFlash(aLink);
    }
    catch (const ctl_error& x)
    {
        throw x.withMessage(x.message() + "; the changes are in the sensor's RAM, not saved")
            .withReport(_T_report(aRun, aRun.changed, false));
    }
    aRun.saved = true;
}

void _T_show(ctl_output& aOutput, const apply_run& aRun, bool aCheck, bool aSave)
{
    const std::vector<size_t>& changes = aCheck ? aRun.differing : aRun.changed;
    if (aOutput.json())
    {
        aOutput.emit(_T_report(aRun, changes, aCheck));
        return;
    }
    _T_show_changes(aOutput, aRun, changes);
    const std::string count = std::to_string(changes.size()) + " of " +
                              std::to_string(aRun.entries.size()) + " parameters";
    if (aCheck)
        aOutput.note(changes.empty() ? "nothing would change" : "would change " + count);
    else
        aOutput.note(changes.empty() ? "nothing changed" : "changed " + count);
    if (aSave)
        aOutput.note(aRun.saved ? "saved to flash" : "not saved: nothing changed");
}

} // namespace

int RunApply(const ctl_options& aOptions, ctl_output& aOutput)
{
    const bool check = (aOptions.given & kOPTION_CHECK) != 0;
    const bool save = (aOptions.given & kOPTION_SAVE) != 0;
    if (check && save)
        throw UsageError("apply --check writes nothing, so it cannot --save");
    const config_document document = LoadDocument(aOptions.words[0]);
    std::vector<ctl_item> items;
    for (const document_entry& entry : document.parameters)
        items.push_back(entry.item);
    apply_run run{document.parameters, {}, {}, {}, {}, false};
    sensor_link link(LinkSettings(aOptions));
    run.before = ReadValues(link, items, aOutput, 0, items.size());
    for (size_t i = 0; i < items.size(); ++i)
    {
        if (run.before[i] != document.parameters[i].bits)
            run.differing.push_back(i);
    }
    const bool saving = save && !run.differing.empty();
    if (!check)
    {
        _T_write_differences(link, run, aOutput,
                             items.size() + run.differing.size() + (saving ? 1 : 0));
        if (saving)
            _T_save(link, run);
    }
    _T_show(aOutput, run, check, save);
    return check && !run.differing.empty() ? kEXIT_DIFFERS : kEXIT_OK;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
