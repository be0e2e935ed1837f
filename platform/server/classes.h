/*
 * The media platform's COM classes as the server's class table (main.cpp) sees them: one creator per
 * class, each making one object and querying it for riid. A creator that takes an outer unknown makes an
 * object that can be aggregated (server/aggregate.h): with outer set it hands out its inner unknown (riid
 * is then IID_IUnknown). The table refuses an outer unknown to the others (CLASS_E_NOAGGREGATION).
 */
#ifndef MEDIAPLATFORM_CLASSES_H
#define MEDIAPLATFORM_CLASSES_H

#include <windows.h>

/* on their own only */
HRESULT CreateMediaDet(REFIID riid, void **out);             /* CLSID_MediaDet (editing/mediadet.cpp) */
HRESULT CreateTimeline(REFIID riid, void **out);             /* CLSID_AMTimeline (editing/timeline.cpp) */
HRESULT CreatePropertySetter(REFIID riid, void **out);       /* CLSID_PropertySetter (editing/propsetter.cpp) */
HRESULT CreateRenderEngine(REFIID riid, void **out);         /* CLSID_RenderEngine (editing/renderengine.cpp) */
HRESULT CreateXml2Dex(REFIID riid, void **out);              /* CLSID_Xml2Dex (editing/xml2dex.cpp) */
HRESULT CreateMediaLocator(REFIID riid, void **out);         /* CLSID_MediaLocator (editing/medialocator.cpp) */
HRESULT CreateSystemDeviceEnum(REFIID riid, void **out);     /* filters/devenum.cpp */
HRESULT CreateFilterMapper(REFIID riid, void **out);         /* CLSID_FilterMapper2 (graph/mapper.cpp) */
HRESULT CreateSystemClock(REFIID riid, void **out);          /* CLSID_SystemClock (graph/clock.cpp) */

/* aggregatable */
HRESULT CreateFilterGraph(IUnknown *outer, REFIID riid, void **out);          /* graph/filtergraph.cpp */
HRESULT CreateWavDest(IUnknown *outer, REFIID riid, void **out);              /* filters/filter.cpp */
HRESULT CreateCaptureGraphBuilder(IUnknown *outer, REFIID riid, void **out);  /* graph/capturebuilder.cpp */
HRESULT CreateFileWriter(IUnknown *outer, REFIID riid, void **out);           /* filters/graphfilter.cpp */
HRESULT CreateAviMux(IUnknown *outer, REFIID riid, void **out);               /* filters/graphfilter.cpp */
/* A compressor, transition or the virtual camera by its class id (filters/filter.cpp): the same filter its
 * moniker binds to. CLASS_E_CLASSNOTAVAILABLE when that class is not present on this machine now. */
HRESULT CreateCatalogFilter(REFCLSID clsid, IUnknown *outer, REFIID riid, void **out);

#endif
