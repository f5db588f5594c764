#pragma once

#include <QString>

// The working folder the menu entry starts the window in (`tandel --home`): TANDEL_HOME when
// set, otherwise the folder TANDEL in the user's home folder (%USERPROFILE%\TANDEL on
// Windows, ~/TANDEL on Linux). It holds init.cfg and the firmware store.
QString HomeWorkingFolder();

// Makes `folder` the current folder, creating it when missing; a folder without init.cfg gets
// a copy of `exampleConfig` first (an existing init.cfg is never replaced). Returns an empty
// text, or why the folder could not be entered (in Polish, for the window's error box).
QString EnterWorkingFolder(const QString& folder, const QString& exampleConfig);

// The example init.cfg of an installed program whose executable is in `programFolder`: beside
// it (the Windows installation) or in ../share/tandel (the Linux one); empty when neither has it.
QString ExampleConfigFor(const QString& programFolder);
