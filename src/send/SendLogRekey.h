// The password change's side of the sent-mail logs.
#pragma once

namespace vostrel {

// Tells the password change how to find and rewrite the sent-mail logs: every
// ".vsl" file in the log folder of each existing sender account, all fields
// copied as they are. Log folders of accounts that no longer exist, and the
// picture folders, are left alone.
void RegisterSendLogRekey();

} // namespace vostrel
