#include "ctl_error.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

struct kind_def
{
    error_kind kind;
    exit_status_t status;
    const char* name;
};

const kind_def kKINDS[] = {
    {error_kind::usage, kEXIT_USAGE, "usage"},
    {error_kind::document, kEXIT_DATAERR, "document"},
    {error_kind::input, kEXIT_NOINPUT, "input"},
    {error_kind::unavailable, kEXIT_UNAVAILABLE, "unavailable"},
    {error_kind::interrupted, kEXIT_SOFTWARE, "interrupted"},
    {error_kind::software, kEXIT_SOFTWARE, "software"},
    {error_kind::output, kEXIT_CANTCREAT, "output"},
    {error_kind::io, kEXIT_IOERR, "io"},
    {error_kind::refused, kEXIT_REFUSED, "refused"},
    {error_kind::readback, kEXIT_REFUSED, "readback"},
    {error_kind::missing, kEXIT_UNAVAILABLE, "missing"},
    {error_kind::denied, kEXIT_UNAVAILABLE, "denied"},
    {error_kind::locked, kEXIT_UNAVAILABLE, "locked"},
    {error_kind::not_serial, kEXIT_UNAVAILABLE, "not_serial"},
};

const kind_def& _T_find(error_kind aKind)
{
    for (const kind_def& entry : kKINDS)
    {
        if (entry.kind == aKind)
            return entry;
    }
    return kKINDS[5]; // software: not reached, every kind is listed
}

} // namespace

exit_status_t ErrorStatus(error_kind aKind)
{
    return _T_find(aKind).status;
}

const char* ErrorKindName(error_kind aKind)
{
    return _T_find(aKind).name;
}

ctl_json ErrorKindsJson()
{
    ctl_json kinds = ctl_json::object();
    for (const kind_def& entry : kKINDS)
        kinds[entry.name] = entry.status;
    return kinds;
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
