#include "core/program_folder.h"

#include <windows.h>

#include <cstring>

#include "core/paths.h"

namespace {
char folder[kPathSize];
}

const char* ProgramFolder() {
  if (!folder[0]) {
    char path[kPathSize];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n > 0 && n < sizeof path) {
      *FindFileNamePart(path) = '\0';
      strcpy(folder, path);
    }
  }
  return folder;
}

void SetProgramFolder(const char* path) {
  PathText p;
  if (p.Set(path) && p.EnsureSeparator()) strcpy(folder, p.s);
}

bool TemplateFolderPath(PathText* out) { return out->Set(ProgramFolder()) && out->Append("template\\"); }

bool TemplateFilePath(const char* fileName, PathText* out) { return TemplateFolderPath(out) && out->Append(fileName); }
