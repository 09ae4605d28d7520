// Destination lists: one encrypted field file per list, Receivers/<name>.vsl
// in the data folder. The file holds, field by field:
//   1-3  the to, cc and bcc flags ("-1" set, "0" not set; a reader takes any
//        number other than 0 as set)
//   4    the number of recipients N in decimal ("0" for an empty list; a text
//        that is not an integer reads as 0)
//   5... N groups of 13 fields, one recipient each (name, honorific, address,
//        merge fields 1 to 10)
// Nothing follows the last group. Files are always written whole.
//
// None of these operations touches a window; they may run on any thread (the
// send engine keeps the recipients it could not reach with them). Names are
// Shift_JIS text; every operation takes the key to use, CurrentKey() unless
// given.
#pragma once

#include "core/AppState.h"
#include "core/DataLayout.h"
#include "core/Errors.h"
#include "core/FieldStore.h"
#include "destinations/Recipient.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// For which address field of a mail a list is offered.
struct SendType
{
    bool to = false;
    bool cc = false;
    bool bcc = false;

    bool operator==(const SendType &) const = default;
};

struct DestinationList
{
    std::string name;
    SendType sendType;
    std::vector<Recipient> recipients;
};

// One list file as the folder listing sees it.
struct DestinationListEntry
{
    std::string name;
    SendType sendType;
    // The count field; 0 when it is not an integer or is negative.
    long long count = 0;
    // False when the file could not be opened or ends before its count field.
    bool headerReadable = true;
};

// A list file that ends (or cannot be read any further) before all the
// recipients its count announces. The text names the file and how many
// recipients were read; Partial() holds them when the whole list was asked for.
class DestinationListDamagedError : public FileError
{
public:
    DestinationListDamagedError(const std::filesystem::path &file, std::size_t recipientsRead,
                                const std::string &reasonUtf8);

    std::size_t RecipientsRead() const { return recipientsRead_; }
    const DestinationList &Partial() const { return partial_; }
    DestinationList &Partial() { return partial_; }

private:
    std::size_t recipientsRead_;
    DestinationList partial_;
};

// The file of the list name: Receivers/<name>.vsl. When no such file exists
// but one whose extension differs only in letter case does, that one.
std::filesystem::path DestinationListPath(std::string_view name);

// Reads a list file recipient by recipient.
class DestinationListReader
{
public:
    // Opens the file and reads the three flags and the count. Throws FileError
    // when the file cannot be opened, DestinationListDamagedError when it ends
    // before the count.
    explicit DestinationListReader(const std::filesystem::path &path,
                                   const std::string &key = CurrentKey());

    // The flag texts exactly as stored.
    const std::array<std::string, 3> &FlagTexts() const { return flagTexts_; }
    SendType Flags() const;
    // The recipients the file announces (0 when the count is not an integer).
    long long Count() const { return count_; }
    std::size_t RecipientsRead() const { return read_; }

    // Reads the next recipient; false once Count() recipients have been read.
    // Throws DestinationListDamagedError when the file ends early.
    bool Next(Recipient &recipient);

    const std::filesystem::path &Path() const { return file_.Path(); }

private:
    std::string ReadHeaderField();

    EncryptedFieldFile file_;
    std::array<std::string, 3> flagTexts_;
    long long count_ = 0;
    std::size_t read_ = 0;
};

// Called after each recipient written, with the number written so far.
using SaveProgress = std::function<void(std::size_t written)>;

// One entry per ".vsl" file of the Receivers folder (any letter case), sorted
// by file name, with the flags and the count read from the file.
std::vector<DestinationListEntry> ListDestinationLists(const std::string &key = CurrentKey());

// Writes a new list file of the name: the three flags and the count "0". An
// existing list of that name is replaced by the empty one.
void CreateDestinationList(std::string_view name, bool to, bool cc, bool bcc,
                           const std::string &key = CurrentKey());

// The flags and the recipients of the list. Throws FileError when the file
// cannot be opened, DestinationListDamagedError (holding what was read) when
// it ends early.
DestinationList LoadDestinationList(std::string_view name, const std::string &key = CurrentKey());

// Writes the whole file: the flags, the count and every recipient.
void SaveDestinationList(std::string_view name, const SendType &sendType,
                         const std::vector<Recipient> &recipients,
                         const std::string &key = CurrentKey(), const SaveProgress &progress = {});

// Appends recipients given as a flat sequence of texts, 13 per recipient in
// Recipient order (a last group that is short is filled with empty texts).
// The flag fields are written back with the texts they held; the count grows.
// Nothing is written when the existing file cannot be read whole.
void AppendRecipients(std::string_view name, const std::vector<std::string> &fields,
                      const std::string &key = CurrentKey());
// The same with the new recipients handed over one at a time: recipientAt(i)
// for i = 0 .. count - 1, in that order. The recipients already in the file
// are copied through as they are read, so memory does not grow with the list.
void AppendRecipients(std::string_view name, std::size_t count,
                      const std::function<Recipient(std::size_t)> &recipientAt,
                      const std::string &key = CurrentKey());

// Renames the list file; false when that fails (an existing file of the new
// name is never replaced).
bool RenameDestinationList(std::string_view oldName, std::string_view newName);

// Deletes the list file; false when that fails.
bool DeleteDestinationList(std::string_view name);

// Tells the password change how to find and rewrite the record files of the
// destination lists (its one kind): three flags as they are, the count in
// plain decimal, count x 13 recipient fields; a count that is not a number
// is copied like any other field, and so is anything after the last
// recipient.
void RegisterDestinationsRekeyKinds();

// Empty when name may be used for a list whose name is now currentName (empty
// for a new list); otherwise the message to show (Shift_JIS).
std::string CheckListName(std::string_view name, std::string_view currentName);

} // namespace vostrel
