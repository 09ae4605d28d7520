// The password change's side of the sent-mail logs.
#pragma once

namespace vostrel {

// Tells the password change how to find and rewrite the sent-mail logs: every
// ".vsl" file directly in each folder under Logs/ (also the folders of
// accounts that were deleted or renamed), all fields copied as they are. The
// picture folders inside the log folders are left alone.
void RegisterSendLogRekey();

} // namespace vostrel
