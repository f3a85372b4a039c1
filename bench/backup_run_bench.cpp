// Loading the template list and a whole backup run at two sizes: the cost
// per template must stay the same as the number of templates grows.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/interaction.h"
#include "core/program_folder.h"
#include "core/paths.h"
#include "resource.h"
#include "ui/main_window.h"
#include "ui/main_window_state.h"
#include "ui/template_list.h"

namespace {

// Says yes to every question and shows nothing.
class YesPerson final : public Person {
 public:
  int ShowMessage(HWND, const char*, const char*, UINT type) override {
    return (type & MB_TYPEMASK) == MB_OK ? IDOK : IDYES;
  }
  SHORT KeyState(int) override { return 0; }
  void Now(SYSTEMTIME* time) override { GetLocalTime(time); }
  bool BrowseForFolder(HWND, const char*, char*) override { return false; }
  bool AskSaveFile(OPENFILENAMEA*) override { return false; }
  bool AskOpenFile(OPENFILENAMEA*) override { return false; }
  void SendSoundCommand(const char*) override {}
};

void WriteText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
}

// A program folder holding count templates, each copying one small file.
std::string MakeProgramFolder(const std::string& root, int count) {
  const std::string program = root + "program" + std::to_string(count) + "\\";
  const std::string data = root + "data\\";
  CreateDirectoryPath((program + "template\\").c_str());
  CreateDirectoryPath(data.c_str());
  WriteText(data + "settings.ini", "[bench]\r\nvalue=1\r\n");
  for (int i = 0; i < count; ++i) {
    const std::string name = "t" + std::to_string(10000 + i);
    WriteText(program + "template\\" + name + ".txt",
              name + "\r\nbench template\r\n" + name + "\r\nF:" + data + "*.ini\r\n");
  }
  return program;
}

double TimeLoad(const std::string& program) {
  SetProgramFolder(program.c_str());
  const Stopwatch watch;
  LoadTemplateList(MainState().window);
  return watch.Seconds();
}

double TimeBackup(const std::string& program, const std::string& destination) {
  TimeLoad(program);
  SendMessageA(MainState().window, WM_COMMAND, IDM_CHECK_ALL, 0);
  SetWindowTextA(MainState().destinationEdit, destination.c_str());
  const Stopwatch watch;
  SendMessageA(MainState().window, WM_COMMAND, IDM_DO_BACKUP, 0);
  return watch.Seconds();
}

// Median of three rounds, to see through a busy machine.
template <typename Measure>
double MedianOfThree(Measure measure) {
  std::vector<double> times;
  for (int round = 0; round < 3; ++round) times.push_back(measure(round));
  return Median(times);
}

}  // namespace

int main() {
  YesPerson person;
  SetPerson(&person);
  const ScratchFolder scratch("ark_run_bench");
  const std::string& root = scratch.path();
  RegisterMainWindowClass(GetModuleHandleA(nullptr));
  CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNOACTIVATE);

  const std::string program1000 = MakeProgramFolder(root, 1000), program2000 = MakeProgramFolder(root, 2000);
  const double load1000 = MedianOfThree([&](int) { return TimeLoad(program1000); });
  const double load2000 = MedianOfThree([&](int) { return TimeLoad(program2000); });
  printf("template list (median of 3): 1000 templates %.3f s (%.1f us each), 2000 templates %.3f s (%.1f us each)\n", load1000,
         load1000 / 1000 * 1e6, load2000, load2000 / 2000 * 1e6);
  printf("template list: cost per template at 2000 / at 1000 = %.2f\n", (load2000 / 2000) / (load1000 / 1000));

  const std::string program100 = MakeProgramFolder(root, 100), program200 = MakeProgramFolder(root, 200);
  const double run100 =
      MedianOfThree([&](int round) { return TimeBackup(program100, root + "out100_" + std::to_string(round) + "\\"); });
  const double run200 =
      MedianOfThree([&](int round) { return TimeBackup(program200, root + "out200_" + std::to_string(round) + "\\"); });
  printf("backup run (median of 3): 100 templates %.3f s (%.2f ms each), 200 templates %.3f s (%.2f ms each)\n", run100,
         run100 / 100 * 1e3, run200, run200 / 200 * 1e3);
  printf("backup run: cost per template at 200 / at 100 = %.2f\n", (run200 / 200) / (run100 / 100));

  DestroyWindow(MainState().window);
  SetPerson(nullptr);
  return 0;
}
