// The installed compressors of one filter category, each with its filter made once at start-up.
#pragma once
#include <windows.h>
#include <dshow.h>

#define MAX_COMPRESSORS 64

struct CompressorList {
    int selection;                       // chosen entry; preset to the last "Indeo" entry
    int count;                           // valid entries, entry 0 included
    char names[MAX_COMPRESSORS][64];     // friendly names in the ANSI code page
    IBaseFilter *filters[MAX_COMPRESSORS];  // owned; entry 0 ("none") has none
    int order[MAX_COMPRESSORS];          // combo position -> entry (sorted lists only)
};

// Builds (or rebuilds) the list for a filter category, entry 0 being "none" without a filter.
// False when the device enumerator or the category enumerator cannot be had.
bool EnumerateCompressors(CompressorList *list, REFCLSID category);

// Releases every filter slot and clears it.
void ReleaseCompressors(CompressorList *list);

// Reads a string property ("FriendlyName", "guid") of a moniker's property bag into an ANSI buffer of
// size bytes, cut by whole characters; false when the property cannot be read.
bool ReadBagString(IPropertyBag *bag, const WCHAR *name, char *out, int size);
