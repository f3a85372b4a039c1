// The program's own folder, where the "template" folder lies.
#pragma once

#include "core/paths.h"

// The folder of the program file, ending in "\\".
const char* ProgramFolder();
// Tests run the program's code from another folder.
void SetProgramFolder(const char* folder);
// The template folder ("template\\" in the program's folder, whatever the
// current directory is), and a template file in it; false when the path
// would not fit.
bool TemplateFolderPath(PathText* out);
bool TemplateFilePath(const char* fileName, PathText* out);
