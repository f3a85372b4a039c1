// Whole backups started from the main window, as a person starts them, each
// at two sizes (N and 2N): one R entry against "regedit /e" of the same key,
// one S entry against "xcopy /e /h /k /i /q /y" of the same tree, one template
// of F entries that match nothing, many templates of one small file each, and
// a 10 MB template of comment lines; and loading the template list. Every
// time is the median of three rounds; the own run and the peer alternate in
// going first, and each timed run starts with the disk's pending writes done.
// The cost of a key, file, entry or template must not grow with
// N: at 2N the time may at most double (plus 15%).
//
// Usage: backup_run_bench [name...], the measurements named being list,
// templates, registry, files, empty and comments (all of them by default).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/handles.h"
#include "core/interaction.h"
#include "core/program_folder.h"
#include "core/paths.h"
#include "resource.h"
#include "ui/main_window.h"
#include "ui/main_window_state.h"
#include "ui/template_list.h"

namespace {

constexpr DWORD kPeerTimeoutMs = 10 * 60 * 1000;
constexpr char kBenchKey[] = "Software\\ArkivantoRunBench";
constexpr char kBenchKeyText[] = "HKEY_CURRENT_USER\\Software\\ArkivantoRunBench";

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
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), text.data(), DWORD(text.size()), &written, nullptr);
}

// A program folder of its own holding count templates, each copying one small file.
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

// A program folder of its own holding one template, "bench", whose copies go
// to the folder "bench" of the destination.
std::string MakeOneTemplateProgram(const std::string& root, const std::string& folderName, const std::string& lines) {
  const std::string program = root + folderName + "\\";
  CreateDirectoryPath((program + "template\\").c_str());
  WriteText(program + "template\\bench.txt", "bench\r\nbench template\r\nbench\r\n" + lines);
  return program;
}

double TimeLoad(const std::string& program) {
  SetProgramFolder(program.c_str());
  const Stopwatch watch;
  LoadTemplateList(MainState().window);
  return watch.Seconds();
}

// A whole run, from pressing "DO BACKUP!" to its last message.
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
  for (int round = 0; round < 3; ++round) {
    SettleDisk();
    times.push_back(measure(round));
  }
  return Median(times);
}

// The own run against the peer at one size: three rounds, alternating which
// goes first. Each returns its seconds, or a negative number when its
// output is not what it should be.
struct Duel {
  std::vector<double> own, peer;
  bool ok = true;
};

template <typename Own, typename Peer>
Duel RunDuel(Own own, Peer peer) {
  Duel duel;
  for (int round = 0; round < 3 && duel.ok; ++round) {
    SettleDisk();
    const double first = round % 2 ? peer(round) : own(round);
    SettleDisk();
    const double second = round % 2 ? own(round) : peer(round);
    const double ownTime = round % 2 ? second : first, peerTime = round % 2 ? first : second;
    duel.ok = ownTime >= 0 && peerTime >= 0;
    duel.own.push_back(ownTime);
    duel.peer.push_back(peerTime);
  }
  return duel;
}

// Prints both sizes of a duel, and says whether the goals are met.
void ReportDuel(const char* what, const char* peerName, const char* unit, const Duel (&sizes)[2],
                const unsigned (&counts)[2]) {
  for (int s = 0; s < 2; ++s) {
    const Duel& d = sizes[s];
    if (!d.ok) {
      printf("%s at %s: FAILED (see above)\n", what, s ? "2N" : "N");
      return;
    }
    printf("%s at %s (%u %s): own %.3f s [%s], %s %.3f s [%s], %s/own %.2f (goal: at least 1.20)\n", what,
           s ? "2N" : "N", counts[s], unit, Median(d.own), JoinSeconds(d.own).c_str(), peerName, Median(d.peer),
           JoinSeconds(d.peer).c_str(), peerName, Median(d.peer) / Median(d.own));
  }
  printf("%s scaling time(2N)/time(N): own %.2f, %s %.2f (goal for own: at most 2.30)\n", what,
         Median(sizes[1].own) / Median(sizes[0].own), peerName, Median(sizes[1].peer) / Median(sizes[0].peer));
}

void ReportScaling(const char* what, const char* unit, double atN, unsigned n, double at2N) {
  printf(
      "%s (median of 3): %u %s %.3f s (%.3f ms each), %u %s %.3f s (%.3f ms each); time(2N)/time(N) %.2f "
      "(goal: at most 2.30)\n",
      what, n, unit, atN, atN / n * 1e3, 2 * n, unit, at2N, at2N / (2 * n) * 1e3, at2N / atN);
}

void BenchTemplateList(const std::string& root) {
  const std::string program1000 = MakeProgramFolder(root, 1000), program2000 = MakeProgramFolder(root, 2000);
  const double load1000 = MedianOfThree([&](int) { return TimeLoad(program1000); });
  const double load2000 = MedianOfThree([&](int) { return TimeLoad(program2000); });
  ReportScaling("template list", "templates", load1000, 1000, load2000);
}

void BenchManyTemplates(const std::string& root) {
  const std::string program100 = MakeProgramFolder(root, 100), program200 = MakeProgramFolder(root, 200);
  const auto run = [&](const std::string& program, const char* name) {
    return MedianOfThree([&](int round) {
      const std::string destination = root + name + std::to_string(round) + "\\";
      const double seconds = TimeBackup(program, destination);
      RemoveTree(destination);
      return seconds;
    });
  };
  const double run100 = run(program100, "out100_"), run200 = run(program200, "out200_");
  ReportScaling("backup run of templates of one small file", "templates", run100, 100, run200);
}

// One R entry over 10,000 keys and 50,000 values, and over twice that: the
// two halves of one tree, and the tree.
void BenchRegistry(const std::string& root) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
  RegKey parent;
  TreeGenerator generator(10000, 50000);
  const Stopwatch generation;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, kBenchKey, 0, nullptr, 0, KEY_WRITE, nullptr, parent.out(), nullptr);
  if (status == ERROR_SUCCESS) status = generator.Create(parent.get(), "A");
  if (status == ERROR_SUCCESS) status = generator.Create(parent.get(), "B");
  parent.reset();
  if (status != ERROR_SUCCESS) {
    printf("R entry: generating the tree failed with error %ld\n", status);
    RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
    return;
  }
  printf("R entry: generated 2 trees of %u keys and 50000 values each in %.1f s\n", generator.KeyCount(),
         generation.Seconds());
  const std::string keys[2] = {std::string(kBenchKeyText) + "\\A", kBenchKeyText};
  const unsigned counts[2] = {generator.KeyCount() + 1, 2 * generator.KeyCount() + 3};
  Duel sizes[2];
  for (int s = 0; s < 2; ++s) {
    const std::string program = MakeOneTemplateProgram(root, "reg" + std::to_string(s), "R:" + keys[s] + "\r\n");
    const auto own = [&](int round) {
      const std::string destination = root + "reg_own" + std::to_string(round) + "\\";
      const double seconds = TimeBackup(program, destination);
      const unsigned sections = CountSections(ReadFileBytes(destination + "bench\\0.reg"));
      RemoveTree(destination);
      if (sections == counts[s]) return seconds;
      printf("R entry: the own export holds %u of %u keys\n", sections, counts[s]);
      return -1.0;
    };
    const auto peer = [&](int round) {
      const std::string file = root + "regedit" + std::to_string(round) + ".reg";
      const Stopwatch watch;
      const int code = RunChild("regedit.exe /e \"" + file + "\" \"" + keys[s] + "\"", kPeerTimeoutMs);
      const double seconds = watch.Seconds();
      const unsigned sections = CountSections(ReadFileBytes(file));
      DeleteFileA(file.c_str());
      if (code == 0 && sections == counts[s]) return seconds;
      printf("R entry: regedit ended with %d and wrote %u of %u keys\n", code, sections, counts[s]);
      return -1.0;
    };
    sizes[s] = RunDuel(own, peer);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kBenchKey);
  ReportDuel("R entry", "regedit", "keys", sizes, counts);
}

// One S entry over 5,000 small files in 50 folders and 4 files of 16 MB, and
// over twice all that.
void BenchFiles(const std::string& root) {
  Duel sizes[2];
  unsigned counts[2] = {};
  for (int s = 0; s < 2; ++s) {
    const unsigned factor = s + 1;
    const std::string source = root + "source" + std::to_string(s) + "\\";
    CreateDirectoryA(source.c_str(), nullptr);
    if (!CreateSourceTree(source, 5000 * factor, 50 * factor, 4 * factor, 16)) {
      printf("S entry: creating the source tree failed with error %lu\n", GetLastError());
      return;
    }
    const TreeCount expected = CountTree(source);
    counts[s] = unsigned(expected.files);
    const std::string program = MakeOneTemplateProgram(root, "files" + std::to_string(s), "S:" + source + "*.*\r\n");
    const auto check = [&](const char* who, const std::string& copy, double seconds) {
      const TreeCount copied = CountTree(copy);
      if (copied == expected) return seconds;
      printf("S entry: %s copied %llu of %llu files, %llu of %llu bytes\n", who,
             static_cast<unsigned long long>(copied.files), static_cast<unsigned long long>(expected.files),
             static_cast<unsigned long long>(copied.bytes), static_cast<unsigned long long>(expected.bytes));
      return -1.0;
    };
    const auto own = [&](int round) {
      const std::string destination = root + "files_own" + std::to_string(round) + "\\";
      const double seconds = check("the own run", destination + "bench\\0", TimeBackup(program, destination));
      RemoveTree(destination);
      return seconds;
    };
    const auto peer = [&](int round) {
      const std::string destination = root + "xcopy" + std::to_string(round) + "\\";
      const Stopwatch watch;
      const int code =
          RunChild("xcopy.exe \"" + source + "*.*\" \"" + destination + "\" /e /h /k /i /q /y", kPeerTimeoutMs);
      const double seconds = code == 0 ? check("xcopy", destination, watch.Seconds()) : -1.0;
      RemoveTree(destination);
      return seconds;
    };
    sizes[s] = RunDuel(own, peer);
    RemoveTree(source);
  }
  ReportDuel("S entry", "xcopy", "files", sizes, counts);
}

// Making count folders named 0, 1, ... in one new folder, as a backup makes
// its entries' folders. Under wine each new name costs a read of the whole
// folder (the file system is case-sensitive, the name lookup is not), so this
// part grows with the folder whatever the program does.
double TimeFolders(const std::string& root, unsigned count) {
  return MedianOfThree([&](int round) {
    const std::string folder = root + "folders" + std::to_string(round) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const Stopwatch watch;
    for (unsigned i = 0; i < count; ++i) CreateDirectoryA((folder + std::to_string(i)).c_str(), nullptr);
    const double seconds = watch.Seconds();
    RemoveTree(folder);
    return seconds;
  });
}

// One template of F entries whose pattern matches nothing in a folder that
// exists; beside it, the same number of bare folder creations, and the run's
// time less theirs.
void BenchEmptyEntries(const std::string& root) {
  const std::string nothing = root + "nothing\\";
  CreateDirectoryA(nothing.c_str(), nullptr);
  double times[2] = {};
  constexpr unsigned kEntries = 1000;
  for (int s = 0; s < 2; ++s) {
    const unsigned entries = kEntries * (s + 1);
    std::string lines;
    for (unsigned i = 0; i < entries; ++i) lines += "F:" + nothing + "*.none\r\n";
    const std::string program = MakeOneTemplateProgram(root, "empty" + std::to_string(s), lines);
    times[s] = MedianOfThree([&](int round) {
      const std::string destination = root + "empty_out" + std::to_string(round) + "\\";
      const double seconds = TimeBackup(program, destination);
      const TreeCount made = CountTree(destination + "bench");
      RemoveTree(destination);
      if (made.folders != entries)
        printf("F entries: %llu of %u folders made\n", static_cast<unsigned long long>(made.folders), entries);
      return seconds;
    });
  }
  ReportScaling("backup run of one template of F entries that match nothing", "entries", times[0], kEntries, times[1]);
  const double folders[2] = {TimeFolders(root, kEntries), TimeFolders(root, 2 * kEntries)};
  printf("making as many folders alone: %.3f s, %.3f s; time(2N)/time(N) %.2f\n", folders[0], folders[1],
         folders[1] / folders[0]);
  ReportScaling("the same backup runs less the folders alone", "entries", times[0] - folders[0], kEntries,
                times[1] - folders[1]);
}

// A template of 10 MB of comment lines and no entry.
void BenchCommentTemplate(const std::string& root) {
  std::string lines;
  for (unsigned i = 0; lines.size() < 10u << 20; ++i) {
    char line[64];
    snprintf(line, sizeof line, "; comment line %08u of the bench template\r\n", i);
    lines += line;
  }
  const std::string program = MakeOneTemplateProgram(root, "comments", lines);
  const double seconds = MedianOfThree([&](int round) {
    const std::string destination = root + "comments_out" + std::to_string(round) + "\\";
    const double run = TimeBackup(program, destination);
    RemoveTree(destination);
    return run;
  });
  printf("backup run of a template of %.1f MB of comment lines (median of 3): %.3f s (goal: under 2 s)\n",
         double(lines.size()) / (1 << 20), seconds);
}

bool Wanted(int argc, char** argv, const char* name) {
  if (argc < 2) return true;
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], name) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  YesPerson person;
  SetPerson(&person);
  const ScratchFolder scratch("ark_run_bench");
  const std::string& root = scratch.path();
  RegisterMainWindowClass(GetModuleHandleA(nullptr));
  CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNOACTIVATE);

  if (Wanted(argc, argv, "list")) BenchTemplateList(root);
  if (Wanted(argc, argv, "templates")) BenchManyTemplates(root);
  if (Wanted(argc, argv, "registry")) BenchRegistry(root);
  if (Wanted(argc, argv, "files")) BenchFiles(root);
  if (Wanted(argc, argv, "empty")) BenchEmptyEntries(root);
  if (Wanted(argc, argv, "comments")) BenchCommentTemplate(root);

  DestroyWindow(MainState().window);
  SetPerson(nullptr);
  return 0;
}
