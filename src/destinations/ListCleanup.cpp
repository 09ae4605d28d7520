#include "destinations/ListCleanup.h"

#include "destinations/DestinationStore.h"

#include <filesystem>
#include <set>

namespace vostrel {

namespace {

std::string LowerAscii(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

ListHoldings FindListsHolding(const std::vector<std::string> &addresses, const std::string &key)
{
    ListHoldings holdings;
    const std::set<std::string> wanted(addresses.begin(), addresses.end());
    for (const DestinationListEntry &entry : ListDestinationLists(key)) {
        try {
            DestinationListReader reader(DestinationListPath(entry.name), key);
            std::set<std::string> inThisList;
            Recipient recipient;
            while (reader.Next(recipient)) {
                const std::string address = LowerAscii(recipient.Address());
                if (!wanted.contains(address) || !inThisList.insert(address).second)
                    continue;
                holdings.lists[address].push_back(entry.name);
                holdings.entries.emplace(address, recipient);
            }
        } catch (const std::exception &) {
            holdings.unreadable.push_back(entry.name);
        }
    }
    return holdings;
}

std::string FreeListName(std::string_view base)
{
    std::string name(base);
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(DestinationListPath(name), ec); ++n)
        name = std::string(base) + "(" + std::to_string(n) + ")";
    return name;
}

std::string StoreAddressesAsList(std::string_view base, const std::vector<std::string> &addresses,
                                 const ListHoldings &holdings, const std::string &key)
{
    std::vector<Recipient> recipients;
    for (const std::string &address : addresses) {
        const auto found = holdings.entries.find(address);
        Recipient recipient;
        if (found != holdings.entries.end())
            recipient = found->second;
        else
            recipient.fields[2] = address;
        recipients.push_back(std::move(recipient));
    }
    const std::string name = FreeListName(base);
    SaveDestinationList(name, SendType{true, false, false}, recipients, key);
    return name;
}

RemovalResult RemoveAddressesFromLists(const std::vector<std::string> &addresses,
                                       const std::vector<std::string> &lists,
                                       const std::string &key)
{
    RemovalResult result;
    const std::set<std::string> removed(addresses.begin(), addresses.end());
    for (const std::string &name : std::set<std::string>(lists.begin(), lists.end())) {
        DestinationList list = LoadDestinationList(name, key);
        const auto before = list.recipients.size();
        std::erase_if(list.recipients, [&](const Recipient &recipient) {
            return removed.contains(LowerAscii(recipient.Address()));
        });
        if (list.recipients.size() == before)
            continue;
        SaveDestinationList(name, list.sendType, list.recipients, key);
        ++result.listsChanged;
        result.recipientsRemoved += static_cast<int>(before - list.recipients.size());
    }
    return result;
}

} // namespace vostrel
