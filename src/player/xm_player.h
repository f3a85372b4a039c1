// XM player: loads a module through a data source the program registers and
// plays it, looping, on the wave-out device.
#pragma once

#include <cstdint>

struct XmModule;

// Registers the data source the loader reads through: open a name, close,
// read (note: the handle comes last), seek (origins 0 start, 1 current
// position, 2 end) and tell. When any operation is missing all five are
// cleared.
void xmSetIo(void* (*open)(const char*), int (*close)(void*), int (*read)(void*, int, void*),
             int (*seek)(void*, int32_t, int), int32_t (*tell)(void*));

// Loads a module through the registered data source; nullptr when the source
// cannot be opened or the module is malformed or beyond the engine's limits.
XmModule* xmLoad(const char* name);
// Stops playback and releases the module; false for nullptr.
bool xmFree(XmModule* module);

// Plays the module on the wave-out device, looping forever: the whole ring
// (2 s) is rendered on the calling thread before anything sounds, then a
// time-critical refill thread keeps it ahead. False when nothing plays: no
// module, no data source, no device, or no memory.
bool xmPlay(XmModule* module);
// Ends playback of whatever plays (the module is only tested for nullptr):
// the refill thread has ended and the device is closed when it returns.
bool xmStop(XmModule* module);
