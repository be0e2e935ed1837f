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

// Capturo and Dubrix: the names go straight into a combo box, filters[i] standing for combo line i.
// With a "None" first line (Capturo) filter 0 stays empty; without it (Dubrix) filter 0 is the first
// compressor and an empty category fails. *preset is the line of the last "Indeo" compressor, else 0.
bool EnumerateCompressorsIntoCombo(HWND combo, IBaseFilter **filters, REFCLSID category, bool noneLine,
                                   int *preset);

// Morphana: fills a combo box with "none" then the other names sorted without regard to case (equal
// names in list order), recording combo position -> entry in order[]. For the video list the last
// "Indeo" name in sorted order becomes the selection; for the audio list *pcmPosition receives the
// position of "PCM" (-1 when there is none).
void FillSortedCombo(CompressorList *list, HWND combo, bool video, int *pcmPosition);

// The modal selection dialog over owner (template dialogId, its combo comboId): 1 and the chosen entry
// in list->selection on OK, 0 on cancel with the selection unchanged.
INT_PTR RunCompressorDialog(HWND owner, CompressorList *list, int dialogId, int comboId);
