// Keeping addresses that bounced or asked to be removed out of the lists:
// which lists hold an address, storing addresses as a new list, and removing
// them from every list that holds them. Addresses are compared without
// regard to letter case. Each list is written whole and atomically, as every
// list save.
#pragma once

#include "core/AppState.h"
#include "destinations/Recipient.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

struct ListHoldings
{
    // By address (lower case): the names of the lists holding it, in the
    // order of the list files.
    std::map<std::string, std::vector<std::string>> lists;
    // By address (lower case): its first entry in those lists.
    std::map<std::string, Recipient> entries;
    // Lists that could not be read (Shift_JIS names).
    std::vector<std::string> unreadable;
};

// Looks for addresses (lower case) in every list.
ListHoldings FindListsHolding(const std::vector<std::string> &addresses,
                              const std::string &key = CurrentKey());

// A list name not yet in use: base, else base + "(2)", "(3)" ...
std::string FreeListName(std::string_view base);

// Stores the addresses as a new list named FreeListName(base), only its "to"
// flag set; each recipient as it stands in the first list holding it, else
// with the address alone. Returns the name used.
std::string StoreAddressesAsList(std::string_view base, const std::vector<std::string> &addresses,
                                 const ListHoldings &holdings,
                                 const std::string &key = CurrentKey());

struct RemovalResult
{
    int listsChanged = 0;
    int recipientsRemoved = 0;
};

// Removes every recipient whose address is one of addresses from the lists
// named (the lists that FindListsHolding found). Throws FileError when a list
// cannot be read or written; the lists written before stay written.
RemovalResult RemoveAddressesFromLists(const std::vector<std::string> &addresses,
                                       const std::vector<std::string> &lists,
                                       const std::string &key = CurrentKey());

} // namespace vostrel
