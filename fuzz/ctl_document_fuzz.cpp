// Runs the configuration document reader of vesk11-ctl on arbitrary text and checks properties
// that follow from its contract, not from its code:
// - it either returns a document or throws a document error (status 65) with a message; nothing
//   else escapes, whatever the text;
// - a document it accepts holds only writable parameters, each identifier once;
// - writing an accepted document and reading it back gives the same parameters, in the same
//   order, with the very same bits, and the same text when written again.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "ctl_document.hpp"
#include "ctl_error.hpp"
#include "fuzz_support.hpp"

const char* const vesk11_fuzz::kSUBJECT = "document";

namespace
{

using vesk11_fuzz::require;

using namespace Orvo::Support::Vesk11Ctl;

void _T_check_accepted(const config_document& aDocument)
{
    std::set<std::pair<uint16_t, uint16_t>> ids;
    for (const document_entry& entry : aDocument.parameters)
    {
        require(entry.item.kind == kUAT11_KIND_PARAM, "only writable parameters");
        require(ids.insert({entry.item.group, entry.item.array}).second, "each id once");
    }
    const std::string text = DocumentWrite(aDocument);
    const config_document back = DocumentRead(text);
    require(back.parameters.size() == aDocument.parameters.size(), "as many parameters back");
    for (size_t i = 0; i < back.parameters.size(); ++i)
    {
        const document_entry& one = aDocument.parameters[i];
        const document_entry& other = back.parameters[i];
        require(one.item.name == other.item.name && one.item.group == other.item.group &&
                    one.item.array == other.item.array &&
                    one.item.value_type == other.item.value_type,
                "the same parameter back");
        require(one.bits == other.bits, "the very bits back");
    }
    require(DocumentWrite(back) == text, "the same text when written again");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    static const bool logOpen = (vesk11_fuzz::open_log("ctl_document_fuzz"), true);
    (void)logOpen;
    const std::string text(reinterpret_cast<const char*>(aData), aSize);
    config_document document;
    try
    {
        document = DocumentRead(text);
    }
    catch (const ctl_error& x)
    {
        require(x.status() == kEXIT_DATAERR && x.kind() == error_kind::document,
                "a document error");
        require(!x.message().empty(), "a reason");
        return 0;
    }
    _T_check_accepted(document);
    return 0;
}
