#pragma once
// The interface of an effect plug-in for Marlix Audio.
//
// A plug-in is a shared object with the extension ".aep" that exports some of the
// functions below with C linkage. Only GetPlugName is required; the host looks each
// other one up by name and skips what is missing. The player loads a private copy of the
// file for every slot that uses it, so a plug-in may keep its state in globals: one copy
// of the library is one effect instance. Build plug-ins with hidden visibility for
// everything but these exports, so that copies never share a symbol.
//
// Threads: Show, Hide, Start, GetData, SetData and the loading calls come from the
// player's main thread; Clear, PostWave and PostWaveData come from the audio pipeline's
// thread, which must not block, allocate or wait on the main thread. The player never
// calls GetData or SetData while a block is being processed.

#include <stdint.h>

#ifdef __cplusplus
#define AEP_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define AEP_EXPORT __attribute__((visibility("default")))
#endif

// Called right after loading. Returns a zero-terminated name that stays valid while the
// library is loaded. The text after the first "|" is what the player shows (all of it
// when there is no "|"); the whole name identifies the plug-in in saved settings. An
// empty name keeps the plug-in out of the player's list.
typedef const char* (*TAEPGetPlugName)(void);

// Called right after loading with the folder of the loaded file, ending in "/".
typedef void (*TAEPSetPlugPath)(const char* folder);

// Restores state saved earlier with GetData (any size, possibly 0).
typedef void (*TAEPSetData)(const void* data, int32_t size);

// Asks for the state to save. Either set *data to a buffer of the plug-in's own that
// stays valid until the next call, and *size to its length; or leave *data null and set
// *size to the bytes needed: the host then calls again with *data pointing to a buffer of
// that size for the plug-in to fill.
typedef void (*TAEPGetData)(void** data, int32_t* size);

// Non-zero when the plug-in is a synthesiser.
typedef int32_t (*TAEPGetIsSSynth)(void);

// Show: open the editor window. Hide: close it. Start: called once when the plug-in is
// loaded into an effect slot, before its first block. Clear: reset the effect's internal
// state (delay lines, filter memories) before the next block. Destroy: the last call
// before the library is released. Stop is looked up and kept, never called.
typedef void (*TAEPAction)(void);

// Processes one block in place: `channels` pointers to `count` 32-bit float samples each.
typedef void (*TAEPPostWave)(float** channels, int32_t rate, int32_t channelCount, int32_t count);

// Used when PostWave is not exported: one block of `count` interleaved stereo frames
// (channelCount is 2), processed in place. Further channels bypass the plug-in.
typedef void (*TAEPPostWaveData)(float* frames, int32_t rate, int32_t channelCount, int32_t count);

// Looked up and kept, never called by the player.
typedef void (*TAEPSetText)(const char* text);
typedef int32_t (*TAEPGetPlugVersion)(void);
typedef int32_t (*TAEPGetActivePlug)(void);
typedef int32_t (*TAEPGetActiveChanged)(void);
typedef void (*TAEPMIDICallback)(uint32_t message);
typedef void (*TAEPPostMIDIMessage)(uint32_t message);
typedef void (*TAEPSetCBPostMIDIMessage)(TAEPMIDICallback callback);

// The bridge "vstrack.aep" hosts a foreign plug-in. Right after loading it, the player
// calls SetData with a block of AEP_BRIDGE_BLOCK_SIZE bytes: 1, 1, 0, 0, then the
// foreign library's path without its extension, zero-terminated.
#define AEP_BRIDGE_BLOCK_SIZE 260
#define AEP_BRIDGE_NAME_OFFSET 4

// The export names, as the host looks them up.
#define AEP_EXPORT_NAMES                                                                                 \
    "Show", "Hide", "Start", "Stop", "Clear", "Destroy", "SetData", "GetData", "SetText", "SetPlugPath", \
        "PostWave", "PostWaveData", "GetPlugName", "GetPlugVersion", "GetActivePlug", "GetActiveChanged",  \
        "GetIsSSynth", "PostMIDIMessage", "SetCBPostMIDIMessage"
