// apply: the sensor's configuration made equal to a document, every change read back and read
// again at the end, and all of them taken back when one fails. The report tells what the sensor
// may hold: a write or save that went out without a reply may have been carried out.
#include <optional>
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

// Rounds of reading the changed values again while a silence comes between them.
constexpr int kCONFIRM_ROUNDS = 3;

struct restore_t
{
    size_t index; // into the document's parameters
    bool done;    // written back and read back
};

enum class save_state
{
    not_sent,    // no save query went out
    saved,       // the sensor confirmed the save
    unconfirmed, // the save query went out and no reply came: the flash may hold the changes
};

// What one apply did, for its report.
struct apply_run
{
    const std::vector<document_entry>& entries;
    std::vector<uint32_t> before;      // the sensor's values, read first
    std::vector<size_t> differing;     // indexes of the entries that differ
    std::vector<size_t> changed;       // indexes written and read back
    std::optional<size_t> unconfirmed; // the write that went out without a confirmation
    std::vector<restore_t> restored;   // the rollback, when there was one
    save_state saved = save_state::not_sent;
    std::string save_reason; // why the save is unconfirmed
};

ctl_json _T_change_json(const apply_run& aRun, size_t aIndex, bool aCheck)
{
    const document_entry& entry = aRun.entries[aIndex];
    ctl_json change = ItemJson(entry.item);
    change["before"] = ValueJson(entry.item.value_type, aRun.before[aIndex]);
    change["after"] = ValueJson(entry.item.value_type, entry.bits);
    if (!aCheck)
        change["confirmed"] = aRun.unconfirmed != aIndex;
    return change;
}

// The writes that went out: read back, then the unconfirmed one.
std::vector<size_t> _T_written(const apply_run& aRun)
{
    std::vector<size_t> written = aRun.changed;
    if (aRun.unconfirmed)
        written.push_back(*aRun.unconfirmed);
    return written;
}

// Whether the sensor may differ from before the run: a write went out and was not confirmed
// written back.
bool _T_may_differ(const apply_run& aRun)
{
    for (size_t index : _T_written(aRun))
    {
        bool restored = false;
        for (const restore_t& restore : aRun.restored)
            restored = restored || (restore.index == index && restore.done);
        if (!restored)
            return true;
    }
    return false;
}

ctl_json _T_saved_json(const apply_run& aRun)
{
    if (aRun.saved == save_state::unconfirmed)
        return nullptr;
    return aRun.saved == save_state::saved;
}

ctl_json _T_report(const apply_run& aRun, bool aCheck)
{
    ctl_json changes = ctl_json::array();
    for (size_t index : aCheck ? aRun.differing : _T_written(aRun))
        changes.push_back(_T_change_json(aRun, index, aCheck));
    ctl_json rolledBack = ctl_json::array();
    for (const restore_t& restore : aRun.restored)
    {
        const document_entry& entry = aRun.entries[restore.index];
        ctl_json value = ItemJson(entry.item);
        value["value"] = ValueJson(entry.item.value_type, aRun.before[restore.index]);
        value["restored"] = restore.done;
        rolledBack.push_back(std::move(value));
    }
    ctl_json report{{"changed", _T_may_differ(aRun)},
                    {"changes", std::move(changes)},
                    {"saved", _T_saved_json(aRun)},
                    {"rolled_back", std::move(rolledBack)}};
    if (aRun.saved == save_state::unconfirmed)
        report["save_unconfirmed"] = aRun.save_reason;
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
        rows.push_back(
            {entry.item.name, ItemId(entry.item),
             ValueText(type, aRun.before[index]) + " -> " + ValueText(type, entry.bits)});
    }
    aOutput.rows(rows);
}

// Writes back every value written (newest first), the unconfirmed one too, each read back. A
// line that fails ends the rollback: the rest cannot be written either.
void _T_roll_back(sensor_link& aLink, apply_run& aRun)
{
    const std::vector<size_t> written = _T_written(aRun);
    sensor_link::resume();
    bool lineWorks = true;
    for (auto index = written.rbegin(); index != written.rend(); ++index)
    {
        const document_entry& entry = aRun.entries[*index];
        bool done = false;
        try
        {
            if (lineWorks)
                aLink.write(entry.item, aRun.before[*index]);
            done = lineWorks;
        }
        catch (const ctl_error& x)
        {
            lineWorks = x.status() == kEXIT_REFUSED;
        }
        aRun.restored.push_back(restore_t{*index, done});
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
    if (!left.empty())
        text += "; NOT rolled back, may stay changed: " + left;
    if (!restored.empty())
        text += "; rolled back, each read back: " + restored;
    if (aRun.restored.empty())
        text += "; nothing was changed";
    return text;
}

[[noreturn]] void _T_fail(sensor_link& aLink, apply_run& aRun, const ctl_error& aFailure)
{
    _T_roll_back(aLink, aRun);
    LOG_WRITE(1, "fail: apply (%zu changed, %zu rolled back)", aRun.changed.size(),
              aRun.restored.size());
    throw aFailure.withMessage(aFailure.message() + _T_rollback_text(aRun))
        .withReport(_T_report(aRun, false));
}

void _T_write_differences(sensor_link& aLink, apply_run& aRun, ctl_output& aOutput, size_t aTotal)
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
            // A refusal left the value as it was; any other failure after the query went out
            // may have left the sensor holding it, or another value.
            if (x.kind() != error_kind::refused && aLink.wentOut())
                aRun.unconfirmed = index;
            _T_fail(aLink, aRun, x);
        }
        aRun.changed.push_back(index);
    }
}

// The changed values that no longer hold, read again after the last write: a sensor that
// restarted or reloaded its configuration during the run (a watchdog, a brown-out) holds other
// values now. A silence among the reads may be such a restart, so they are read once more.
std::vector<size_t> _T_reverted(sensor_link& aLink, const apply_run& aRun)
{
    std::vector<size_t> reverted;
    for (int round = 0; round < kCONFIRM_ROUNDS; ++round)
    {
        const unsigned silences = aLink.silences();
        reverted.clear();
        for (size_t index : aRun.changed)
        {
            const document_entry& entry = aRun.entries[index];
            if (aLink.read(entry.item) != entry.bits)
                reverted.push_back(index);
        }
        if (aLink.silences() == silences)
            break;
    }
    return reverted;
}

// Fails (76) naming the values that do not hold any more, after rolling back.
void _T_confirm(sensor_link& aLink, apply_run& aRun)
{
    std::vector<size_t> reverted;
    try
    {
        reverted = _T_reverted(aLink, aRun);
    }
    catch (const ctl_error& x)
    {
        _T_fail(aLink, aRun, x);
    }
    if (reverted.empty())
        return;
    std::string names;
    for (size_t index : reverted)
        names += (names.empty() ? "" : ", ") + aRun.entries[index].item.name;
    LOG_WRITE(1, "fail: %zu values changed back during apply (%s)", reverted.size(), names.c_str());
    _T_fail(aLink, aRun,
            ReadbackError("the sensor no longer holds what was written to " + names +
                          " (it restarted or reloaded its configuration during the run)"));
}

void _T_save(sensor_link& aLink, apply_run& aRun)
{
    const unsigned silences = aLink.silences();
    try
    {
        SaveToFlash(aLink);
    }
    catch (const ctl_error& x)
    {
        const bool wentOut = aLink.wentOut();
        aRun.saved = wentOut ? save_state::unconfirmed : save_state::not_sent;
        aRun.save_reason = x.message();
        throw x
            .withMessage(x.message() + (wentOut ? "; the changes are in the sensor's RAM and may "
                                                  "also be in its flash"
                                                : "; the changes are in the sensor's RAM, not "
                                                  "saved"))
            .withReport(_T_report(aRun, false));
    }
    aRun.saved = save_state::saved;
    // The save waited through a silence: what it saved may be a restarted sensor's values.
    if (aLink.silences() != silences)
        _T_confirm(aLink, aRun);
}

void _T_show(ctl_output& aOutput, const apply_run& aRun, bool aCheck, save_when_t aSaveWhen)
{
    const std::vector<size_t>& changes = aCheck ? aRun.differing : aRun.changed;
    if (aOutput.json())
    {
        aOutput.emit(_T_report(aRun, aCheck));
        return;
    }
    _T_show_changes(aOutput, aRun, changes);
    const std::string count = std::to_string(changes.size()) + " of " +
                              std::to_string(aRun.entries.size()) + " parameters";
    if (aCheck)
        aOutput.note(changes.empty() ? "nothing would change" : "would change " + count);
    else
        aOutput.note(changes.empty() ? "nothing changed" : "changed " + count);
    if (aSaveWhen != save_when_t::never)
        aOutput.note(aRun.saved == save_state::saved ? "saved to flash"
                                                     : "not saved: nothing changed");
}

} // namespace

int RunApply(const ctl_options& aOptions, ctl_output& aOutput)
{
    const bool check = (aOptions.given & kOPTION_CHECK) != 0;
    if (check && aOptions.save_when != save_when_t::never)
        throw UsageError("apply --check writes nothing, so it cannot --save");
    const config_document document = LoadDocument(aOptions.words[0]);
    std::vector<ctl_item> items;
    for (const document_entry& entry : document.parameters)
        items.push_back(entry.item);
    apply_run run{document.parameters, {}, {}, {}, {}, {}, save_state::not_sent, {}};
    sensor_link link(LinkSettings(aOptions));
    run.before = ReadValues(link, items, aOutput, 0, items.size());
    for (size_t i = 0; i < items.size(); ++i)
    {
        if (run.before[i] != document.parameters[i].bits)
            run.differing.push_back(i);
    }
    const bool saving = aOptions.save_when == save_when_t::always ||
                        (aOptions.save_when == save_when_t::changed && !run.differing.empty());
    if (!check)
    {
        _T_write_differences(link, run, aOutput,
                             items.size() + run.differing.size() + (saving ? 1 : 0));
        _T_confirm(link, run);
        if (saving)
            _T_save(link, run);
    }
    _T_show(aOutput, run, check, aOptions.save_when);
    return check && !run.differing.empty() ? kEXIT_DIFFERS : kEXIT_OK;
}

ctl_json ApplyReportOfNothing()
{
    return ctl_json{{"changed", false},
                    {"changes", ctl_json::array()},
                    {"saved", false},
                    {"rolled_back", ctl_json::array()}};
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
