// The project's Editing Services declarations against the documented interface layout: every method in
// its vtable slot, every id with its documented value.
#include <windows.h>
#include <dshow.h>
#include "editing_services.h"
#include "gtest_win.h"

#include <stddef.h>
#include <string.h>

namespace {

// GCC's pointer to a virtual member function holds 1 + the method's byte offset in the vtable.
template <typename PMF> long vtable_slot(PMF pmf)
{
    static_assert(sizeof(PMF) == 2 * sizeof(ptrdiff_t), "two-word member pointers");
    ptrdiff_t raw[2];
    memcpy(raw, &pmf, sizeof(raw));
    if (!(raw[0] & 1)) return -1;   // not virtual
    return (long)((raw[0] - 1) / (ptrdiff_t)sizeof(void *));
}

#define SLOT(iface, method, slot) EXPECT_EQ(slot, vtable_slot(&iface::method)) << #iface "::" #method

bool guid_is(REFGUID guid, const WCHAR *text)
{
    GUID parsed;
    return SUCCEEDED(CLSIDFromString(text, &parsed)) && IsEqualGUID(guid, parsed);
}

#define ID(guid, text) EXPECT_TRUE(guid_is(guid, L"{" text "}")) << #guid

}  // namespace

TEST(EditingServicesHeader, MethodsSitInTheirVtableSlots)
{
    SLOT(IAMTimelineComp, VTrackInsBefore, 3);
    SLOT(IAMTimelineComp, VTrackSwapPriorities, 4);
    SLOT(IAMTimelineComp, VTrackGetCount, 5);
    SLOT(IAMTimelineComp, GetVTrack, 6);
    SLOT(IAMTimelineComp, GetCountOfType, 7);
    SLOT(IAMTimelineComp, GetRecursiveLayerOfType, 8);
    SLOT(IAMTimelineComp, GetRecursiveLayerOfTypeI, 9);
    SLOT(IAMTimelineComp, GetNextVTrack, 10);
    SLOT(IAMTimelineTrack, SrcAdd, 3);
    SLOT(IAMTimelineTrack, GetNextSrc, 4);
    SLOT(IAMTimelineTrack, GetNextSrc2, 5);
    SLOT(IAMTimelineTrack, MoveEverythingBy, 6);
    SLOT(IAMTimelineTrack, MoveEverythingBy2, 7);
    SLOT(IAMTimelineTrack, GetSourcesCount, 8);
    SLOT(IAMTimelineTrack, AreYouBlank, 9);
    SLOT(IAMTimelineTrack, GetSrcAtTime, 10);
    SLOT(IAMTimelineTrack, GetSrcAtTime2, 11);
    SLOT(IAMTimelineTrack, InsertSpace, 12);
    SLOT(IAMTimelineTrack, InsertSpace2, 13);
    SLOT(IAMTimelineTrack, ZeroBetween, 14);
    SLOT(IAMTimelineTrack, ZeroBetween2, 15);
    SLOT(IAMTimelineTrack, GetNextSrcEx, 16);
    SLOT(IAMTimelineTrans, GetCutPoint, 3);
    SLOT(IAMTimelineTrans, GetCutPoint2, 4);
    SLOT(IAMTimelineTrans, SetCutPoint, 5);
    SLOT(IAMTimelineTrans, SetCutPoint2, 6);
    SLOT(IAMTimelineTrans, GetSwapInputs, 7);
    SLOT(IAMTimelineTrans, SetSwapInputs, 8);
    SLOT(IAMTimelineTrans, GetCutsOnly, 9);
    SLOT(IAMTimelineTrans, SetCutsOnly, 10);
    SLOT(IAMTimelineTransable, TransAdd, 3);
    SLOT(IAMTimelineTransable, TransGetCount, 4);
    SLOT(IAMTimelineTransable, GetNextTrans, 5);
    SLOT(IAMTimelineTransable, GetNextTrans2, 6);
    SLOT(IAMTimelineTransable, GetTransAtTime, 7);
    SLOT(IAMTimelineTransable, GetTransAtTime2, 8);
    SLOT(IAMTimelineEffect, EffectGetPriority, 3);
    SLOT(IAMTimelineEffectable, EffectInsBefore, 3);
    SLOT(IAMTimelineEffectable, EffectSwapPriorities, 4);
    SLOT(IAMTimelineEffectable, EffectGetCount, 5);
    SLOT(IAMTimelineEffectable, GetEffect, 6);
    SLOT(IAMTimelineVirtualTrack, TrackGetPriority, 3);
    SLOT(IAMTimelineVirtualTrack, SetTrackDirty, 4);
    SLOT(IAMTimelineSplittable, SplitAt, 3);
    SLOT(IAMTimelineSplittable, SplitAt2, 4);
    SLOT(IRenderEngine, SetTimelineObject, 3);
    SLOT(IRenderEngine, GetTimelineObject, 4);
    SLOT(IRenderEngine, GetFilterGraph, 5);
    SLOT(IRenderEngine, SetFilterGraph, 6);
    SLOT(IRenderEngine, SetInterestRange, 7);
    SLOT(IRenderEngine, SetInterestRange2, 8);
    SLOT(IRenderEngine, SetRenderRange, 9);
    SLOT(IRenderEngine, SetRenderRange2, 10);
    SLOT(IRenderEngine, GetGroupOutputPin, 11);
    SLOT(IRenderEngine, ScrapIt, 12);
    SLOT(IRenderEngine, RenderOutputPins, 13);
    SLOT(IRenderEngine, GetVendorString, 14);
    SLOT(IRenderEngine, ConnectFrontEnd, 15);
    SLOT(IRenderEngine, SetSourceConnectCallback, 16);
    SLOT(IRenderEngine, SetDynamicReconnectLevel, 17);
    SLOT(IRenderEngine, DoSmartRecompression, 18);
    SLOT(IRenderEngine, UseInSmartRecompressionGraph, 19);
    SLOT(IRenderEngine, SetSourceNameValidation, 20);
    SLOT(IRenderEngine, Commit, 21);
    SLOT(IRenderEngine, Decommit, 22);
    SLOT(IRenderEngine, GetCaps, 23);
    SLOT(IXml2Dex, CreateGraphFromFile, 7);
    SLOT(IXml2Dex, WriteGrfFile, 8);
    SLOT(IXml2Dex, WriteXMLFile, 9);
    SLOT(IXml2Dex, ReadXMLFile, 10);
    SLOT(IXml2Dex, Delete, 11);
    SLOT(IXml2Dex, WriteXMLPart, 12);
    SLOT(IXml2Dex, PasteXMLFile, 13);
    SLOT(IXml2Dex, CopyXML, 14);
    SLOT(IXml2Dex, PasteXML, 15);
    SLOT(IXml2Dex, Reset, 16);
    SLOT(IXml2Dex, ReadXML, 17);
    SLOT(IXml2Dex, WriteXML, 18);
}

TEST(EditingServicesHeader, InterfaceIdsAndUuidof)
{
    ID(IID_IAMTimelineComp, "EAE58536-622E-11d2-8CAD-00A024580902");
    ID(IID_IAMTimelineTrack, "EAE58538-622E-11d2-8CAD-00A024580902");
    ID(IID_IAMTimelineTrans, "BCE0C265-622D-11d2-8CAD-00A024580902");
    ID(IID_IAMTimelineTransable, "378FA386-622E-11d2-8CAD-00A024580902");
    ID(IID_IAMTimelineEffect, "BCE0C264-622D-11d2-8CAD-00A024580902");
    ID(IID_IAMTimelineEffectable, "EAE58537-622E-11d2-8CAD-00A024580902");
    ID(IID_IAMTimelineVirtualTrack, "A8ED5F80-C2C7-11d2-8D39-00A0C9441E20");
    ID(IID_IAMTimelineSplittable, "A0F840A0-D590-11d2-8D55-00A0C9441E20");
    ID(IID_IRenderEngine, "6BEE3A81-66C9-11d2-918F-00C0DF10D434");
    ID(IID_IXml2Dex, "18C628ED-962A-11D2-8D08-00A0C9441E20");
    EXPECT_TRUE(IsEqualGUID(__uuidof(IXml2Dex), IID_IXml2Dex));
    EXPECT_TRUE(IsEqualGUID(__uuidof(IRenderEngine), IID_IRenderEngine));
    EXPECT_TRUE(IsEqualGUID(__uuidof(IAMTimelineTrans), IID_IAMTimelineTrans));
}

TEST(EditingServicesHeader, ClassAndCategoryIds)
{
    ID(CLSID_RenderEngine, "64D8A8E0-80A2-11d2-8CF3-00A0C9441E20");
    ID(CLSID_PropertySetter, "ADF95821-DED7-11d2-ACBE-0080C75E246E");
    ID(CLSID_Xml2Dex, "18C628EE-962A-11D2-8D08-00A0C9441E20");
    ID(CLSID_AudMixer, "036A9790-C153-11d2-9EF7-006008039E37");
    ID(CLSID_DxtKey, "C5B19592-145E-11d3-9F04-006008039E37");
    ID(CLSID_DxtJpeg, "DE75D012-7A65-11D2-8CEA-00A0C9441E20");
    ID(CLSID_AMTimelineObj, "78530B78-61F9-11D2-8CAD-00A024580902");
    ID(CLSID_AMTimelineSrc, "78530B7A-61F9-11D2-8CAD-00A024580902");
    ID(CLSID_AMTimelineTrack, "8F6C3C50-897B-11d2-8CFB-00A0C9441E20");
    ID(CLSID_AMTimelineComp, "74D2EC80-6233-11d2-8CAD-00A024580902");
    ID(CLSID_AMTimelineGroup, "F6D371E1-B8A6-11d2-8023-00C0DF10D434");
    ID(CLSID_AMTimelineTrans, "74D2EC81-6233-11d2-8CAD-00A024580902");
    ID(CLSID_AMTimelineEffect, "74D2EC82-6233-11d2-8CAD-00A024580902");
    ID(CLSID_WavDest, "3C78B8E2-6C4D-11D1-ADE2-0000F8754B99");
    ID(CLSID_VideoEffects1Category, "CC7BFB42-F175-11D1-A392-00E0291F3959");
    ID(CLSID_VideoEffects2Category, "CC7BFB43-F175-11D1-A392-00E0291F3959");
    ID(CLSID_AudioEffects1Category, "CC7BFB44-F175-11D1-A392-00E0291F3959");
    ID(CLSID_AudioEffects2Category, "CC7BFB45-F175-11D1-A392-00E0291F3959");
}

TEST(EditingServicesHeader, ConstantsAndStructureLayout)
{
    EXPECT_EQ(1, DEXTERF_INTERPOLATE);
    EXPECT_EQ(2, TIMELINE_INSERT_MODE_OVERLAY);
    EXPECT_EQ(-1, DEXTERF_BOUNDING);
    EXPECT_EQ(3, RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX);
    EXPECT_EQ(0x41, SFN_VALIDATEF_END);
    EXPECT_EQ(4, DXTKEY_HUE);
    EXPECT_EQ(1429, DEX_IDS_INTERFACE_ERROR);
    EXPECT_EQ((HRESULT)0x80040400, (HRESULT)E_NOTINTREE);
    // 64-bit layout of the documented structures
    EXPECT_EQ(24u, sizeof(DEXTER_AUDIO_VOLUMEENVELOPE));
    EXPECT_EQ(16u, offsetof(DEXTER_AUDIO_VOLUMEENVELOPE, bMethod));
    EXPECT_EQ(96u, sizeof(SCompFmt0));
    EXPECT_EQ(8u, offsetof(SCompFmt0, MediaType));
}
