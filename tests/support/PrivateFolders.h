#pragma once

// Points the temporary folder (TMPDIR) and the user's state folder (XDG_STATE_HOME) of this
// test process at a new folder of its own, removed when the process ends: takes a test
// records or leaves behind never meet another test's, nor the user's.
void UsePrivateFolders();
