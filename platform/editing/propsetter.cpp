// Property setter: named properties of a transition or effect, each a list of values over time (jump or
// linear). The render engine reads them with GetProps when it compiles the timeline.
#include "server/lifetime.h"
#include "editing_services.h"
#include "editing/timeline.h"
#include "editing/xtl.h"

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
    HRESULT STDMETHODCALLTYPE PrintXML(char *xml, int size, int *printed, int indent) override;
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
    HRESULT STDMETHODCALLTYPE SaveToBlob(LONG *size, BYTE **blob) override;
    HRESULT STDMETHODCALLTYPE LoadFromBlob(LONG size, BYTE *blob) override;
    HRESULT STDMETHODCALLTYPE SetProps(IUnknown *target, REFERENCE_TIME now) override;
    // slot 13 of the full interface, missing from the Wine and mingw declarations
    virtual HRESULT STDMETHODCALLTYPE PrintXMLW(WCHAR *xml, int size, int *printed, int indent);

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

    HRESULT ValueAt(const Prop &p, REFERENCE_TIME t, VARIANT *out);
};

// Values are kept in time order; a property named twice gets the new values added to it.
HRESULT STDMETHODCALLTYPE PropertySetter::AddProp(DEXTER_PARAM param, DEXTER_VALUE *value)
{
    if (!value) return E_POINTER;
    if (!param.name || !*param.name || param.nValues <= 0) return E_INVALIDARG;

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

// The property's value at time t: the last value at or before it, or on the way to the next value when
// that one is reached linearly (numbers only); before the first value, the first value.
HRESULT PropertySetter::ValueAt(const Prop &p, REFERENCE_TIME t, VARIANT *out)
{
    VariantInit(out);
    if (p.values.empty()) return E_FAIL;
    size_t next = 0;
    while (next < p.values.size() && p.values[next].rt <= t) next++;
    if (next == 0) return VariantCopy(out, const_cast<VARIANT *>(&p.values[0].v));
    const PropValue &before = p.values[next - 1];
    if (next < p.values.size() && p.values[next].interp == DEXTERF_INTERPOLATE && p.values[next].rt > before.rt)
    {
        VARIANT a, b;
        VariantInit(&a);
        VariantInit(&b);
        if (SUCCEEDED(VariantChangeTypeEx(&a, const_cast<VARIANT *>(&before.v), LOCALE_INVARIANT, 0, VT_R8))
                && SUCCEEDED(VariantChangeTypeEx(&b, const_cast<VARIANT *>(&p.values[next].v), LOCALE_INVARIANT, 0, VT_R8)))
        {
            double f = (double)(t - before.rt) / (double)(p.values[next].rt - before.rt);
            V_VT(out) = VT_R8;
            V_R8(out) = V_R8(&a) + (V_R8(&b) - V_R8(&a)) * f;
            return S_OK;
        }
    }
    return VariantCopy(out, const_cast<VARIANT *>(&before.v));
}

// Each property starts with its value at start; the values after start follow, their times from start.
// (The stop time is reserved.)
HRESULT STDMETHODCALLTYPE PropertySetter::CloneProps(IPropertySetter **setter, REFERENCE_TIME start, REFERENCE_TIME stop)
{
    if (!setter) return E_POINTER;
    *setter = NULL;
    if (start < 0) return E_INVALIDARG;
    PropertySetter *clone = new (std::nothrow) PropertySetter();
    if (!clone) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    EnterCriticalSection(&cs);
    for (auto &p : props)
    {
        DEXTER_PARAM param = {p.name, p.dispid, 1};
        DEXTER_VALUE value;
        if (FAILED(hr = ValueAt(p, start, &value.v))) break;
        value.rt = 0;
        value.dwInterp = DEXTERF_JUMP;
        hr = clone->AddProp(param, &value);
        VariantClear(&value.v);
        for (auto &v : p.values)
        {
            if (FAILED(hr)) break;
            if (v.rt <= start) continue;
            value.v = v.v;
            value.rt = v.rt - start;
            value.dwInterp = v.interp;
            hr = clone->AddProp(param, &value);
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

// E_OUTOFMEMORY when the text and its terminating zero do not fit; printed (if given) gets the length.
HRESULT STDMETHODCALLTYPE PropertySetter::PrintXML(char *xml, int size, int *printed, int indent)
{
    std::string text;
    if (!xml) return E_POINTER;
    if (size <= 0 || indent < 0) return E_INVALIDARG;
    HRESULT hr = XtlParams(this, indent, &text);
    if (FAILED(hr)) return hr;
    if (printed) *printed = (int)text.size();
    if (text.size() + 1 > (size_t)size) return E_OUTOFMEMORY;
    memcpy(xml, text.c_str(), text.size() + 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertySetter::PrintXMLW(WCHAR *xml, int size, int *printed, int indent)
{
    std::string text;
    if (!xml) return E_POINTER;
    if (size <= 0 || indent < 0) return E_INVALIDARG;
    HRESULT hr = XtlParams(this, indent, &text);
    if (FAILED(hr)) return hr;
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0);
    if (printed) *printed = n;
    if (n + 1 > size) return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), xml, n);
    xml[n] = 0;
    return S_OK;
}

/* The blob: "PSB1", the number of properties, then per property its name (40 characters), its dispatch
 * id and number of values, then per value its text (40 characters), time and interpolation. Names and
 * values longer than 40 characters are cut, as documented. */
namespace {
const int BLOB_TEXT = 40;
struct BlobParam { WCHAR name[BLOB_TEXT]; DISPID dispid; LONG count; };
struct BlobValue { WCHAR text[BLOB_TEXT]; REFERENCE_TIME rt; DWORD interp; DWORD pad; };
const char BLOB_MAGIC[4] = {'P', 'S', 'B', '1'};
}

HRESULT STDMETHODCALLTYPE PropertySetter::SaveToBlob(LONG *size, BYTE **blob)
{
    if (!size || !blob) return E_POINTER;
    *size = 0;
    *blob = NULL;
    EnterCriticalSection(&cs);
    size_t total = sizeof(BLOB_MAGIC) + sizeof(LONG);
    for (auto &p : props) total += sizeof(BlobParam) + p.values.size() * sizeof(BlobValue);
    BYTE *out = total < 0x7fffffff ? (BYTE *)CoTaskMemAlloc(total) : NULL;
    if (!out)
    {
        LeaveCriticalSection(&cs);
        return E_OUTOFMEMORY;
    }
    memset(out, 0, total);
    BYTE *at = out;
    memcpy(at, BLOB_MAGIC, sizeof(BLOB_MAGIC));
    at += sizeof(BLOB_MAGIC);
    LONG count = (LONG)props.size();
    memcpy(at, &count, sizeof(count));
    at += sizeof(count);
    for (auto &p : props)
    {
        BlobParam bp = {};
        lstrcpynW(bp.name, p.name, BLOB_TEXT);
        bp.dispid = p.dispid;
        bp.count = (LONG)p.values.size();
        memcpy(at, &bp, sizeof(bp));
        at += sizeof(bp);
        for (auto &v : p.values)
        {
            BlobValue bv = {};
            VARIANT text;
            VariantInit(&text);
            if (SUCCEEDED(VariantChangeTypeEx(&text, &v.v, LOCALE_INVARIANT, 0, VT_BSTR)))
                lstrcpynW(bv.text, V_BSTR(&text) ? V_BSTR(&text) : L"", BLOB_TEXT);
            VariantClear(&text);
            bv.rt = v.rt;
            bv.interp = v.interp;
            memcpy(at, &bv, sizeof(bv));
            at += sizeof(bv);
        }
    }
    LeaveCriticalSection(&cs);
    *size = (LONG)total;
    *blob = out;
    return S_OK;
}

// What was set before is replaced; the values come back as text. E_INVALIDARG for what SaveToBlob did
// not write.
HRESULT STDMETHODCALLTYPE PropertySetter::LoadFromBlob(LONG size, BYTE *blob)
{
    if (!blob) return E_POINTER;
    if (size < (LONG)(sizeof(BLOB_MAGIC) + sizeof(LONG)) || memcmp(blob, BLOB_MAGIC, sizeof(BLOB_MAGIC)))
        return E_INVALIDARG;
    const BYTE *at = blob + sizeof(BLOB_MAGIC), *end = blob + size;
    LONG count;
    memcpy(&count, at, sizeof(count));
    at += sizeof(count);
    // check the whole blob before anything changes
    const BYTE *walk = at;
    for (LONG i = 0; i < count; i++)
    {
        BlobParam bp;
        if (count < 0 || end - walk < (ptrdiff_t)sizeof(bp)) return E_INVALIDARG;
        memcpy(&bp, walk, sizeof(bp));
        walk += sizeof(bp);
        if (bp.count <= 0 || (end - walk) / (ptrdiff_t)sizeof(BlobValue) < bp.count) return E_INVALIDARG;
        walk += bp.count * sizeof(BlobValue);
    }
    if (walk != end) return E_INVALIDARG;
    ClearProps();
    HRESULT hr = S_OK;
    for (LONG i = 0; i < count && SUCCEEDED(hr); i++)
    {
        BlobParam bp;
        memcpy(&bp, at, sizeof(bp));
        at += sizeof(bp);
        bp.name[BLOB_TEXT - 1] = 0;
        DEXTER_PARAM param = {SysAllocString(bp.name), bp.dispid, 1};
        if (!param.name) hr = E_OUTOFMEMORY;
        for (LONG j = 0; j < bp.count && SUCCEEDED(hr); j++)
        {
            BlobValue bv;
            memcpy(&bv, at + j * sizeof(bv), sizeof(bv));
            bv.text[BLOB_TEXT - 1] = 0;
            DEXTER_VALUE value;
            VariantInit(&value.v);
            V_VT(&value.v) = VT_BSTR;
            V_BSTR(&value.v) = SysAllocString(bv.text);
            value.rt = bv.rt;
            value.dwInterp = bv.interp;
            hr = V_BSTR(&value.v) ? AddProp(param, &value) : E_OUTOFMEMORY;
            VariantClear(&value.v);
        }
        at += bp.count * sizeof(BlobValue);
        SysFreeString(param.name);
    }
    return hr;
}

// Every property is put on the target through its IDispatch, as its value at that time.
HRESULT STDMETHODCALLTYPE PropertySetter::SetProps(IUnknown *target, REFERENCE_TIME now)
{
    IDispatch *dispatch = NULL;
    if (!target) return E_POINTER;
    if (FAILED(target->QueryInterface(IID_IDispatch, (void **)&dispatch))) return E_NOINTERFACE;
    HRESULT result = S_OK;
    EnterCriticalSection(&cs);
    for (auto &p : props)
    {
        DISPID id;
        LPOLESTR name = p.name;
        VARIANT value;
        HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        if (SUCCEEDED(hr)) hr = ValueAt(p, now, &value);
        if (SUCCEEDED(hr))
        {
            DISPID put = DISPID_PROPERTYPUT;
            DISPPARAMS args = {&value, &put, 1, 1};
            hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &args, NULL, NULL, NULL);
            VariantClear(&value);
        }
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    LeaveCriticalSection(&cs);
    dispatch->Release();
    return result;
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
