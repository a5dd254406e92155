#include "ctl_names.hpp"

#include <algorithm>

#include "ctl_error.hpp"
#include "uat11.h"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

bool _T_refuse(std::string* aReason, const std::string& aText)
{
    *aReason = aText;
    return false;
}

uat11_kind _T_kind_of_group(uint16_t aGroup)
{
    if (aGroup == kUAT11_GROUP_STATUS)
        return kUAT11_KIND_STATUS;
    return aGroup == kUAT11_GROUP_COMMAND ? kUAT11_KIND_COMMAND : kUAT11_KIND_PARAM;
}

bool _T_type_of_suffix(const std::string& aSuffix, uint16_t* aValueType)
{
    if (aSuffix == "i32")
        *aValueType = kUAT4_VALUE_I32;
    else if (aSuffix == "f32")
        *aValueType = kUAT4_VALUE_F32;
    else
        return false;
    return true;
}

std::string _T_unknown(const std::string& aText)
{
    std::string reason = "unknown name '" + aText + "'";
    const uat11_name* nearest = Uat11Names__Nearest(aText.c_str());
    if (nearest != nullptr)
        reason += " (did you mean '" + std::string(nearest->name) + "'?)";
    return reason;
}

// GROUP/ID, with :TYPE for an identifier outside the catalogue.
bool _T_resolve_id(const std::string& aText, size_t aSlash, ctl_item* aItem, std::string* aReason)
{
    const size_t colon = aText.find(':', aSlash);
    uint16_t group = 0;
    uint16_t array = 0;
    if (!Uat11Names__ParseId(aText.data(), std::min(colon, aText.size()), &group, &array))
        return _T_refuse(aReason, "'" + aText + "': GROUP/ID wants two numbers from 0 to 65535");
    uint16_t valueType = 0;
    const bool typed = colon != std::string::npos;
    if (typed && !_T_type_of_suffix(aText.substr(colon + 1), &valueType))
        return _T_refuse(aReason, "'" + aText + "': the type after ':' is i32 or f32");
    const std::string id = std::to_string(group) + "/" + std::to_string(array);
    const uat11_name* entry = Uat11Names__FindId(group, array);
    if (entry != nullptr)
    {
        if (typed && valueType != entry->value_type)
            return _T_refuse(aReason, "'" + aText + "': " + entry->name + " is " +
                                          (entry->value_type == kUAT4_VALUE_F32 ? "f32" : "i32"));
        *aItem = CatalogueItem(*entry);
        return true;
    }
    if (!typed)
        return _T_refuse(aReason, "'" + aText + "' is not in the catalogue: give its type, " + id +
                                      ":f32 or " + id + ":i32");
    // Named with its type, so that a document written with the name reads back.
    *aItem = ctl_item{id + aText.substr(colon), group, array, _T_kind_of_group(group), valueType};
    return true;
}

} // namespace

bool ResolveItem(const std::string& aText, ctl_item* aItem, std::string* aReason)
{
    const size_t slash = aText.find('/');
    if (slash != std::string::npos)
        return _T_resolve_id(aText, slash, aItem, aReason);
    const uat11_name* entry = Uat11Names__Find(aText.c_str());
    if (entry == nullptr || aText.size() != std::char_traits<char>::length(entry->name))
        return _T_refuse(aReason, _T_unknown(aText));
    *aItem = CatalogueItem(*entry);
    return true;
}

ctl_item ItemOrUsageError(const std::string& aText)
{
    ctl_item item;
    std::string reason;
    if (!ResolveItem(aText, &item, &reason))
        throw UsageError(reason);
    return item;
}

ctl_item CatalogueItem(const uat11_name& aEntry)
{
    return ctl_item{aEntry.name, aEntry.group, aEntry.array, aEntry.kind, aEntry.value_type};
}

std::string ItemId(const ctl_item& aItem)
{
    return std::to_string(aItem.group) + "/" + std::to_string(aItem.array);
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
