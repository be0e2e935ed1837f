#include <windows.h>
#include <dshow.h>
#include <string.h>
#include "compressors.h"
#include "textpath.h"

void ReleaseCompressors(CompressorList *list)
{
    for (int i = 0; i < MAX_COMPRESSORS; i++) {
        if (list->filters[i]) list->filters[i]->Release();
        list->filters[i] = NULL;
    }
}

// Reads one string property of a moniker's property bag into an ANSI buffer, cut to fit by whole
// characters; false when it is missing.
bool ReadBagString(IPropertyBag *bag, const WCHAR *name, char *out, int size)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    if (FAILED(bag->Read(name, &v, NULL))) return false;
    bool ok = V_VT(&v) == VT_BSTR && V_BSTR(&v);
    char whole[1024] = "";
    if (ok) WideCharToMultiByte(CP_ACP, 0, V_BSTR(&v), -1, whole, sizeof whole - 1, NULL, NULL);
    CopyText(out, whole, size);
    VariantClear(&v);
    return ok;
}

static const WCHAR friendlyNameProperty[] = {'F','r','i','e','n','d','l','y','N','a','m','e',0};

// The category's monikers; false when the enumerators cannot be had, true with *monikers NULL for an
// empty category.
static bool OpenCategory(REFCLSID category, IEnumMoniker **monikers)
{
    *monikers = NULL;
    ICreateDevEnum *devices = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                (void **)&devices)))
        return false;
    HRESULT hr = devices->CreateClassEnumerator(category, monikers, 0);
    devices->Release();
    if (FAILED(hr)) *monikers = NULL;
    return SUCCEEDED(hr);
}

// Walks the category's compressors while want(count) holds: each one with a name and a filter that binds
// is handed to take(name, filter), which keeps the filter reference. Returns how many were taken.
template <typename Take>
static int ForEachCompressor(IEnumMoniker *monikers, int first, int limit, int nameSize, Take take)
{
    int count = first;
    if (!monikers) return count;
    monikers->Reset();
    IMoniker *moniker = NULL;
    while (count < limit && monikers->Next(1, &moniker, NULL) == S_OK) {
        IPropertyBag *bag = NULL;
        char name[256];
        IBaseFilter *filter = NULL;
        if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag))) {
            if (ReadBagString(bag, friendlyNameProperty, name, nameSize) && name[0] &&
                SUCCEEDED(moniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&filter)))
                take(count++, name, filter);
            bag->Release();
        }
        moniker->Release();
    }
    return count;
}

bool EnumerateCompressors(CompressorList *list, REFCLSID category)
{
    IEnumMoniker *monikers;
    if (!OpenCategory(category, &monikers)) return false;
    ReleaseCompressors(list);
    strcpy(list->names[0], "none");
    list->count = ForEachCompressor(monikers, 1, MAX_COMPRESSORS, 64, [&](int i, const char *name, IBaseFilter *filter) {
        list->filters[i] = filter;
        if (strncmp(name, "Indeo", 5) == 0) list->selection = i;
        CopyText(list->names[i], name, 64);
    });
    if (monikers) monikers->Release();
    return true;
}

bool EnumerateCompressorsIntoCombo(HWND combo, IBaseFilter **filters, REFCLSID category, bool noneLine,
                                   int *preset)
{
    IEnumMoniker *monikers;
    if (!OpenCategory(category, &monikers)) return false;
    for (int i = 0; i < MAX_COMPRESSORS; i++) {
        if (filters[i]) filters[i]->Release();
        filters[i] = NULL;
    }
    *preset = 0;
    if (noneLine) SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)"None");
    int first = noneLine ? 1 : 0;
    int count = ForEachCompressor(monikers, first, MAX_COMPRESSORS, 256, [&](int i, const char *name, IBaseFilter *filter) {
        filters[i] = filter;
        if (strncmp(name, "Indeo", 5) == 0) *preset = i;
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)name);
    });
    if (monikers) monikers->Release();
    return noneLine || count > 0;
}

void FillSortedCombo(CompressorList *list, HWND combo, bool video, int *pcmPosition)
{
    bool placed[MAX_COMPRESSORS] = {};
    if (pcmPosition) *pcmPosition = -1;
    list->order[0] = 0;
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)list->names[0]);
    for (int position = 1; position < list->count; position++) {
        int lowest = -1;
        for (int i = 1; i < list->count; i++)
            if (!placed[i] && (lowest < 0 || lstrcmpiA(list->names[i], list->names[lowest]) < 0)) lowest = i;
        placed[lowest] = true;
        list->order[position] = lowest;
        // Sorted lines are added in order, so the combo needs no sorting of its own.
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)list->names[lowest]);
        if (video && strncmp(list->names[lowest], "Indeo", 5) == 0) list->selection = position;
        if (!video && pcmPosition && strcmp(list->names[lowest], "PCM") == 0) *pcmPosition = position;
    }
}

// State of the running selection dialog: one at a time, modal.
static CompressorList *dialogList;
static int dialogCombo;

static INT_PTR CALLBACK CompressorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        for (int i = 0; i < dialogList->count; i++)
            SendDlgItemMessageA(dialog, dialogCombo, CB_ADDSTRING, 0, (LPARAM)dialogList->names[i]);
        SendDlgItemMessageA(dialog, dialogCombo, CB_SETCURSEL, dialogList->selection, 0);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        int chosen = (int)SendDlgItemMessageA(dialog, dialogCombo, CB_GETCURSEL, 0, 0);
        if (chosen >= 0 && chosen < dialogList->count) dialogList->selection = chosen;
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

INT_PTR RunCompressorDialog(HWND owner, CompressorList *list, int dialogId, int comboId)
{
    dialogList = list;
    dialogCombo = comboId;
    return DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(dialogId), owner, CompressorDialogProc, 0);
}
