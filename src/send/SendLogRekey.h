// The password change's side of the sending: the sent-mail logs and the
// journal of a send run.
#pragma once

namespace vostrel {

// Tells the password change how to find and rewrite the record files of the
// sending: the sent-mail logs, every ".vsl" file directly in each folder under
// Logs/ (also the folders of accounts that were deleted or renamed), all
// fields copied as they are, the picture folders inside the log folders left
// alone; a pending send journal (RegisterSendJournalRekey); and the record
// of the mailboxes checked for bounces (RegisterMailboxRecordRekey).
void RegisterSendRekeyKinds();

} // namespace vostrel
