// The GUI test programs' X connection.  Many test programs start against one
// X server at once, and on a loaded machine it can refuse a connection: it is
// tried again for a while before the toolkit, which would give up at once
// ("Can't open display"), is handed it.
#pragma once

namespace testsupport {

// Opens the toolkit's display (once; nothing when it is open already).
void openTestDisplay();

}  // namespace testsupport
