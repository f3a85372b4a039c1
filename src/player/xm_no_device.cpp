// Output for builds without a wave-out device (tests, benchmarks and
// fuzzing render offline only): playback starts as it would on a device and
// then finds none. The Windows build links the wave-out file in its place.
#include "xm_engine.h"

bool xmPlay(XmModule* module) {
  xmBeginPlayback(module);
  return false;
}

bool xmStop(XmModule* module) {
  if (!module) return false;
  xmRaiseStop();
  xmEndPlayback();
  return true;
}
