#include <doctest.h>

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "about/resource_reader.h"
#include "core/handles.h"
#include "resource.h"
#include "support/test_support.h"
#include "xm_engine.h"
#include "xm_writer.h"

namespace {

// ---------------------------------------------------------------------------
// The About box, driven from inside its modal loop by the shared dialog script

// Opens the About box from the main window's system menu, as the menu item
// does, and runs the steps in it through the shared dialog script: a step
// returning bool waits until it returns true, any other runs once. Returns
// when the box has closed.
template <class... Steps>
void RunAbout(const MainWindowFixture& main, Steps... steps) {
  DialogScript script;
  auto add = [&script](auto step) {
    if constexpr (std::is_same_v<std::invoke_result_t<decltype(step), HWND>, bool>)
      script.Until(DialogKind::About, step);
    else
      script.Then(DialogKind::About, step);
  };
  (add(steps), ...);
  SendMessageA(main.window(), WM_SYSCOMMAND, IDM_ABOUT, 0);
  CHECK(script.Done());
  for (const std::string& failure : script.failures) MESSAGE(failure);
}

// An Until step that is done once ms have passed since it first ran.
std::function<bool(HWND)> Waited(ULONGLONG ms) {
  return [ms, started = ULONGLONG(0)](HWND) mutable {
    if (started == 0) started = GetTickCount64();
    return GetTickCount64() - started >= ms;
  };
}

// A click as the mouse makes it; the static control tells the dialog.
void ClickIcon(HWND dialog) {
  const HWND icon = GetDlgItem(dialog, IDC_ABOUT_ICON);
  PostMessageA(icon, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  PostMessageA(icon, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

void PressOk(HWND dialog) { Click(dialog, IDOK); }
void PressEscape(HWND dialog) { PostKey(dialog, WM_KEYDOWN, VK_ESCAPE); }
void CloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

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
// Unix root). Tests that play ask for it first: the steps inside the box must
// not fail a requirement.
std::string capturePath;

void RequireCapture() {
  const char* unix = std::getenv("ARK_AUDIO_CAPTURE");
  REQUIRE_MESSAGE(unix, "this test plays sound into a file: run it through CTest");
  capturePath = std::string("Z:") + unix;
  std::replace(capturePath.begin(), capturePath.end(), '/', '\\');
}

LONGLONG CaptureBytes() {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(capturePath.c_str(), GetFileExInfoStandard, &data)) return 0;
  return LONGLONG(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

size_t FirstSound(const std::vector<int16_t>& pcm) {
  return size_t(std::find_if(pcm.begin(), pcm.end(), [](int16_t v) { return v != 0; }) - pcm.begin()) / 2;
}

bool SameFrames(const std::vector<int16_t>& a, size_t atA, const std::vector<int16_t>& b, size_t atB, size_t frames) {
  if ((atA + frames) * 2 > a.size() || (atB + frames) * 2 > b.size()) return false;
  return std::equal(a.begin() + 2 * atA, a.begin() + 2 * (atA + frames), b.begin() + 2 * atB);
}

bool ThreadRuns(DWORD id) {
  FileHandle thread(OpenThread(SYNCHRONIZE, FALSE, id));
  return thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT;
}

// What the engine holds while the tune plays, taken from inside the box.
struct Playing {
  XmModule* slot = nullptr;
  HWAVEOUT device = nullptr;
  DWORD threadId = 0;
  int priority = 0;
};

// An Until step that records what plays, done once the refill thread runs.
std::function<bool(HWND)> UntilPlaying(Playing& seen) {
  return [&seen](HWND dialog) {
    seen = {SlotOf(dialog), static_cast<HWAVEOUT>(xmPlayback.waveDevice)};
    if (xmPlayback.refillThread) {
      seen.threadId = GetThreadId(xmPlayback.refillThread);
      seen.priority = GetThreadPriority(xmPlayback.refillThread);
    }
    return seen.threadId != 0;
  };
}

// After the box has closed: the refill thread has ended and the device is
// closed, and nothing is played any more.
void CheckStopped(const Playing& was) {
  CHECK(was.slot);
  CHECK(xmPlayback.playingModule == nullptr);
  CHECK(xmPlayback.refillThread == nullptr);
  CHECK(xmPlayback.waveDevice == nullptr);
  CHECK_FALSE(ThreadRuns(was.threadId));
  MMTIME position = {};
  position.wType = TIME_BYTES;
  CHECK(waveOutGetPosition(was.device, &position, sizeof position) == MMSYSERR_INVALHANDLE);
  const LONGLONG closedAt = CaptureBytes();
  Sleep(300);
  CHECK(CaptureBytes() == closedAt);
}

// ---------------------------------------------------------------------------
// Modules that are not the tune

// A copy of this test program whose tune resource holds the given bytes, or
// with no resources at all when bytes is null; loaded as data for the
// resource reader.
class ResourceCopy {
 public:
  ResourceCopy(const ScratchFolder& folder, const char* name, const std::string* bytes) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string path = folder / name;
    REQUIRE(CopyFileA(self, path.c_str(), FALSE));
    const HANDLE update = BeginUpdateResourceA(path.c_str(), bytes == nullptr);
    REQUIRE(update);
    if (bytes)
      REQUIRE(UpdateResourceA(update, "XM", MAKEINTRESOURCEA(IDR_TUNE), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                              const_cast<char*>(bytes->data()), DWORD(bytes->size())));
    REQUIRE(EndUpdateResourceA(update, FALSE));
    module_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(module_);
  }
  ~ResourceCopy() { FreeLibrary(module_); }
  ResourceCopy(const ResourceCopy&) = delete;
  ResourceCopy& operator=(const ResourceCopy&) = delete;
  HMODULE module() const { return module_; }

 private:
  HMODULE module_ = nullptr;
};

std::string TuneBytes() {
  const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_TUNE), "XM");
  REQUIRE(found);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  return std::string(bytes, SizeofResource(nullptr, found));
}

}  // namespace

// ---------------------------------------------------------------------------

TEST_SUITE("with a device") {
  // That a second click changes nothing, the run without a device shows.
  TEST_CASE("a click plays the tune from its start, OK stops it") {
    RequireCapture();
    ScriptedPerson person;
    MainWindowFixture main;
    Playing first;
    std::string title, version;
    RunAbout(
        main,
        [&](HWND dialog) {
          char text[64] = {};
          GetWindowTextA(dialog, text, sizeof text);
          title = text;
          version = ItemText(dialog, IDC_ABOUT_VERSION);
          CheckSilent(dialog);
        },
        ClickIcon, UntilPlaying(first),
        // Two and a half passes of the ring: every chunk re-rendered at least
        // once. (Wine's ALSA driver takes the sound faster than it plays when
        // the machine is idle.)
        [](HWND) { return CaptureBytes() >= 5LL * XM_RING_FRAMES * 4 / 2; }, PressOk);
    CHECK(title == "About arkivanto...");
    CHECK(version == "Version " ARK_PROJECT_VERSION);
    REQUIRE(first.slot);
    CHECK(first.device);
    CHECK(first.priority == THREAD_PRIORITY_TIME_CRITICAL);
    CheckStopped(first);
    CHECK(person.shown.empty());

    // The first 2 s are the offline render frame for frame, after any
    // silence the driver put before them.
    const std::string bytes = ReadFileBytes(capturePath);
    std::vector<int16_t> captured(bytes.size() / 4 * 2);
    memcpy(captured.data(), bytes.data(), captured.size() * 2);
    // The tune as the engine renders it offline from its start, in the ring's
    // chunks, read through the program's own resource reader.
    RegisterResourceReader();
    XmModule* module = xmLoad(MAKEINTRESOURCEA(IDR_TUNE));
    REQUIRE(module);
    const std::vector<int16_t> offline = renderXm(module, int(captured.size() / 2));
    xmFree(module);
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

  // Each box opens after one that played; each run closes another way.
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
      void (*close)(HWND);
    };
    for (const Case& c : {Case{"missing.exe", nullptr, CloseBox}, Case{"truncated.exe", &truncated, PressEscape},
                          Case{"malformed.exe", &malformed, PressOk}}) {
      const std::string name = c.name;
      CAPTURE(name);
      ResourceCopy copy(folder, c.name, c.bytes);
      Playing retried;
      SetResourceFile(copy.module());
      RunAbout(
          main, ClickIcon, Waited(200),
          [](HWND dialog) {
            CheckSilent(dialog);
            SetResourceFile(nullptr);  // the program's own tune for the next click
          },
          ClickIcon, UntilPlaying(retried), Waited(200), c.close);
      SetResourceFile(nullptr);
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
    RunAbout(
        main, ClickIcon, Waited(200),
        [&](HWND dialog) {
          slot = SlotOf(dialog);
          CHECK(xmPlayback.waveDevice == nullptr);
          CHECK(xmPlayback.refillThread == nullptr);
        },
        ClickIcon, Waited(100), [&](HWND dialog) { CHECK(SlotOf(dialog) == slot); }, PressOk);
    CHECK(slot != nullptr);  // loaded and kept, so that later clicks do nothing
    CHECK(xmPlayback.playingModule == nullptr);
    CHECK(person.shown.empty());
  }
}

// That a refused module leaks nothing, the player's native run under the
// leak sanitizer shows for every length a module can be cut to.
TEST_CASE("the resource reader stays inside the resource") {
  void* handle = ResourceReaderOpen(MAKEINTRESOURCEA(IDR_TUNE));
  REQUIRE(handle);
  const std::string tune = TuneBytes();
  const int size = static_cast<ResourceReader*>(handle)->size;
  CHECK(size == int(tune.size()));
  // What it reads, the tune played through it shows.
  char bytes[32] = {};
  ResourceReaderSeek(handle, -5, 2);
  CHECK(ResourceReaderRead(bytes, 32, handle) == 5);  // up to the end only
  CHECK(ResourceReaderTell(handle) == size);
  ResourceReaderSeek(handle, 100, 1);
  CHECK(ResourceReaderTell(handle) == size);
  ResourceReaderSeek(handle, -100, 0);  // before the start: held at 0
  CHECK(ResourceReaderTell(handle) == 0);
  CHECK(ResourceReaderRead(bytes, -4, handle) == 0);
  ResourceReaderClose(handle);

  handle = ResourceReaderOpen(MAKEINTRESOURCEA(9999));
  REQUIRE(handle);
  CHECK(ResourceReaderRead(bytes, 17, handle) == 0);
  ResourceReaderClose(handle);
}
