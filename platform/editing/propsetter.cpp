// Property setter: named properties of a transition or effect, each a list of values over time (jump or
// linear). The render engine reads them with GetProps when it compiles the timeline.
#include "server/lifetime.h"
#include "editing_services.h"
#include "editing/timeline.h"

#include <new>
#include <string.h>
#include <vector>

namespace {

struct PropValue
{
    VARIANT v;
    REFERENCE_TIME rt;
    DWORD interp;
};

struct Prop
{
    BSTR name;
    DISPID dispid;
    std::vector<PropValue> values;
};

void clear_prop(Prop &p)
{
    SysFreeString(p.name);
    for (auto &v : p.values) VariantClear(&v.v);
    p.values.clear();
}

class PropertySetter final : public IPropertySetter
{
public:
    PropertySetter() : ref(1)
    {
        InitializeCriticalSection(&cs);
        PlatformObjectCreated();
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertySetter))
        {
            *out = static_cast<IPropertySetter *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    // IPropertySetter
    HRESULT STDMETHODCALLTYPE LoadXML(IUnknown *xml) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PrintXML(char *xml, int size, int *printed, int indent) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloneProps(IPropertySetter **setter, REFERENCE_TIME start, REFERENCE_TIME stop) override;
    HRESULT STDMETHODCALLTYPE AddProp(DEXTER_PARAM param, DEXTER_VALUE *value) override;
    HRESULT STDMETHODCALLTYPE GetProps(LONG *count, DEXTER_PARAM **params, DEXTER_VALUE **values) override;
    HRESULT STDMETHODCALLTYPE FreeProps(LONG count, DEXTER_PARAM *params, DEXTER_VALUE *values) override;
    HRESULT STDMETHODCALLTYPE ClearProps() override
    {
        EnterCriticalSection(&cs);
        for (auto &p : props) clear_prop(p);
        props.clear();
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveToBlob(LONG *size, BYTE **blob) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LoadFromBlob(LONG size, BYTE *blob) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProps(IUnknown *target, REFERENCE_TIME now) override { return E_NOTIMPL; }
    // slot 13 of the full interface, missing from the Wine and mingw declarations
    virtual HRESULT STDMETHODCALLTYPE PrintXMLW(WCHAR *xml, int size, int *printed, int indent) { return E_NOTIMPL; }

    CRITICAL_SECTION cs;

private:
    ~PropertySetter()
    {
        ClearProps();
        DeleteCriticalSection(&cs);
        PlatformObjectDestroyed();
    }

    LONG ref;
    std::vector<Prop> props;
};

// Values are kept in time order; a property named twice gets the new values added to it.
HRESULT STDMETHODCALLTYPE PropertySetter::AddProp(DEXTER_PARAM param, DEXTER_VALUE *value)
{
    if (!param.name || !*param.name) return E_INVALIDARG;
    if (param.nValues <= 0 || !value) return E_INVALIDARG;

    EnterCriticalSection(&cs);
    Prop *target = NULL;
    for (auto &p : props)
        if (!lstrcmpiW(p.name, param.name)) target = &p;
    HRESULT hr = S_OK;
    try
    {
        if (!target)
        {
            Prop p;
            if (!(p.name = SysAllocString(param.name))) throw std::bad_alloc();
            p.dispid = param.dispID;
            props.push_back(p);
            target = &props.back();
        }
        for (LONG i = 0; i < param.nValues && SUCCEEDED(hr); i++)
        {
            PropValue pv;
            VariantInit(&pv.v);
            if (FAILED(hr = VariantCopy(&pv.v, &value[i].v))) break;
            pv.rt = value[i].rt;
            pv.interp = value[i].dwInterp;
            size_t at = target->values.size();
            while (at > 0 && target->values[at - 1].rt > pv.rt) at--;
            target->values.insert(target->values.begin() + at, pv);
        }
    }
    catch (const std::bad_alloc &)
    {
        hr = E_OUTOFMEMORY;
    }
    LeaveCriticalSection(&cs);
    return hr;
}

// One DEXTER_PARAM per property and all values one after another, param by param, as the caller of
// GetProps expects; FreeProps releases both.
HRESULT STDMETHODCALLTYPE PropertySetter::GetProps(LONG *count, DEXTER_PARAM **params, DEXTER_VALUE **values)
{
    if (!count || !params || !values) return E_POINTER;
    *count = 0;
    *params = NULL;
    *values = NULL;

    EnterCriticalSection(&cs);
    size_t total = 0;
    for (auto &p : props) total += p.values.size();
    DEXTER_PARAM *pa = (DEXTER_PARAM *)CoTaskMemAlloc(sizeof(DEXTER_PARAM) * (props.size() ? props.size() : 1));
    DEXTER_VALUE *va = (DEXTER_VALUE *)CoTaskMemAlloc(sizeof(DEXTER_VALUE) * (total ? total : 1));
    if (!pa || !va)
    {
        CoTaskMemFree(pa);
        CoTaskMemFree(va);
        LeaveCriticalSection(&cs);
        return E_OUTOFMEMORY;
    }
    size_t k = 0;
    for (size_t i = 0; i < props.size(); i++)
    {
        pa[i].name = SysAllocString(props[i].name);
        pa[i].dispID = props[i].dispid;
        pa[i].nValues = (LONG)props[i].values.size();
        for (auto &v : props[i].values)
        {
            VariantInit(&va[k].v);
            VariantCopy(&va[k].v, &v.v);
            va[k].rt = v.rt;
            va[k].dwInterp = v.interp;
            k++;
        }
    }
    *count = (LONG)props.size();
    *params = pa;
    *values = va;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertySetter::FreeProps(LONG count, DEXTER_PARAM *params, DEXTER_VALUE *values)
{
    if (count < 0) return E_INVALIDARG;
    LONG k = 0;
    for (LONG i = 0; params && i < count; i++)
    {
        for (LONG j = 0; values && j < params[i].nValues; j++) VariantClear(&values[k++].v);
        SysFreeString(params[i].name);
    }
    CoTaskMemFree(params);
    CoTaskMemFree(values);
    return S_OK;
}

// The values inside start..stop, with times from start.
HRESULT STDMETHODCALLTYPE PropertySetter::CloneProps(IPropertySetter **setter, REFERENCE_TIME start, REFERENCE_TIME stop)
{
    if (!setter) return E_POINTER;
    *setter = NULL;
    if (stop < start) return E_INVALIDARG;
    PropertySetter *clone = new (std::nothrow) PropertySetter();
    if (!clone) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    EnterCriticalSection(&cs);
    for (auto &p : props)
    {
        for (auto &v : p.values)
        {
            if (v.rt < start || v.rt > stop) continue;
            DEXTER_PARAM param = {p.name, p.dispid, 1};
            DEXTER_VALUE value;
            value.v = v.v;
            value.rt = v.rt - start;
            value.dwInterp = v.interp;
            if (FAILED(hr = clone->AddProp(param, &value))) break;
        }
        if (FAILED(hr)) break;
    }
    LeaveCriticalSection(&cs);
    if (FAILED(hr))
    {
        clone->Release();
        return hr;
    }
    *setter = clone;
    return S_OK;
}

}  // namespace

HRESULT CreatePropertySetter(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    PropertySetter *setter = new (std::nothrow) PropertySetter();
    if (!setter) return E_OUTOFMEMORY;
    HRESULT hr = setter->QueryInterface(riid, out);
    setter->Release();
    return hr;
}
