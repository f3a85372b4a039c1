// Playback end for builds without a wave-out device (tests, benchmarks and
// fuzzing render offline only). The Windows build links the wave-out file in
// its place.
#include "xm_player.h"

bool xmStop(XmModule* module) {
    if (!module)
        return false;
    xmPlayback.stopRequest.store(1, std::memory_order_release);
    while (xmPlayback.renderBusy.load(std::memory_order_acquire)) {
    }
    xmReleaseRenderBuffers();
    xmPlayback.playingModule = nullptr;
    xmPlayback.writeChunk = 0;
    return true;
}
