// Wave-out output: one looping device buffer of 2 s (the ring) and a refill
// thread that re-renders each chunk as soon as the device has played it, so
// the music is rendered about 2 s ahead of what is heard. The only file of
// the engine that includes the platform's headers.
#include "xm_engine.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

constexpr int kBytesPerFrame = 4;  // 16-bit stereo
constexpr DWORD kLoopForever = 0xFFFFFFFF;
constexpr DWORD kPositionPollMs = 5;
constexpr DWORD kEndPollMs = 10;

WAVEHDR ringHeader;

HWAVEOUT openedDevice() { return static_cast<HWAVEOUT>(xmPlayback.waveDevice); }

// The device's play position in bytes since it was opened. The platform
// counts in 32 bits, which wrap after 6.7 hours at 176400 bytes/s; adding up
// the steps keeps the ring position right across the wrap.
struct PlayPosition {
  uint64_t bytes = 0;
  DWORD last = 0;

  bool update() {
    MMTIME time = {};
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(openedDevice(), &time, sizeof time) != MMSYSERR_NOERROR) return false;
    DWORD now;
    if (time.wType == TIME_BYTES)
      now = time.u.cb;
    else if (time.wType == TIME_SAMPLES)  // a device that counts frames instead
      now = time.u.sample * kBytesPerFrame;
    else
      return false;
    bytes += static_cast<DWORD>(now - last);
    last = now;
    return true;
  }
  int playingChunk() const { return static_cast<int>(bytes / kBytesPerFrame % XM_RING_FRAMES) / XM_CHUNK_FRAMES; }
};

DWORD WINAPI refillLoop(void*) {
  XmPlayback& p = xmPlayback;
  p.threadEnded.store(0, std::memory_order_release);
  PlayPosition position;
  while (!p.stopRequest.load(std::memory_order_acquire)) {
    if (position.update()) {
      const int playing = position.playingChunk();
      while (p.writeChunk != playing && !p.stopRequest.load(std::memory_order_acquire)) {
        p.renderBusy.store(1, std::memory_order_release);
        xmRenderChunk();
        p.renderBusy.store(0, std::memory_order_release);
      }
    }
    Sleep(kPositionPollMs);
  }
  p.threadEnded.store(1, std::memory_order_release);
  return 0;
}

bool openDevice() {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = XM_OUTPUT_RATE;
  format.wBitsPerSample = 16;
  format.nBlockAlign = kBytesPerFrame;
  format.nAvgBytesPerSec = XM_OUTPUT_RATE * kBytesPerFrame;
  HWAVEOUT device = nullptr;
  if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return false;
  xmPlayback.waveDevice = device;
  return true;
}

bool prepareRing() {
  ringHeader = WAVEHDR{};
  ringHeader.lpData = reinterpret_cast<LPSTR>(xmPlayback.ringBuffer);
  ringHeader.dwBufferLength = XM_RING_FRAMES * kBytesPerFrame;
  ringHeader.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
  ringHeader.dwLoops = kLoopForever;
  return waveOutPrepareHeader(openedDevice(), &ringHeader, sizeof ringHeader) == MMSYSERR_NOERROR;
}

bool startRefillThread() {
  XmPlayback& p = xmPlayback;
  p.stopRequest.store(0, std::memory_order_release);
  // Cleared here too, so that a stop before the thread first runs does not
  // take the flag of an earlier thread for this one's end.
  p.threadEnded.store(0, std::memory_order_release);
  HANDLE thread = CreateThread(nullptr, 0, refillLoop, nullptr, 0, nullptr);
  if (!thread) return false;
  p.refillThread = thread;
  SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
  return true;
}

}  // namespace

bool xmPlay(XmModule* module) {
  if (!xmBeginPlayback(module) || !openDevice()) return false;
  bool started = xmAllocateRenderBuffers() && prepareRing();
  if (started) {
    xmRenderRing();  // the whole ring before anything sounds
    started = waveOutWrite(openedDevice(), &ringHeader, sizeof ringHeader) == MMSYSERR_NOERROR && startRefillThread();
  }
  if (!started) xmStop(module);  // closes the device again
  return started;
}

bool xmStop(XmModule* module) {
  if (!module) return false;
  XmPlayback& p = xmPlayback;
  xmRaiseStop();
  if (HANDLE thread = p.refillThread) {
    while (!p.threadEnded.load(std::memory_order_acquire)) Sleep(kEndPollMs);
    // The flag is the thread's last store, not its end: wait for that too
    // before the handle is closed, so no thread of the player is left.
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    p.refillThread = nullptr;
  }
  if (HWAVEOUT device = openedDevice()) {
    waveOutReset(device);  // stops the loop and returns the buffer
    if (ringHeader.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device, &ringHeader, sizeof ringHeader);
    ringHeader.dwFlags &= ~WHDR_PREPARED;
  }
  xmEndPlayback();
  if (HWAVEOUT device = openedDevice()) {
    waveOutClose(device);
    p.waveDevice = nullptr;
  }
  return true;
}
