#pragma once

// Points the temporary folder (TMPDIR) and the user's state, configuration and data folders
// (XDG_STATE_HOME, XDG_CONFIG_HOME, XDG_DATA_HOME) of this test process at a new folder of its own,
// removed when the process ends: takes a test records or leaves behind never meet another test's,
// nor the user's.
void UsePrivateFolders();
