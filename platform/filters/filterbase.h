/*
 * What every filter of the platform keeps the same way: its state as the graph set it (the graph's
 * pipeline does the running), its clock, the graph it belongs to under a name, and its pins as PinList
 * gives them. Win32 side only.
 */
#ifndef MEDIAPLATFORM_FILTERBASE_H
#define MEDIAPLATFORM_FILTERBASE_H

#include "filters/mediatypes.h"

class FilterBase : public IBaseFilter, public PinList
{
public:
    CRITICAL_SECTION cs;

    bool Stopped();
    IFilterGraph *Graph() { return graph; }   /* no reference added */

    /* IMediaFilter */
    HRESULT STDMETHODCALLTYPE Stop() override { return SetState(State_Stopped); }
    HRESULT STDMETHODCALLTYPE Pause() override { return SetState(State_Paused); }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override { return SetState(State_Running); }
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *out) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **out) override;

    /* IBaseFilter */
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **out) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override;
    /* the graph holds the filter, not the other way round: no reference on the graph */
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override;

protected:
    FilterBase();
    virtual ~FilterBase();
    /* after the graph changed the state */
    virtual void StateChanged(FILTER_STATE state) {}

private:
    HRESULT SetState(FILTER_STATE s);

    FILTER_STATE state;
    IReferenceClock *clock;
    IFilterGraph *graph;
    WCHAR filter_name[MAX_FILTER_NAME];
};

#endif
