// Stable snake_case names for the catalogue's entries, shared by every program that names them.
// Plain data and free functions; nothing allocates, nothing throws, nothing logs.
#ifndef VESK11_CORE_UAT11_NAMES_H
#define VESK11_CORE_UAT11_NAMES_H

#include <cstddef>
#include <cstdint>

#include "uat4/uat4.h"

enum uat11_kind : uint8_t
{
    kUAT11_KIND_STATUS = 0, // read-only value of group 2003, read with a get-status query
    kUAT11_KIND_PARAM,      // configuration value of group 2000, read with get-parameter
    kUAT11_KIND_COMMAND,    // command of group 1000, carried out with a 32-bit argument
};

struct uat11_name
{
    const char* name; // lower case, digits and '_'; never changes once released
    uint16_t group;
    uint16_t array;
    uat11_kind kind;
    uint16_t value_type; // kUAT4_VALUE_I32 or kUAT4_VALUE_F32 (commands: I32, the argument)
};

// The number of entries; entries are kept parameters first (by identifier), then status values
// (by identifier), then commands, and Uat11Names__At(i) is valid for i below the count.
size_t Uat11Names__Count();
// The entry at aIndex, or null when aIndex is not below the count.
const uat11_name* Uat11Names__At(size_t aIndex);

// The entry named exactly aName (NUL-terminated), or null. A null aName finds nothing.
const uat11_name* Uat11Names__Find(const char* aName);
// The entry of aGroup/aArray, or null when the catalogue has none.
const uat11_name* Uat11Names__FindId(uint16_t aGroup, uint16_t aArray);
// Reads the aSize characters at aText as GROUP/ID: two numbers of decimal digits only (no blanks,
// no sign), each from 0 to 65535, joined by one '/'. True with *aGroup and *aArray set when they
// are; false (nothing set) otherwise.
bool Uat11Names__ParseId(const char* aText, size_t aSize, uint16_t* aGroup, uint16_t* aArray);
// The entry whose name is nearest to aName by edit distance (insertions, deletions,
// substitutions and swaps of neighbours each count 1), the first in table order on a tie; null
// when even the nearest needs more than a third of the longer name's length in edits, or when
// aName is null or longer than 64 characters.
const uat11_name* Uat11Names__Nearest(const char* aName);

// Fills aSelf with the query that reads aGroup/aArray of aValueType: a get-status for the status
// group 2003, a get-parameter for any other group.
void Uat11Names__InitRead(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aArray,
                          uint16_t aValueType);
// Fills aSelf with the set-and-read-back query that writes aBits (an int32 or float's bits, as
// aValueType says) to aGroup/aArray.
void Uat11Names__InitWrite(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aArray,
                           uint16_t aValueType, uint32_t aBits);

#endif
