/*
 * editing_services.h - Editing Services declarations missing from qedit.h.
 *
 * Both the mingw-w64 and the Wine qedit.h declare IAMTimeline, IAMTimelineObj, IAMTimelineGroup,
 * IAMTimelineSrc, IMediaDet, IPropertySetter, IMediaLocator, IAMErrorLog, IAMSetErrorLog, the sample
 * grabber, TIMELINE_MAJOR_TYPE, DEXTER_PARAM, DEXTER_VALUE, E_NOTINTREE..S_WARN_OUTPUTRESET,
 * CLSID_AMTimeline and CLSID_MediaDet. Everything else the programs use is declared here, once, for the
 * Winelib build (wineg++) and the Windows build (x86_64-w64-mingw32-g++), in the vtable order of the
 * Windows SDK.
 *
 * IPropertySetter: the mingw and Wine declarations stop after SetProps (slot 12). The Windows SDK has one
 * more method at slot 13:
 *     HRESULT PrintXMLW(WCHAR *pszXML, int cchXML, int *pcchPrinted, int indent);
 * Programs must not rely on it (neither header can call it); the platform's property setter puts it at
 * slot 13 all the same, so the object has the full Windows vtable.
 *
 * Types: the SDK spells 32-bit integers `long`; here they are LONG, because `long` is 64 bits in a
 * Winelib build. BOOL is int in both builds.
 *
 * GUIDs: every GUID below is a definition that the linker merges (selectany on PE, weak+hidden on ELF),
 * so any number of translation units may include this header and no INITGUID is needed.
 */
#ifndef SUITE_EDITING_SERVICES_H
#define SUITE_EDITING_SERVICES_H

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#ifdef __cplusplus
# define EDS_GUID_LINKAGE extern "C"
#else
# define EDS_GUID_LINKAGE
#endif
#if defined(__MINGW32__) || defined(_MSC_VER)
# define EDS_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    EDS_GUID_LINKAGE const GUID DECLSPEC_SELECTANY name = { l, w1, w2, { b1, b2, b3, b4, b5, b6, b7, b8 } }
#else
# define EDS_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    EDS_GUID_LINKAGE const GUID name __attribute__((weak, visibility("hidden"))) = \
        { l, w1, w2, { b1, b2, b3, b4, b5, b6, b7, b8 } }
#endif

#ifndef __CRT_UUID_DECL
# define __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)
#endif

/* ---- Interface ids ---------------------------------------------------------------------------- */

EDS_GUID(IID_IAMTimelineComp, 0xeae58536, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(IID_IAMTimelineTrack, 0xeae58538, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(IID_IAMTimelineTrans, 0xbce0c265, 0x622d, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(IID_IAMTimelineTransable, 0x378fa386, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(IID_IAMTimelineEffect, 0xbce0c264, 0x622d, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(IID_IAMTimelineEffectable, 0xeae58537, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(IID_IAMTimelineVirtualTrack, 0xa8ed5f80, 0xc2c7, 0x11d2, 0x8d, 0x39, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(IID_IAMTimelineSplittable, 0xa0f840a0, 0xd590, 0x11d2, 0x8d, 0x55, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(IID_IRenderEngine, 0x6bee3a81, 0x66c9, 0x11d2, 0x91, 0x8f, 0x00, 0xc0, 0xdf, 0x10, 0xd4, 0x34);
EDS_GUID(IID_IRenderEngine2, 0x6bee3a82, 0x66c9, 0x11d2, 0x91, 0x8f, 0x00, 0xc0, 0xdf, 0x10, 0xd4, 0x34);
EDS_GUID(IID_IFindCompressorCB, 0xf03fa8de, 0x879a, 0x4d59, 0x9b, 0x2c, 0x26, 0xbb, 0x1c, 0xf8, 0x34, 0x61);
EDS_GUID(IID_ISmartRenderEngine, 0xf03fa8ce, 0x879a, 0x4d59, 0x9b, 0x2c, 0x26, 0xbb, 0x1c, 0xf8, 0x34, 0x61);
EDS_GUID(IID_IGrfCache, 0xae9472be, 0xb0c3, 0x11d2, 0x8d, 0x24, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(IID_IXml2Dex, 0x18c628ed, 0x962a, 0x11d2, 0x8d, 0x08, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(IID_IResize, 0x4ada63a0, 0x72d5, 0x11d2, 0x95, 0x2a, 0x00, 0x60, 0x08, 0x18, 0x40, 0xbc);

/* ---- Class ids that qedit.h lacks ------------------------------------------------------------- */

EDS_GUID(CLSID_AMTimelineObj, 0x78530b78, 0x61f9, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(CLSID_AMTimelineSrc, 0x78530b7a, 0x61f9, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(CLSID_AMTimelineTrack, 0x8f6c3c50, 0x897b, 0x11d2, 0x8c, 0xfb, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(CLSID_AMTimelineComp, 0x74d2ec80, 0x6233, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(CLSID_AMTimelineGroup, 0xf6d371e1, 0xb8a6, 0x11d2, 0x80, 0x23, 0x00, 0xc0, 0xdf, 0x10, 0xd4, 0x34);
EDS_GUID(CLSID_AMTimelineTrans, 0x74d2ec81, 0x6233, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(CLSID_AMTimelineEffect, 0x74d2ec82, 0x6233, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);
EDS_GUID(CLSID_RenderEngine, 0x64d8a8e0, 0x80a2, 0x11d2, 0x8c, 0xf3, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(CLSID_SmartRenderEngine, 0x498b0949, 0xbbe9, 0x4072, 0x98, 0xbe, 0x6c, 0xca, 0xeb, 0x79, 0xdc, 0x6f);
EDS_GUID(CLSID_AudMixer, 0x036a9790, 0xc153, 0x11d2, 0x9e, 0xf7, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);
EDS_GUID(CLSID_Xml2Dex, 0x18c628ee, 0x962a, 0x11d2, 0x8d, 0x08, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(CLSID_MediaLocator, 0xcc1101f2, 0x79dc, 0x11d2, 0x8c, 0xe6, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(CLSID_PropertySetter, 0xadf95821, 0xded7, 0x11d2, 0xac, 0xbe, 0x00, 0x80, 0xc7, 0x5e, 0x24, 0x6e);
EDS_GUID(CLSID_DxtCompositor, 0xbb44391d, 0x6abd, 0x422f, 0x9e, 0x2e, 0x38, 0x5c, 0x9d, 0xff, 0x51, 0xfc);
EDS_GUID(CLSID_DxtAlphaSetter, 0x506d89ae, 0x909a, 0x44f7, 0x94, 0x44, 0xab, 0xd5, 0x75, 0x89, 0x6e, 0x35);
EDS_GUID(CLSID_DxtJpeg, 0xde75d012, 0x7a65, 0x11d2, 0x8c, 0xea, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20);
EDS_GUID(CLSID_ColorSource, 0x0cfdd070, 0x581a, 0x11d2, 0x9e, 0xe6, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);
EDS_GUID(CLSID_DxtKey, 0xc5b19592, 0x145e, 0x11d3, 0x9f, 0x04, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);
EDS_GUID(LIBID_DexterLib, 0x78530b68, 0x61f9, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02);

/* Wine's uuids.h has these two; mingw-w64 declares neither. */
#ifndef __WINE__
EDS_GUID(CLSID_SampleGrabber, 0xc1f400a0, 0x3f08, 0x11d3, 0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);
EDS_GUID(CLSID_NullRenderer, 0xc1f400a4, 0x3f08, 0x11d3, 0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);
#endif

/* The WAV writer filter of the DirectShow samples ("WavDest"); no SDK header names it. */
EDS_GUID(CLSID_WavDest, 0x3c78b8e2, 0x6c4d, 0x11d1, 0xad, 0xe2, 0x00, 0x00, 0xf8, 0x75, 0x4b, 0x99);

/* Filter categories of effects and transitions (device enumerator). Video transitions are
 * CLSID_VideoEffects2Category; one-input video effects CLSID_VideoEffects1Category. */
EDS_GUID(CLSID_VideoEffects1Category, 0xcc7bfb42, 0xf175, 0x11d1, 0xa3, 0x92, 0x00, 0xe0, 0x29, 0x1f, 0x39, 0x59);
EDS_GUID(CLSID_VideoEffects2Category, 0xcc7bfb43, 0xf175, 0x11d1, 0xa3, 0x92, 0x00, 0xe0, 0x29, 0x1f, 0x39, 0x59);
EDS_GUID(CLSID_AudioEffects1Category, 0xcc7bfb44, 0xf175, 0x11d1, 0xa3, 0x92, 0x00, 0xe0, 0x29, 0x1f, 0x39, 0x59);
EDS_GUID(CLSID_AudioEffects2Category, 0xcc7bfb45, 0xf175, 0x11d1, 0xa3, 0x92, 0x00, 0xe0, 0x29, 0x1f, 0x39, 0x59);

/* ---- Enumerations and constants --------------------------------------------------------------- */

typedef enum
{
    DEXTERF_JUMP = 0,
    DEXTERF_INTERPOLATE = DEXTERF_JUMP + 1
} DEXTERF;

enum
{
    DEXTER_AUDIO_JUMP = 0,
    DEXTER_AUDIO_INTERPOLATE = DEXTER_AUDIO_JUMP + 1
};

typedef struct
{
    REFERENCE_TIME rtEnd;
    double dLevel;
    BOOL bMethod;
} DEXTER_AUDIO_VOLUMEENVELOPE;

/* No type is named TIMELINE_INSERT_MODE: IAMTimeline::SetInsertMode takes a LONG. */
enum
{
    TIMELINE_INSERT_MODE_INSERT = 1,
    TIMELINE_INSERT_MODE_OVERLAY = 2
};

typedef enum
{
    DEXTERF_BOUNDING = -1,
    DEXTERF_EXACTLY_AT = 0,
    DEXTERF_FORWARDS = 1
} DEXTERF_TRACK_SEARCH_FLAGS;

typedef struct _SCompFmt0
{
    LONG nFormatId;
    AM_MEDIA_TYPE MediaType;
} SCompFmt0;

enum
{
    RESIZEF_STRETCH = 0,
    RESIZEF_CROP = RESIZEF_STRETCH + 1,
    RESIZEF_PRESERVEASPECTRATIO = RESIZEF_CROP + 1,
    RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX = RESIZEF_PRESERVEASPECTRATIO + 1
};

enum
{
    CONNECTF_DYNAMIC_NONE = 0,
    CONNECTF_DYNAMIC_SOURCES = 0x1,
    CONNECTF_DYNAMIC_EFFECTS = 0x2
};

enum
{
    SFN_VALIDATEF_CHECK = 0x1,
    SFN_VALIDATEF_POPUP = 0x2,
    SFN_VALIDATEF_TELLME = 0x4,
    SFN_VALIDATEF_REPLACE = 0x8,
    SFN_VALIDATEF_USELOCAL = 0x10,
    SFN_VALIDATEF_NOFIND = 0x20,
    SFN_VALIDATEF_IGNOREMUTED = 0x40,
    SFN_VALIDATEF_END = SFN_VALIDATEF_IGNOREMUTED + 1
};

enum
{
    DXTKEY_RGB = 0,
    DXTKEY_NONRED = DXTKEY_RGB + 1,
    DXTKEY_LUMINANCE = DXTKEY_NONRED + 1,
    DXTKEY_ALPHA = DXTKEY_LUMINANCE + 1,
    DXTKEY_HUE = DXTKEY_ALPHA + 1
};

/* E_NOTINTREE, E_RENDER_ENGINE_IS_BROKEN, E_MUST_INIT_RENDERER, E_NOTDETERMINED, E_NO_TIMELINE and
 * S_WARN_OUTPUTRESET come from qedit.h. The error-log string ids (1422-1425 are unused): */
#define DEX_IDS_BAD_SOURCE_NAME         1400
#define DEX_IDS_BAD_SOURCE_NAME2        1401
#define DEX_IDS_MISSING_SOURCE_NAME     1402
#define DEX_IDS_UNKNOWN_SOURCE          1403
#define DEX_IDS_INSTALL_PROBLEM         1404
#define DEX_IDS_NO_SOURCE_NAMES         1405
#define DEX_IDS_BAD_MEDIATYPE           1406
#define DEX_IDS_STREAM_NUMBER           1407
#define DEX_IDS_OUTOFMEMORY             1408
#define DEX_IDS_DIBSEQ_NOTALLSAME       1409
#define DEX_IDS_CLIPTOOSHORT            1410
#define DEX_IDS_INVALID_DXT             1411
#define DEX_IDS_INVALID_DEFAULT_DXT     1412
#define DEX_IDS_NO_3D                   1413
#define DEX_IDS_BROKEN_DXT              1414
#define DEX_IDS_NO_SUCH_PROPERTY        1415
#define DEX_IDS_ILLEGAL_PROPERTY_VAL    1416
#define DEX_IDS_INVALID_XML             1417
#define DEX_IDS_CANT_FIND_FILTER        1418
#define DEX_IDS_DISK_WRITE_ERROR        1419
#define DEX_IDS_INVALID_AUDIO_FX        1420
#define DEX_IDS_CANT_FIND_COMPRESSOR    1421
#define DEX_IDS_TIMELINE_PARSE          1426
#define DEX_IDS_GRAPH_ERROR             1427
#define DEX_IDS_GRID_ERROR              1428
#define DEX_IDS_INTERFACE_ERROR         1429

/* ---- Interfaces (C++ only; methods in vtable order) ------------------------------------------- */
#ifdef __cplusplus

struct IGrfCache;

MIDL_INTERFACE("EAE58537-622E-11d2-8CAD-00A024580902")
IAMTimelineEffectable : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE EffectInsBefore(IAMTimelineObj *pFX, LONG priority) = 0;
    virtual HRESULT STDMETHODCALLTYPE EffectSwapPriorities(LONG PriorityA, LONG PriorityB) = 0;
    virtual HRESULT STDMETHODCALLTYPE EffectGetCount(LONG *pCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEffect(IAMTimelineObj **ppFx, LONG Which) = 0;
};
__CRT_UUID_DECL(IAMTimelineEffectable, 0xeae58537, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02)

MIDL_INTERFACE("BCE0C264-622D-11d2-8CAD-00A024580902")
IAMTimelineEffect : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE EffectGetPriority(LONG *pVal) = 0;
};
__CRT_UUID_DECL(IAMTimelineEffect, 0xbce0c264, 0x622d, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02)

MIDL_INTERFACE("378FA386-622E-11d2-8CAD-00A024580902")
IAMTimelineTransable : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE TransAdd(IAMTimelineObj *pTrans) = 0;
    virtual HRESULT STDMETHODCALLTYPE TransGetCount(LONG *pCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextTrans(IAMTimelineObj **ppTrans, REFERENCE_TIME *pInOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextTrans2(IAMTimelineObj **ppTrans, REFTIME *pInOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTransAtTime(IAMTimelineObj **ppObj, REFERENCE_TIME Time,
                                                     LONG SearchDirection) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTransAtTime2(IAMTimelineObj **ppObj, REFTIME Time,
                                                      LONG SearchDirection) = 0;
};
__CRT_UUID_DECL(IAMTimelineTransable, 0x378fa386, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02)

MIDL_INTERFACE("A0F840A0-D590-11d2-8D55-00A0C9441E20")
IAMTimelineSplittable : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SplitAt(REFERENCE_TIME Time) = 0;
    virtual HRESULT STDMETHODCALLTYPE SplitAt2(REFTIME Time) = 0;
};
__CRT_UUID_DECL(IAMTimelineSplittable, 0xa0f840a0, 0xd590, 0x11d2, 0x8d, 0x55, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20)

MIDL_INTERFACE("BCE0C265-622D-11d2-8CAD-00A024580902")
IAMTimelineTrans : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetCutPoint(REFERENCE_TIME *pTLTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCutPoint2(REFTIME *pTLTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCutPoint(REFERENCE_TIME TLTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCutPoint2(REFTIME TLTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSwapInputs(BOOL *pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSwapInputs(BOOL pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCutsOnly(BOOL *pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCutsOnly(BOOL pVal) = 0;
};
__CRT_UUID_DECL(IAMTimelineTrans, 0xbce0c265, 0x622d, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02)

MIDL_INTERFACE("EAE58538-622E-11d2-8CAD-00A024580902")
IAMTimelineTrack : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SrcAdd(IAMTimelineObj *pSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextSrc(IAMTimelineObj **ppSrc, REFERENCE_TIME *pInOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextSrc2(IAMTimelineObj **ppSrc, REFTIME *pInOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveEverythingBy(REFERENCE_TIME Start, REFERENCE_TIME MoveBy) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveEverythingBy2(REFTIME Start, REFTIME MoveBy) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSourcesCount(LONG *pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE AreYouBlank(LONG *pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSrcAtTime(IAMTimelineObj **ppSrc, REFERENCE_TIME Time,
                                                   LONG SearchDirection) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSrcAtTime2(IAMTimelineObj **ppSrc, REFTIME Time,
                                                    LONG SearchDirection) = 0;
    virtual HRESULT STDMETHODCALLTYPE InsertSpace(REFERENCE_TIME rtStart, REFERENCE_TIME rtEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE InsertSpace2(REFTIME rtStart, REFTIME rtEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE ZeroBetween(REFERENCE_TIME rtStart, REFERENCE_TIME rtEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE ZeroBetween2(REFTIME rtStart, REFTIME rtEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextSrcEx(IAMTimelineObj *pLast, IAMTimelineObj **ppNext) = 0;
};
__CRT_UUID_DECL(IAMTimelineTrack, 0xeae58538, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02)

MIDL_INTERFACE("A8ED5F80-C2C7-11d2-8D39-00A0C9441E20")
IAMTimelineVirtualTrack : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE TrackGetPriority(LONG *pPriority) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTrackDirty(void) = 0;
};
__CRT_UUID_DECL(IAMTimelineVirtualTrack, 0xa8ed5f80, 0xc2c7, 0x11d2, 0x8d, 0x39, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20)

MIDL_INTERFACE("EAE58536-622E-11d2-8CAD-00A024580902")
IAMTimelineComp : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE VTrackInsBefore(IAMTimelineObj *pVirtualTrack, LONG Priority) = 0;
    virtual HRESULT STDMETHODCALLTYPE VTrackSwapPriorities(LONG VirtualTrackA, LONG VirtualTrackB) = 0;
    virtual HRESULT STDMETHODCALLTYPE VTrackGetCount(LONG *pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVTrack(IAMTimelineObj **ppVirtualTrack, LONG Which) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCountOfType(LONG *pVal, LONG *pValWithComps,
                                                     TIMELINE_MAJOR_TYPE MajorType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecursiveLayerOfType(IAMTimelineObj **ppVirtualTrack,
                                                              LONG WhichLayer, TIMELINE_MAJOR_TYPE Type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRecursiveLayerOfTypeI(IAMTimelineObj **ppVirtualTrack,
                                                               LONG *pWhichLayer, TIMELINE_MAJOR_TYPE Type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextVTrack(IAMTimelineObj *pVirtualTrack,
                                                    IAMTimelineObj **ppNextVirtualTrack) = 0;
};
__CRT_UUID_DECL(IAMTimelineComp, 0xeae58536, 0x622e, 0x11d2, 0x8c, 0xad, 0x00, 0xa0, 0x24, 0x58, 0x09, 0x02)

/* Source-connection cache of the render engine (IDispatch based). */
MIDL_INTERFACE("AE9472BE-B0C3-11D2-8D24-00A0C9441E20")
IGrfCache : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE AddFilter(IGrfCache *ChainedCache, LONGLONG ID,
                                                const IBaseFilter *pFilter, LPCWSTR pName) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectPins(IGrfCache *ChainedCache, LONGLONG PinID1, const IPin *pPin1,
                                                  LONGLONG PinID2, const IPin *pPin2) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGraph(const IGraphBuilder *pGraph) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoConnectionsNow(void) = 0;
};
__CRT_UUID_DECL(IGrfCache, 0xae9472be, 0xb0c3, 0x11d2, 0x8d, 0x24, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20)

MIDL_INTERFACE("6BEE3A81-66C9-11d2-918F-00C0DF10D434")
IRenderEngine : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetTimelineObject(IAMTimeline *pTimeline) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTimelineObject(IAMTimeline **ppTimeline) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFilterGraph(IGraphBuilder **ppFG) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFilterGraph(IGraphBuilder *pFG) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInterestRange(REFERENCE_TIME Start, REFERENCE_TIME Stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInterestRange2(double Start, double Stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRenderRange(REFERENCE_TIME Start, REFERENCE_TIME Stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRenderRange2(double Start, double Stop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGroupOutputPin(LONG Group, IPin **ppRenderPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE ScrapIt(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderOutputPins(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVendorString(BSTR *pVendorID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectFrontEnd(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSourceConnectCallback(IGrfCache *pCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDynamicReconnectLevel(LONG Level) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoSmartRecompression(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE UseInSmartRecompressionGraph(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSourceNameValidation(BSTR FilterString, IMediaLocator *pOverride,
                                                              LONG Flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE Decommit(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCaps(LONG Index, LONG *pReturn) = 0;
};
__CRT_UUID_DECL(IRenderEngine, 0x6bee3a81, 0x66c9, 0x11d2, 0x91, 0x8f, 0x00, 0xc0, 0xdf, 0x10, 0xd4, 0x34)

MIDL_INTERFACE("6BEE3A82-66C9-11d2-918F-00C0DF10D434")
IRenderEngine2 : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetResizerGUID(GUID ResizerGuid) = 0;
};
__CRT_UUID_DECL(IRenderEngine2, 0x6bee3a82, 0x66c9, 0x11d2, 0x91, 0x8f, 0x00, 0xc0, 0xdf, 0x10, 0xd4, 0x34)

MIDL_INTERFACE("F03FA8DE-879A-4d59-9B2C-26BB1CF83461")
IFindCompressorCB : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetCompressor(AM_MEDIA_TYPE *pType, AM_MEDIA_TYPE *pCompType,
                                                    IBaseFilter **ppFilter) = 0;
};
__CRT_UUID_DECL(IFindCompressorCB, 0xf03fa8de, 0x879a, 0x4d59, 0x9b, 0x2c, 0x26, 0xbb, 0x1c, 0xf8, 0x34, 0x61)

MIDL_INTERFACE("F03FA8CE-879A-4d59-9B2C-26BB1CF83461")
ISmartRenderEngine : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetGroupCompressor(LONG Group, IBaseFilter *pCompressor) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGroupCompressor(LONG Group, IBaseFilter **pCompressor) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFindCompressorCB(IFindCompressorCB *pCallback) = 0;
};
__CRT_UUID_DECL(ISmartRenderEngine, 0xf03fa8ce, 0x879a, 0x4d59, 0x9b, 0x2c, 0x26, 0xbb, 0x1c, 0xf8, 0x34, 0x61)

/* Saving and loading timelines as XML (XTL) project files; IDispatch based. */
MIDL_INTERFACE("18C628ED-962A-11D2-8D08-00A0C9441E20")
IXml2Dex : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE CreateGraphFromFile(IUnknown **ppGraph, IUnknown *pTimeline, BSTR Filename) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteGrfFile(IUnknown *pGraph, BSTR FileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteXMLFile(IUnknown *pTimeline, BSTR FileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadXMLFile(IUnknown *pTimeline, BSTR XMLName) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete(IUnknown *pTimeline, double dStart, double dEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteXMLPart(IUnknown *pTimeline, double dStart, double dEnd, BSTR FileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE PasteXMLFile(IUnknown *pTimeline, double dStart, BSTR FileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyXML(IUnknown *pTimeline, double dStart, double dEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PasteXML(IUnknown *pTimeline, double dStart) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadXML(IUnknown *pTimeline, IUnknown *pXML) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteXML(IUnknown *pTimeline, BSTR *pbstrXML) = 0;
};
__CRT_UUID_DECL(IXml2Dex, 0x18c628ed, 0x962a, 0x11d2, 0x8d, 0x08, 0x00, 0xa0, 0xc9, 0x44, 0x1e, 0x20)

MIDL_INTERFACE("4ada63a0-72d5-11d2-952a-0060081840bc")
IResize : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE get_Size(int *piHeight, int *piWidth, LONG *pFlag) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InputSize(int *piHeight, int *piWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Size(int Height, int Width, LONG Flag) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MediaType(AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MediaType(const AM_MEDIA_TYPE *pmt) = 0;
};
__CRT_UUID_DECL(IResize, 0x4ada63a0, 0x72d5, 0x11d2, 0x95, 0x2a, 0x00, 0x60, 0x08, 0x18, 0x40, 0xbc)

#endif /* __cplusplus */

/* ---- Capture devices ------------------------------------------------------------------------- */
/* IAMStreamConfig, VIDEO_STREAM_CONFIG_CAPS (128 bytes), IAMVideoProcAmp and IAMVfwCaptureDialogs come
 * from strmif.h in both builds; Wine's lacks the dialog numbers of IAMVfwCaptureDialogs. */
#ifdef __WINE__
typedef enum
{
    VfwCaptureDialog_Source = 0x1,
    VfwCaptureDialog_Format = 0x2,
    VfwCaptureDialog_Display = 0x4
} VfwCaptureDialogs;
#endif

#endif /* SUITE_EDITING_SERVICES_H */
