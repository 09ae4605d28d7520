// Test builds only: the program's switch --dialog-log <file>, for tests that
// run the program as a process of its own. Every message box and question
// goes to that file, one line each, instead of being shown (a question is
// answered No, a choice gets its last button), and so does every request of
// a later copy to come to the front ("activated\tTFormMain"). The program of
// the package is built without it.
#pragma once

#ifdef VOSTREL_TEST_HOOKS

#include <QStringList>

namespace vostrel {

class SingleInstance;

// Installs the log when arguments hold "--dialog-log <file>".
void UseDialogLogIfRequested(const QStringList &arguments, SingleInstance &once);

} // namespace vostrel

#endif
