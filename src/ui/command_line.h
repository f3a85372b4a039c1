// The command line: a backup run without the window, and the checks of a
// backup, for scheduled tasks and scripts.
//
//   Arkivanto2.exe /backup DEST [/date] [/log] [/regedit] [/append | /overwrite] [TEMPLATE.txt ...]
//   Arkivanto2.exe /verify DEST
//   Arkivanto2.exe /preview DEST
//   Arkivanto2.exe /?
#pragma once

// Runs what a whole command line (program name first) asks for and returns
// the exit code: 0 done, 1 a template failed or a difference was found, 2 a
// bad command line or nothing to work on. -1 when it names nothing after the
// program: the window starts. The report goes to the console the program
// was started from, or to its redirected output (UTF-8).
int RunCommandLine(const wchar_t* commandLine);
