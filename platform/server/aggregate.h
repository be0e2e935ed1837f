/*
 * COM aggregation for the platform's objects.
 *
 * An object that may be aggregated derives from Aggregatable besides its interfaces. Its inner unknown
 * (Inner()) is the one IUnknown that counts the object's references and answers QueryInterface for it
 * (NonDelegatingQueryInterface). Every other interface of the object delegates QueryInterface, AddRef and
 * Release to the controlling unknown (AGGREGATABLE_IUNKNOWN): the aggregating object's when there is one,
 * the inner unknown itself when the object stands alone. Aggregated, the object hands the outer object its
 * inner unknown and no other interface; the outer object's life is then the object's life.
 */
#ifndef MEDIAPLATFORM_AGGREGATE_H
#define MEDIAPLATFORM_AGGREGATE_H

#include <windows.h>

class Aggregatable
{
public:
    /* the non-delegating IUnknown, for the aggregating object */
    IUnknown *Inner() { return &inner; }
    /* the controlling IUnknown every interface of the object delegates to */
    IUnknown *Outer() { return outer; }

    /* What a class table creator does with a new object (one reference on its inner unknown): the
     * interface riid of it, or for an aggregating caller (riid must then be IID_IUnknown) its inner
     * unknown; the creation reference is dropped, so on failure the object goes. */
    HRESULT HandOut(REFIID riid, void **out)
    {
        HRESULT hr;
        if (!out) hr = E_POINTER;
        else if (outer != &inner && !IsEqualIID(riid, IID_IUnknown))
        {
            *out = NULL;
            hr = CLASS_E_NOAGGREGATION;
        }
        else hr = inner.QueryInterface(riid, out);
        inner.Release();
        return hr;
    }

protected:
    /* outer: the aggregating object's controlling unknown, NULL for an object on its own. The object
     * starts with one reference on its inner unknown. */
    explicit Aggregatable(IUnknown *outer_unknown) : outer(outer_unknown ? outer_unknown : &inner)
    {
        inner.self = this;
        inner.ref = 1;
    }
    virtual ~Aggregatable() {}

    /* An interface of the object other than IUnknown: *out set and a reference added through that
     * interface (which counts on the controlling unknown), or E_NOINTERFACE with *out NULL. */
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void **out) = 0;

    /* for NonDelegatingQueryInterface: hand out one interface pointer of the object */
    static HRESULT Hand(IUnknown *itf, void **out)
    {
        *out = itf;
        itf->AddRef();
        return S_OK;
    }

private:
    class InnerUnknown final : public IUnknown
    {
    public:
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
        {
            if (!out) return E_POINTER;
            if (IsEqualIID(riid, IID_IUnknown)) return Hand(this, out);
            *out = NULL;
            return self->NonDelegatingQueryInterface(riid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
        ULONG STDMETHODCALLTYPE Release() override
        {
            LONG r = InterlockedDecrement(&ref);
            if (r) return r;
            ref = 1;   /* a teardown that passes through the object's interfaces must not end it twice */
            delete self;
            return 0;
        }

        Aggregatable *self;
        LONG ref;
    };

    InnerUnknown inner;
    IUnknown *outer;
};

/* In the class of an aggregatable object: the IUnknown methods of all its interfaces, delegating. */
#define AGGREGATABLE_IUNKNOWN \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override \
    { \
        return Outer()->QueryInterface(riid, out); \
    } \
    ULONG STDMETHODCALLTYPE AddRef() override { return Outer()->AddRef(); } \
    ULONG STDMETHODCALLTYPE Release() override { return Outer()->Release(); }

#endif
