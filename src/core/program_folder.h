// The program's own folder, where the "template" folder lies.
#pragma once

// The folder of the program file, ending in "\\".
const char* ProgramFolder();
// Tests run the program's code from another folder.
void SetProgramFolder(const char* folder);
