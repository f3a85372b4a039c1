// libFuzzer target: load any bytes as a module and play what loads for a few
// seconds, so the loader, the replayer and the mixer all see hostile data.
#include "xm_engine.h"
#include "xm_writer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static float chunk[XM_CHUNK_FRAMES * 2];
  static int16_t pcm[XM_CHUNK_FRAMES * 2];
  XmModule* m = loadXmFromMemory(data, size);
  if (!m) return 0;
  xmResetPlayback(m);
  for (int i = 0; i < 3 * XM_OUTPUT_RATE / XM_CHUNK_FRAMES; i++) {
    xmRenderFrames(m, chunk, XM_CHUNK_FRAMES);
    xmConvert(pcm, chunk, XM_CHUNK_FRAMES);
  }
  xmFree(m);
  return 0;
}
