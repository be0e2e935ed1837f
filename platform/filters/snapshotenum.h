/*
 * An enumerator over a snapshot of interface pointers (IEnumFilters, IEnumMoniker): each item is held
 * with a reference for as long as the enumerator lives, so later changes of the list it was taken from
 * do not reach it.
 */
#ifndef MEDIAPLATFORM_SNAPSHOTENUM_H
#define MEDIAPLATFORM_SNAPSHOTENUM_H

#include <windows.h>
#include <new>
#include <vector>
#include "server/lifetime.h"

template <class IEnum, class Item> class SnapshotEnum final : public IEnum
{
public:
    /* A new enumerator over the n items of list at position pos, or NULL without memory. */
    static SnapshotEnum *Create(REFIID iid, Item *const *list, ULONG n, ULONG pos = 0)
    {
        SnapshotEnum *e = new (std::nothrow) SnapshotEnum(iid, pos);
        if (!e) return NULL;
        try { e->items.assign(list, list + n); }
        catch (...) { delete e; return NULL; }
        for (Item *item : e->items) item->AddRef();
        return e;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid))
        {
            *out = static_cast<IEnum *>(this);
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
    HRESULT STDMETHODCALLTYPE Next(ULONG n, Item **out, ULONG *fetched) override
    {
        ULONG got = 0;
        if (!out) return E_POINTER;
        if (n > 1 && !fetched) return E_INVALIDARG;
        while (got < n && pos < items.size())
        {
            out[got] = items[pos++];
            out[got++]->AddRef();
        }
        if (fetched) *fetched = got;
        return got == n ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG n) override
    {
        if (n > items.size() - pos)
        {
            pos = (ULONG)items.size();
            return S_FALSE;
        }
        pos += n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        pos = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum **out) override
    {
        if (!out) return E_POINTER;
        *out = Create(iid, items.data(), (ULONG)items.size(), pos);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    SnapshotEnum(REFIID i, ULONG p) : iid(i), pos(p) { PlatformObjectCreated(); }
    ~SnapshotEnum()
    {
        for (Item *item : items) item->Release();
        PlatformObjectDestroyed();
    }

    LONG ref = 1;
    IID iid;
    std::vector<Item *> items;
    ULONG pos;
};

#endif
