// The layout of the data folder (.../Halvik/Vostrel/): the name of every
// folder and file the program keeps there, each written here once. The
// subsystems build their paths from these names; the folders of the data
// folder in effect are below.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vostrel {

namespace layout {

// Folders directly in the data folder.
inline constexpr std::string_view kSenders = "Senders";     // accounts <name>.vsl, kServerTls
inline constexpr std::string_view kReceivers = "Receivers"; // destination lists <name>.vsl
inline constexpr std::string_view kLogs = "Logs";           // <account>/<start time>.vsl
inline constexpr std::string_view kSignature = "Signature"; // sig01.dat .. sig05.dat
inline constexpr std::string_view kWork = "work";           // the draft's copies, plain pages

// Folders in work/: the draft's copies of its attachments and of its inline
// pictures.
inline constexpr std::string_view kAppendedImage = "AppendedImage";
inline constexpr std::string_view kHtmlImage = "HtmlImage";

// Files directly in the data folder: the password record, the HTML template
// (plain text), the window layout (plain text) and the journal of a send run
// with its progress.
inline constexpr std::string_view kConfig = "config.dat";
inline constexpr std::string_view kHtmlTemplate = "html.txt";
inline constexpr std::string_view kSettings = "settings.ini";
inline constexpr std::string_view kSendJournal = "send-journal.vsj";
inline constexpr std::string_view kSendProgress = "send-progress.vsj";

// The staging folders of a restore and of a password change, directly in the
// data folder.
inline constexpr std::string_view kRestoreStaging = "restore-staging";
inline constexpr std::string_view kRekeyStaging = "rekey-staging";

// In Senders/: the servers that were reached encrypted.
inline constexpr std::string_view kServerTls = "tls-servers.dat";
// In Senders/: the mails already read from each account's mailbox when it
// was checked for bounces, and the temporary failures counted per address.
inline constexpr std::string_view kMailboxCheck = "mailbox-check.dat";

// The plain pages in work/, which may hold a recipient's merged values: every
// name that ends in kWorkPage. The compose window's preview and the history's.
inline constexpr std::string_view kWorkPage = "_work.html";
inline constexpr std::string_view kPreviewPage = "Preview_work.html";
inline constexpr std::string_view kHistoryPage = "History_work.html";
static_assert(kPreviewPage.ends_with(kWorkPage) && kHistoryPage.ends_with(kWorkPage));

// The extension of the record files of lists, accounts and logs.
inline constexpr std::string_view kRecordExtension = ".vsl";

// The signature slots, 1 to kSignatureSlots, and the file of one in
// Signature/: "sig0<slot>.dat".
inline constexpr int kSignatureSlots = 5;
std::string SignatureFileName(int slot);

} // namespace layout

// The folders of the data folder in effect (DataFolder()).
// DataFolder() + "Senders".
std::filesystem::path SendersFolder();
// DataFolder() + "Receivers/".
std::filesystem::path ReceiversFolder();
// DataFolder() + "Logs/".
std::filesystem::path LogsFolder();
// DataFolder() + "Signature/".
std::filesystem::path SignatureFolder();

} // namespace vostrel
