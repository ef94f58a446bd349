#pragma once

#include <QString>

namespace kalvora {

// The console's log lines on standard error: one line per message, the
// category first, as short on a terminal as in the journal.
//
// On a terminal or in a file, with the time and, for anything worse than
// information, its level:
//   14:02:07.315 kalvora.link: Server found: replies arrive on port 5567
//   14:02:10.320 kalvora.link: warning: No answer from the server ...
// In the journal (a unit's standard error), which keeps the time itself, with
// the level as a priority prefix that journald takes off and keeps
// (`journalctl -p warning`):
//   <4>kalvora.link: No answer from the server ...
QString defaultMessagePattern(bool toJournal);

// Whether standard error is a stream into the journal: the service manager
// names it in JOURNAL_STREAM ("DEVICE:INODE"), and the console's standard
// error must still be that very stream (not redirected since).
bool standardErrorIsJournal();

// Makes the console's pattern the default for this process's messages; a
// QT_MESSAGE_PATTERN in the environment still wins. Call first in main(),
// before anything logs.
void useConsoleMessagePattern();

} // namespace kalvora
