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

bool EnumerateCompressors(CompressorList *list, REFCLSID category)
{
    ICreateDevEnum *devices = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                (void **)&devices)))
        return false;
    IEnumMoniker *monikers = NULL;
    HRESULT hr = devices->CreateClassEnumerator(category, &monikers, 0);
    devices->Release();
    if (FAILED(hr)) return false;

    ReleaseCompressors(list);
    strcpy(list->names[0], "none");
    list->count = 1;
    if (!monikers) return true;  // an empty category

    monikers->Reset();
    IMoniker *moniker = NULL;
    while (list->count < MAX_COMPRESSORS && monikers->Next(1, &moniker, NULL) == S_OK) {
        IPropertyBag *bag = NULL;
        char name[64];
        if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag))) {
            if (ReadBagString(bag, friendlyNameProperty, name, sizeof name) && name[0] &&
                SUCCEEDED(moniker->BindToObject(NULL, NULL, IID_IBaseFilter,
                                                (void **)&list->filters[list->count]))) {
                if (strncmp(name, "Indeo", 5) == 0) list->selection = list->count;
                memcpy(list->names[list->count], name, sizeof name);
                list->count++;
            }
            bag->Release();
        }
        moniker->Release();
    }
    monikers->Release();
    return true;
}
