/*
 * The media platform's COM classes as the server's class table (main.cpp) sees them: one creator per
 * class, each making one object and querying it for riid.
 */
#ifndef MEDIAPLATFORM_CLASSES_H
#define MEDIAPLATFORM_CLASSES_H

#include <windows.h>

HRESULT CreateMediaDet(REFIID riid, void **out);             /* CLSID_MediaDet (editing/mediadet.cpp) */
HRESULT CreateSystemDeviceEnum(REFIID riid, void **out);     /* CLSID_SystemDeviceEnum (filters/devenum.cpp) */
HRESULT CreateTimeline(REFIID riid, void **out);             /* CLSID_AMTimeline (editing/timeline.cpp) */
HRESULT CreatePropertySetter(REFIID riid, void **out);       /* CLSID_PropertySetter (editing/propsetter.cpp) */
HRESULT CreateRenderEngine(REFIID riid, void **out);         /* CLSID_RenderEngine (editing/renderengine.cpp) */
HRESULT CreateXml2Dex(REFIID riid, void **out);              /* CLSID_Xml2Dex (editing/xml2dex.cpp) */
HRESULT CreateWavDest(REFIID riid, void **out);              /* CLSID_WavDest (filters/filter.cpp) */
HRESULT CreateFilterGraph(REFIID riid, void **out);          /* graph/filtergraph.cpp */
HRESULT CreateCaptureGraphBuilder(REFIID riid, void **out);  /* graph/capturebuilder.cpp */
HRESULT CreateFileWriter(REFIID riid, void **out);           /* filters/graphfilter.cpp */
HRESULT CreateAviMux(REFIID riid, void **out);               /* filters/graphfilter.cpp */
/* A compressor, transition or the virtual camera by its class id (filters/filter.cpp): the same filter its
 * moniker binds to. CLASS_E_CLASSNOTAVAILABLE when that class is not present on this machine now. */
HRESULT CreateCatalogFilter(REFCLSID clsid, REFIID riid, void **out);

#endif
