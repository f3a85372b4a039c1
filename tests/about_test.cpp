#include <doctest.h>

#include <windows.h>
#include <mmsystem.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "about/about_box.h"
#include "about/resource_reader.h"
#include "core/handles.h"
#include "resource.h"
#include "support/test_support.h"
#include "xm_engine.h"
#include "xm_writer.h"

namespace {

// ---------------------------------------------------------------------------
// The About box, driven from inside its modal loop

// A step: done when it returns true, run again on the next tick when not.
using Step = std::function<bool(HWND dialog)>;

// Opens the About box from the main window's system menu, as the menu item
// does, and plays the steps; returns when the box has closed.
void RunAboutScript(const MainWindowFixture& main, std::vector<Step> steps) {
  DialogScript script;
  for (Step& step : steps) script.Until(DialogKind::About, std::move(step));
  SendMessageA(main.window(), WM_SYSCOMMAND, IDM_ABOUT, 0);
  CHECK(script.Done());
  for (const std::string& failure : script.failures) MESSAGE(failure);
}

Step Do(std::function<void(HWND)> action) {
  return [action](HWND dialog) {
    action(dialog);
    return true;
  };
}

Step Wait(ULONGLONG ms) {
  return [ms, started = ULONGLONG(0)](HWND) mutable {
    if (started == 0) started = GetTickCount64();
    return GetTickCount64() - started >= ms;
  };
}

// A click as the mouse makes it; the static control tells the dialog.
Step ClickIcon() {
  return Do([](HWND dialog) {
    const HWND icon = GetDlgItem(dialog, IDC_ABOUT_ICON);
    PostMessageA(icon, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageA(icon, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  });
}

Step PressOk() {
  return Do([](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); });
}

Step PressEscape() {
  return Do([](HWND dialog) { PostKey(dialog, WM_KEYDOWN, VK_ESCAPE); });
}

Step CloseBox() {
  return Do([](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

XmModule* SlotOf(HWND dialog) { return reinterpret_cast<XmModule*>(GetWindowLongPtrA(dialog, GWLP_USERDATA)); }

// Inside the box: no module loaded, no device open, no refill thread.
void CheckSilent(HWND dialog) {
  CHECK(SlotOf(dialog) == nullptr);
  CHECK(xmPlayback.waveDevice == nullptr);
  CHECK(xmPlayback.refillThread == nullptr);
}

// ---------------------------------------------------------------------------
// Sound

// ALSA's file plugin writes what the device plays into a file (raw 16-bit
// stereo); ARK_AUDIO_CAPTURE names it, as a Unix path (wine's drive Z: is the
// Unix root). Tests that play ask
// for it first: the steps inside the box must not fail a requirement.
std::string capturePath;

void RequireCapture() {
  const char* unix = std::getenv("ARK_AUDIO_CAPTURE");
  REQUIRE_MESSAGE(unix, "this test plays sound into a file: run it through CTest");
  capturePath = std::string("Z:") + unix;
  std::replace(capturePath.begin(), capturePath.end(), '/', '\\');
}

std::vector<int16_t> Captured() {
  const std::string bytes = ReadFileBytes(capturePath);
  std::vector<int16_t> values(bytes.size() / 4 * 2);
  memcpy(values.data(), bytes.data(), values.size() * 2);
  return values;
}

LONGLONG CaptureBytes() {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(capturePath.c_str(), GetFileExInfoStandard, &data)) return 0;
  return LONGLONG(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// The tune as the engine renders it offline from its start, in the ring's
// chunks, read through the program's own resource reader.
std::vector<int16_t> OfflineTune(int frames) {
  RegisterResourceReader();
  XmModule* module = xmLoad(MAKEINTRESOURCEA(IDR_TUNE));
  REQUIRE(module);
  std::vector<int16_t> pcm = renderXm(module, frames);
  xmFree(module);
  return pcm;
}

size_t FirstSound(const std::vector<int16_t>& pcm) {
  size_t i = 0;
  while (i < pcm.size() && pcm[i] == 0) ++i;
  return i / 2;
}

bool SameFrames(const std::vector<int16_t>& a, size_t atA, const std::vector<int16_t>& b, size_t atB, size_t frames) {
  if ((atA + frames) * 2 > a.size() || (atB + frames) * 2 > b.size()) return false;
  return std::equal(a.begin() + 2 * atA, a.begin() + 2 * (atA + frames), b.begin() + 2 * atB);
}

std::vector<DWORD> ThreadsOfThisProcess() {
  std::vector<DWORD> ids;
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  return ids;
}

// What the engine holds while the tune plays, taken from inside the box.
struct Playing {
  XmModule* slot = nullptr;
  HWAVEOUT device = nullptr;
  DWORD threadId = 0;
  int priority = 0;

  static Playing Now(HWND dialog) {
    Playing p;
    p.slot = SlotOf(dialog);
    p.device = static_cast<HWAVEOUT>(xmPlayback.waveDevice);
    if (xmPlayback.refillThread) {
      p.threadId = GetThreadId(xmPlayback.refillThread);
      p.priority = GetThreadPriority(xmPlayback.refillThread);
    }
    return p;
  }
};

Step WaitUntilPlaying(Playing& seen) {
  return [&seen](HWND dialog) {
    seen = Playing::Now(dialog);
    return seen.threadId != 0;
  };
}

// After the box has closed: the refill thread has ended and the device is
// closed, and nothing is played any more.
void CheckStopped(const Playing& was) {
  CHECK(xmPlayback.playingModule == nullptr);
  CHECK(xmPlayback.refillThread == nullptr);
  CHECK(xmPlayback.waveDevice == nullptr);
  const std::vector<DWORD> threads = ThreadsOfThisProcess();
  CHECK(std::find(threads.begin(), threads.end(), was.threadId) == threads.end());
  MMTIME position = {};
  position.wType = TIME_BYTES;
  CHECK(waveOutGetPosition(was.device, &position, sizeof position) == MMSYSERR_INVALHANDLE);
  const LONGLONG closedAt = CaptureBytes();
  Sleep(300);
  CHECK(CaptureBytes() == closedAt);
}

// ---------------------------------------------------------------------------
// Modules that are not the tune

// A copy of this test program whose "XM" 107 holds the given bytes, or with
// no resources at all when bytes is null; loaded as data for the resource
// reader.
class ResourceCopy {
 public:
  ResourceCopy(const ScratchFolder& folder, const char* name, const std::string* bytes, LPCSTR type = "XM",
               LPCSTR id = MAKEINTRESOURCEA(IDR_TUNE)) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    path_ = folder / name;
    REQUIRE(CopyFileA(self, path_.c_str(), FALSE));
    const HANDLE update = BeginUpdateResourceA(path_.c_str(), bytes == nullptr);
    REQUIRE(update);
    if (bytes)
      REQUIRE(UpdateResourceA(update, type, id, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                              const_cast<char*>(bytes->data()), DWORD(bytes->size())));
    REQUIRE(EndUpdateResourceA(update, FALSE));
  }
  ~ResourceCopy() {
    if (module_) FreeLibrary(module_);
  }
  ResourceCopy(const ResourceCopy&) = delete;
  ResourceCopy& operator=(const ResourceCopy&) = delete;
  const std::string& path() const { return path_; }
  HMODULE Load() {
    if (!module_) module_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module_;
  }

 private:
  std::string path_;
  HMODULE module_ = nullptr;
};

std::string TuneBytes() {
  const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_TUNE), "XM");
  REQUIRE(found);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  return std::string(bytes, SizeofResource(nullptr, found));
}

// A version record with only its fixed part, as the resource compiler lays it out.
std::string VersionRecord(WORD major, WORD minor, WORD patch, WORD build) {
  std::string r(92, '\0');
  const WORD header[3] = {92, sizeof(VS_FIXEDFILEINFO), 0};
  memcpy(r.data(), header, sizeof header);
  const wchar_t key[] = L"VS_VERSION_INFO";
  memcpy(r.data() + 6, key, sizeof key);
  VS_FIXEDFILEINFO info = {};
  info.dwSignature = VS_FFI_SIGNATURE;
  info.dwStrucVersion = VS_FFI_STRUCVERSION;
  info.dwFileVersionMS = DWORD(major) << 16 | minor;
  info.dwFileVersionLS = DWORD(patch) << 16 | build;
  memcpy(r.data() + 40, &info, sizeof info);
  return r;
}

// Busy blocks on every heap of the process.
size_t BusyHeapBlocks() {
  HANDLE heaps[64];
  const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
  size_t busy = 0;
  for (DWORD i = 0; i < count; ++i) {
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  }
  return busy;
}

}  // namespace

// ---------------------------------------------------------------------------

TEST_SUITE("with a device") {
  TEST_CASE("a click plays the tune from its start, a second changes nothing, OK stops it") {
    RequireCapture();
    ScriptedPerson person;
    MainWindowFixture main;
    Playing first, afterSecond;
    LONGLONG bytesBeforeSecond = 0;
    std::string title, version, name;
    RunAboutScript(main, {
                             Do([&](HWND dialog) {
                               char text[64] = {};
                               GetWindowTextA(dialog, text, sizeof text);
                               title = text;
                               version = ItemText(dialog, IDC_ABOUT_VERSION);
                               CheckSilent(dialog);
                             }),
                             ClickIcon(),
                             WaitUntilPlaying(first),
                             Wait(300),
                             Do([&](HWND) { bytesBeforeSecond = CaptureBytes(); }),
                             ClickIcon(),
                             Wait(100),
                             Do([&](HWND dialog) { afterSecond = Playing::Now(dialog); }),
                             // Two and a half passes of the ring: every chunk re-rendered at
                             // least once. (Wine's ALSA driver takes the sound faster than it
                             // plays when the machine is idle.)
                             [](HWND) { return CaptureBytes() >= 5LL * XM_RING_FRAMES * 4 / 2; },
                             PressOk(),
                         });
    CHECK(title == "About arkivanto...");
    CHECK(version == "Version " ARK_PROJECT_VERSION);
    REQUIRE(first.slot);
    CHECK(first.device);
    CHECK(first.priority == THREAD_PRIORITY_TIME_CRITICAL);
    CHECK(afterSecond.slot == first.slot);
    CHECK(afterSecond.device == first.device);
    CHECK(afterSecond.threadId == first.threadId);
    CHECK(CaptureBytes() >= bytesBeforeSecond);  // not opened again: nothing truncated the capture
    CheckStopped(first);
    CHECK(person.shown.empty());

    // The first 2 s are the offline render frame for frame, after any
    // silence the driver put before them.
    const std::vector<int16_t> captured = Captured();
    const size_t capturedFrames = captured.size() / 2;
    const std::vector<int16_t> offline = OfflineTune(int(capturedFrames));
    const size_t start = FirstSound(captured), sound = FirstSound(offline);
    REQUIRE(start >= sound);
    const size_t lead = start - sound;
    CHECK(SameFrames(captured, lead, offline, 0, XM_RING_FRAMES));
    // After them the refill thread kept the ring ahead: chunk by chunk the
    // capture goes on with the tune, not with the first 2 s again.
    int refilled = 0, chunks = 0;
    for (size_t at = XM_RING_FRAMES; (lead + at + XM_CHUNK_FRAMES) * 2 <= captured.size(); at += XM_CHUNK_FRAMES) {
      ++chunks;
      refilled += SameFrames(captured, lead + at, offline, at, XM_CHUNK_FRAMES);
    }
    MESSAGE(lead << " silent frames before the tune; " << refilled << " of " << chunks
                 << " chunks after the first ring as rendered offline");
    CHECK(chunks >= XM_RING_CHUNKS * 14 / 10);
    CHECK(refilled >= chunks * 9 / 10);
  }

  TEST_CASE("the close box and Esc stop the tune like OK; reopening starts silent") {
    RequireCapture();
    ScriptedPerson person;
    MainWindowFixture main;
    for (const Step& close : {CloseBox(), PressEscape()}) {
      Playing seen;
      RunAboutScript(main, {ClickIcon(), WaitUntilPlaying(seen), Wait(200), close});
      CHECK(seen.slot);
      CheckStopped(seen);
    }
    RunAboutScript(main, {Wait(300), Do(CheckSilent), CloseBox()});
    CHECK(person.shown.empty());
  }

  TEST_CASE("a missing, truncated or malformed module keeps the box silent; the next click tries again") {
    RequireCapture();
    ScriptedPerson person;
    MainWindowFixture main;
    ScratchFolder folder("about");
    const std::string tune = TuneBytes();
    std::string malformed = tune;
    malformed[9] = 'X';  // "Extended Xodule: "
    const std::string truncated = tune.substr(0, tune.size() / 2);
    struct Case {
      const char* name;
      const std::string* bytes;
    };
    for (const Case& c :
         {Case{"missing.exe", nullptr}, Case{"truncated.exe", &truncated}, Case{"malformed.exe", &malformed}}) {
      const std::string name = c.name;
      CAPTURE(name);
      ResourceCopy copy(folder, c.name, c.bytes);
      REQUIRE(copy.Load());
      Playing retried;
      SetResourceFile(copy.Load());
      RunAboutScript(main, {ClickIcon(), Wait(200), Do([](HWND dialog) {
                              CheckSilent(dialog);
                              SetResourceFile(nullptr);  // the program's own tune for the next click
                            }),
                            ClickIcon(), WaitUntilPlaying(retried), PressEscape()});
      SetResourceFile(nullptr);
      CHECK(retried.slot);
      CheckStopped(retried);
    }
    CHECK(person.shown.empty());
  }
}

TEST_SUITE("without a device") {
  TEST_CASE("with no audio device the box stays silent and still works") {
    ScriptedPerson person;
    MainWindowFixture main;
    XmModule* slot = nullptr;
    RunAboutScript(main, {ClickIcon(), Wait(200), Do([&](HWND dialog) {
                            slot = SlotOf(dialog);
                            CHECK(xmPlayback.waveDevice == nullptr);
                            CHECK(xmPlayback.refillThread == nullptr);
                          }),
                          ClickIcon(), Wait(100), Do([&](HWND dialog) { CHECK(SlotOf(dialog) == slot); }), PressOk()});
    CHECK(slot != nullptr);  // loaded and kept, so that later clicks do nothing
    CHECK(xmPlayback.playingModule == nullptr);
    CHECK(person.shown.empty());

    RegisterResourceReader();
    XmModule* module = xmLoad(MAKEINTRESOURCEA(IDR_TUNE));
    REQUIRE(module);
    CHECK_FALSE(xmPlay(module));
    CHECK(xmStop(module));
    CHECK(xmFree(module));
  }
}

TEST_CASE("the version line reads the four numbers of the file's version record") {
  ScratchFolder folder("version");
  WORD version[4];
  char line[64];
  struct Case {
    WORD numbers[4];
    const char* line;
  };
  for (const Case& c :
       {Case{{1, 2, 0, 30}, "Version 1.2.0.30"}, Case{{65535, 0, 7, 65535}, "Version 65535.0.7.65535"}}) {
    const std::string record = VersionRecord(c.numbers[0], c.numbers[1], c.numbers[2], c.numbers[3]);
    ResourceCopy copy(folder, "versioned.exe", &record, RT_VERSION, MAKEINTRESOURCEA(VS_VERSION_INFO));
    REQUIRE(ReadFileVersion(copy.path().c_str(), version));
    FormatVersionLine(version, line, sizeof line);
    CHECK(std::string(line) == c.line);
  }
  const std::string text = folder / "plain.txt";
  WriteFileBytes(text, "no version here");
  CHECK_FALSE(ReadFileVersion(text.c_str(), version));
  FormatVersionLine(version, line, sizeof line);
  CHECK(std::string(line) == "Version 0.0.0.0");
}

TEST_CASE("the resource reader stays inside the resource, and a broken module leaks nothing") {
  void* handle = ResourceReaderOpen(MAKEINTRESOURCEA(IDR_TUNE));
  REQUIRE(handle);
  const std::string tune = TuneBytes();
  ResourceReader& r = *static_cast<ResourceReader*>(handle);
  CHECK(r.size == int(tune.size()));
  char bytes[32] = {};
  CHECK(ResourceReaderRead(bytes, 17, handle) == 17);
  CHECK(std::string(bytes, 17) == "Extended Module: ");
  ResourceReaderSeek(handle, -5, 2);
  CHECK(ResourceReaderTell(handle) == r.size - 5);
  CHECK(ResourceReaderRead(bytes, 32, handle) == 5);  // up to the end only
  CHECK(ResourceReaderTell(handle) == r.size);
  ResourceReaderSeek(handle, 100, 1);
  CHECK(ResourceReaderTell(handle) == r.size);
  ResourceReaderSeek(handle, -100, 0);  // before the start: held at 0
  CHECK(ResourceReaderTell(handle) == 0);
  CHECK(ResourceReaderRead(bytes, -4, handle) == 0);
  ResourceReaderSeek(handle, 3, 7);  // an unknown origin leaves the position
  CHECK(ResourceReaderTell(handle) == 0);
  ResourceReaderClose(handle);

  handle = ResourceReaderOpen(MAKEINTRESOURCEA(9999));
  REQUIRE(handle);
  CHECK(ResourceReaderRead(bytes, 17, handle) == 0);
  ResourceReaderClose(handle);

  ScratchFolder folder("leak");
  const std::string truncated = tune.substr(0, 3000);
  ResourceCopy copy(folder, "truncated.exe", &truncated);
  SetResourceFile(copy.Load());
  RegisterResourceReader();
  CHECK(xmLoad(MAKEINTRESOURCEA(IDR_TUNE)) == nullptr);  // warms up what the first load allocates once
  const size_t before = BusyHeapBlocks();
  for (int i = 0; i < 20; ++i) CHECK(xmLoad(MAKEINTRESOURCEA(IDR_TUNE)) == nullptr);
  CHECK(BusyHeapBlocks() == before);
  SetResourceFile(nullptr);
}
