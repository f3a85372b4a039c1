// Exports a generated key tree under HKEY_CURRENT_USER with the own REGEDIT4
// writer and with the system's registry editor ("regedit /e"), and prints how
// the times compare and how the own writer's time grows when the tree doubles.
//
// Usage: registry_export_bench [sub-keys [values [rounds [own rounds]]]]
// (default 20000 sub-keys, 100000 values, 3 rounds, of which the first 1 also
// times the whole own export). The tree is built twice below one parent, so
// exporting one half measures N and exporting the parent measures 2N without
// generating a third tree. Each round exports both sizes with the registry
// editor and with the own writer alone (no window, no file); the first "own
// rounds" of them also time the whole own export, ExportRegistryKey. The
// medians of the rounds are compared. The whole export runs once by default
// because under Xvfb it needs minutes for the two sizes (the progress bar is
// repainted for nearly every value); which writer goes first alternates from
// round to round.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/handles.h"
#include "core/memory.h"
#include "message_ids.h"
#include "core/wide_text.h"
#include "operations/registry_export.h"

namespace {

constexpr char kParentKey[] = "Software\\ArkivantoBench";
constexpr char kParentText[] = "HKEY_CURRENT_USER\\Software\\ArkivantoBench";
constexpr DWORD kRegeditTimeoutMs = 10 * 60 * 1000;

// The parent key of both trees, made afresh and removed after the run.
class BenchKey {
 public:
  BenchKey() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kParentKey);
    status_ = RegCreateKeyExA(HKEY_CURRENT_USER, kParentKey, 0, nullptr, 0, KEY_WRITE, nullptr, key_.out(), nullptr);
  }
  ~BenchKey() {
    key_.reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, kParentKey);
  }
  BenchKey(const BenchKey&) = delete;
  BenchKey& operator=(const BenchKey&) = delete;
  HKEY get() const { return key_.get(); }
  LONG status() const { return status_; }

 private:
  RegKey key_;
  LONG status_;
};

struct Export {
  const char* what;          // for the report
  std::string keyBelowHkcu;  // "" for the parent
  unsigned keys;             // keys the export must hold
  std::vector<double> own, regedit, writerAlone;
};

std::string KeyText(const Export& e) {
  return e.keyBelowHkcu.empty() ? kParentText : std::string(kParentText) + "\\" + e.keyBelowHkcu;
}

// Times run(), which returns 0 on success and leaves its export text in
// text(). Fails, with a message, unless the text holds every key of the tree.
template <typename Run, typename Text>
bool Measure(const char* who, const Export& e, bool first, std::vector<double>* times, Run run, Text text) {
  const Stopwatch clock;
  const int result = run();
  const double seconds = clock.Seconds();
  const std::string bytes = text();
  const unsigned sections = CountSections(bytes);
  if (result != 0 || sections != e.keys) {
    printf("%s failed on %s: result %d, error %lu, %u of %u keys written\n", who, e.what, result, GetLastError(),
           sections, e.keys);
    return false;
  }
  if (first) printf("  %s text for %s: %zu bytes\n", who, e.what, bytes.size());
  times->push_back(seconds);
  return true;
}

bool TimeOwn(Export* e, const ScratchFolder& folder, unsigned round) {
  const std::string entry = folder / ("own" + std::to_string(round) + e->keyBelowHkcu + "\\");
  const std::string file = entry.substr(0, entry.size() - 1) + ".reg";
  const auto run = [&] { return ExportRegistryKey(KeyText(*e).c_str(), entry.c_str(), 0); };
  const bool ok = Measure("own writer", *e, round == 0, &e->own, run, [&] { return ReadFileBytes(file); });
  DeleteFileA(file.c_str());
  return ok;
}

bool TimeRegedit(Export* e, const ScratchFolder& folder, unsigned round) {
  const std::string file = folder / ("regedit" + std::to_string(round) + e->keyBelowHkcu + ".reg");
  const std::string command = "regedit.exe /e \"" + file + "\" \"" + KeyText(*e) + "\"";
  const auto run = [&] { return RunChild(command, kRegeditTimeoutMs); };
  const bool ok = Measure("regedit", *e, round == 0, &e->regedit, run, [&] { return ReadFileBytes(file); });
  DeleteFileA(file.c_str());
  return ok;
}

// The own writer without its progress window and without the file: what the
// registry reads and the text building cost by themselves.
bool TimeWriterAlone(Export* e, unsigned round) {
  std::string text;
  const auto run = [&] {
    WidePath key;
    FromCodePage(KeyText(*e).c_str(), &key);
    RegExport file(false);
    const int ok = file.WriteKey(nullptr, key.s);
    text.assign(file.text().text ? file.text().text : "", file.text().length);
    return ok ? 0 : 1;
  };
  const auto result = [&] { return text; };
  return Measure("writer alone", *e, round == 0, &e->writerAlone, run, result);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned subKeys = Argument(argc, argv, 1, 20000);
  const unsigned values = Argument(argc, argv, 2, 100000);
  const unsigned rounds = Argument(argc, argv, 3, 3);
  const unsigned ownRounds = Argument(argc, argv, 4, 1);
  if (!subKeys || !rounds || !ownRounds || ownRounds > rounds) {
    printf("usage: registry_export_bench [sub-keys [values [rounds [own rounds]]]]\n");
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);

  const BenchKey parent;
  TreeGenerator generator(subKeys, values);
  const Stopwatch generation;
  LONG status = parent.status();
  if (status == ERROR_SUCCESS) status = generator.Create(parent.get(), "A");
  if (status == ERROR_SUCCESS) status = generator.Create(parent.get(), "B");
  RegKey empty;
  if (status == ERROR_SUCCESS)
    status = RegCreateKeyExA(parent.get(), "Empty", 0, nullptr, 0, KEY_WRITE, nullptr, empty.out(), nullptr);
  if (status != ERROR_SUCCESS) {
    printf("generating the tree failed with error %ld\n", status);
    return 1;
  }
  const unsigned n = generator.KeyCount();
  printf("registry export: generated 2 trees of %u sub-keys and %u values each in %.1f s\n", n, values,
         generation.Seconds());

  // The empty key shows what starting the registry editor costs by itself.
  Export exports[] = {{"the empty key", "Empty", 1, {}, {}}, {"N", "A", n + 1, {}, {}}, {"2N", "", 2 * n + 4, {}, {}}};
  const ScratchFolder folder("ArkivantoBenchRegistry");
  std::vector<double> windowTimes;
  for (unsigned round = 0; round < rounds; ++round) {
    for (Export& e : exports) {
      // Alternate which writer goes first, so neither always finds the
      // caches of the other.
      const bool own = round < ownRounds;
      const bool ok = round % 2 ? TimeRegedit(&e, folder, round) && (!own || TimeOwn(&e, folder, round))
                                : (!own || TimeOwn(&e, folder, round)) && TimeRegedit(&e, folder, round);
      if (!ok || !TimeWriterAlone(&e, round)) return 1;
    }
    windowTimes.push_back(TimeProgressWindow(IDS_CAPTION_EXPORTING_REGISTRY));
  }

  for (const Export& e : exports) {
    printf("registry export %-13s (%6u keys): own %7.3f s [%s], regedit %7.3f s [%s], own/regedit %.2f\n", e.what,
           e.keys, Median(e.own), JoinSeconds(e.own).c_str(), Median(e.regedit), JoinSeconds(e.regedit).c_str(),
           Median(e.own) / Median(e.regedit));
    printf("registry export %-13s writer alone (no window, no file): %7.3f s [%s]\n", e.what, Median(e.writerAlone),
           JoinSeconds(e.writerAlone).c_str());
  }
  printf("registry export progress window shown and destroyed alone: %.3f s [%s]\n", Median(windowTimes),
         JoinSeconds(windowTimes).c_str());
  const Export& single = exports[1];
  const Export& twice = exports[2];
  printf("registry export ratio own/regedit at N: %.2f, at 2N: %.2f (target: at most 1.00)\n",
         Median(single.own) / Median(single.regedit), Median(twice.own) / Median(twice.regedit));
  printf("registry export scaling time(2N)/time(N): own %.2f (target: at most 2.30), regedit %.2f\n",
         Median(twice.own) / Median(single.own), Median(twice.regedit) / Median(single.regedit));
  printf(
      "registry export writer alone (no window, no file): writer alone/regedit at N %.2f, at 2N %.2f; "
      "scaling time(2N)/time(N) %.2f\n",
      Median(single.writerAlone) / Median(single.regedit), Median(twice.writerAlone) / Median(twice.regedit),
      Median(twice.writerAlone) / Median(single.writerAlone));
  return 0;
}
