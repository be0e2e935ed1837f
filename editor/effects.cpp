// The installed video transitions that an item's effect indexes; entry 0 is the empty "no effect".
#include "sequora.h"
#include <string.h>

EffectList effects;

static const WCHAR friendlyNameProperty[] = {'F','r','i','e','n','d','l','y','N','a','m','e',0};
static const WCHAR guidProperty[] = {'g','u','i','d',0};

bool EnumerateEffects()
{
    ICreateDevEnum *devices = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                (void **)&devices)))
        return false;
    IEnumMoniker *monikers = NULL;
    HRESULT hr = devices->CreateClassEnumerator(CLSID_VideoEffects2Category, &monikers, 0);
    devices->Release();
    if (FAILED(hr) || !monikers) return false;

    effects.count = 1;
    effects.names[0][0] = 0;
    memset(&effects.clsids[0], 0, sizeof(GUID));
    bool found = false;
    monikers->Reset();
    IMoniker *moniker = NULL;
    while (effects.count < MAX_EFFECTS && monikers->Next(1, &moniker, NULL) == S_OK) {
        IPropertyBag *bag = NULL;
        if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag))) {
            int entry = effects.count;
            if (ReadBagString(bag, friendlyNameProperty, effects.names[entry], sizeof effects.names[entry])) {
                found = true;
                char guidText[64];
                WCHAR wideGuid[64];
                memset(&effects.clsids[entry], 0, sizeof(GUID));
                if (ReadBagString(bag, guidProperty, guidText, sizeof guidText) &&
                    MultiByteToWideChar(CP_ACP, 0, guidText, -1, wideGuid, 64))
                    CLSIDFromString(wideGuid, &effects.clsids[entry]);
                effects.count++;
            }
            bag->Release();
        }
        moniker->Release();
    }
    monikers->Release();
    return found;
}
