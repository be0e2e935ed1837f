// Turns the media list and the output settings into an editing-services timeline: one group per output
// medium, one track and source per item stream, transitions on video tracks, fades on audio tracks.
#include "sequora.h"
#include <stdlib.h>
#include <string.h>

IAMTimeline *timeline;

static const GUID *const depthSubtypes[] = {&MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_ARGB32};

// Clip length of a stream: its own length, or the image time for a still.
static double ClipLength(const MediaItem *item, int stream)
{
    return item->streams[stream].length != 0 ? item->streams[stream].length : item->imageTime;
}

static IAMTimelineObj *CreateNode(TIMELINE_MAJOR_TYPE type)
{
    IAMTimelineObj *node = NULL;
    if (FAILED(timeline->CreateEmptyNode(&node, type))) return NULL;
    return node;
}

static IPropertySetter *CreatePropertySetter()
{
    IPropertySetter *setter = NULL;
    if (FAILED(CoCreateInstance(CLSID_PropertySetter, NULL, CLSCTX_INPROC_SERVER, IID_IPropertySetter,
                                (void **)&setter)))
        return NULL;
    return setter;
}

// One property of one or more values on a setter.
static HRESULT AddProperty(IPropertySetter *setter, const WCHAR *name, DEXTER_VALUE *values, LONG count)
{
    DEXTER_PARAM param = {};
    param.name = SysAllocString(name);
    param.dispID = 0;
    param.nValues = count;
    HRESULT hr = setter->AddProp(param, values);
    SysFreeString(param.name);
    return hr;
}

static HRESULT AddStringProperty(IPropertySetter *setter, const WCHAR *name, const WCHAR *text)
{
    DEXTER_VALUE value = {};
    V_VT(&value.v) = VT_BSTR;
    V_BSTR(&value.v) = SysAllocString(text);
    value.rt = 0;
    value.dwInterp = DEXTERF_JUMP;
    HRESULT hr = AddProperty(setter, name, &value, 1);
    VariantClear(&value.v);
    return hr;
}

static void AddTransition(IAMTimelineTrack *track, int k, int j)
{
    const MediaItem *item = &items[k];
    if (item->effect < 0 || item->effect >= effects.count) return;
    const GUID &clsid = effects.clsids[item->effect];
    IAMTimelineObj *transition = CreateNode(TIMELINE_MAJOR_TYPE_TRANSITION);
    if (!transition) return;
    LONGLONG span = (LONGLONG)(item->effectSpan * ClipLength(item, j) * 10000);
    IAMTimelineTrans *trans = NULL;
    IAMTimelineTransable *transable = NULL;
    bool ok = SUCCEEDED(transition->SetSubObjectGUID(clsid)) &&
              SUCCEEDED(transition->SetStartStop(item->start, item->start + span)) &&
              SUCCEEDED(transition->QueryInterface(IID_IAMTimelineTrans, (void **)&trans)) &&
              SUCCEEDED(trans->SetSwapInputs(FALSE));
    if (ok && IsEqualGUID(clsid, CLSID_DxtKey)) {
        // Key by colour, black being the key colour.
        static const WCHAR keyType[] = {'K','e','y','T','y','p','e',0}, zero[] = {'0',0};
        static const WCHAR rgb[] = {'R','G','B',0}, black[] = {'0','x','0','0','0','0','0','0',0};
        IPropertySetter *setter = CreatePropertySetter();
        ok = setter && SUCCEEDED(AddStringProperty(setter, keyType, zero)) &&
             SUCCEEDED(AddStringProperty(setter, rgb, black)) && SUCCEEDED(transition->SetPropertySetter(setter));
        if (setter) setter->Release();
    }
    if (ok && SUCCEEDED(track->QueryInterface(IID_IAMTimelineTransable, (void **)&transable)))
        transable->TransAdd(transition);
    if (transable) transable->Release();
    if (trans) trans->Release();
    transition->Release();
}

// A failing step of the fade is told by its number, with no caption; the clip then stays without it.
static void FadeFailed(const char *step)
{
    MessageBoxA(NULL, step, "", MB_OK);
}

static void AddFadeOut(IAMTimelineTrack *track, int k, int j)
{
    const MediaItem *item = &items[k];
    double length = item->streams[j].length;
    IAMTimelineObj *effect = CreateNode(TIMELINE_MAJOR_TYPE_EFFECT);
    if (!effect) return FadeFailed("1");
    if (FAILED(effect->SetSubObjectGUID(CLSID_AudMixer))) {
        effect->Release();
        return FadeFailed("2");
    }
    REFERENCE_TIME from = item->start + (LONGLONG)(item->fadeStart * length * 10000);
    REFERENCE_TIME to = item->start + (LONGLONG)(length * 10000000);
    if (FAILED(effect->SetStartStop(from, to))) {
        effect->Release();
        return FadeFailed("3");
    }
    IPropertySetter *setter = CreatePropertySetter();
    if (!setter) {
        effect->Release();
        return FadeFailed("4");
    }
    static const WCHAR vol[] = {'V','o','l',0};
    DEXTER_VALUE values[2] = {};
    V_VT(&values[0].v) = VT_R8;
    V_R8(&values[0].v) = 1.0;
    values[0].rt = 0;
    values[0].dwInterp = DEXTERF_JUMP;
    V_VT(&values[1].v) = VT_R8;
    V_R8(&values[1].v) = 0.0;
    values[1].rt = (to - from) + 1000000;
    values[1].dwInterp = DEXTERF_INTERPOLATE;
    AddProperty(setter, vol, values, 2);
    effect->SetPropertySetter(setter);
    setter->Release();

    IAMTimelineEffectable *effectable = NULL;
    if (FAILED(track->QueryInterface(IID_IAMTimelineEffectable, (void **)&effectable))) {
        effect->Release();
        return FadeFailed("5");
    }
    if (FAILED(effectable->EffectInsBefore(effect, -1))) FadeFailed("6");
    effectable->Release();
    effect->Release();
}

static bool AddClip(int k, int j, IAMTimelineObj *group)
{
    const MediaItem *item = &items[k];
    IAMTimelineComp *comp = NULL;
    IAMTimelineObj *trackNode = NULL, *sourceNode = NULL;
    IAMTimelineTrack *track = NULL;
    IAMTimelineSrc *source = NULL;
    LONGLONG length = (LONGLONG)(ClipLength(item, j) * 10000000);
    WCHAR widePath[MAX_PATH * 2] = {0};
    MultiByteToWideChar(CP_ACP, 0, item->path, -1, widePath, MAX_PATH * 2 - 1);
    BSTR name = SysAllocString(widePath);

    bool ok = SUCCEEDED(group->QueryInterface(IID_IAMTimelineComp, (void **)&comp)) &&
              (trackNode = CreateNode(TIMELINE_MAJOR_TYPE_TRACK)) != NULL &&
              SUCCEEDED(comp->VTrackInsBefore(trackNode, -1)) &&
              SUCCEEDED(trackNode->QueryInterface(IID_IAMTimelineTrack, (void **)&track)) &&
              (sourceNode = CreateNode(TIMELINE_MAJOR_TYPE_SOURCE)) != NULL &&
              SUCCEEDED(sourceNode->QueryInterface(IID_IAMTimelineSrc, (void **)&source)) &&
              SUCCEEDED(sourceNode->SetStartStop(item->start, item->start + length)) &&
              SUCCEEDED(source->SetMediaName(name)) && SUCCEEDED(source->SetMediaTimes(0, length)) &&
              SUCCEEDED(track->SrcAdd(sourceNode));
    if (ok && IsEqualGUID(item->streams[j].majorType, MEDIATYPE_Video) && item->effect != 0)
        AddTransition(track, k, j);
    if (ok && IsEqualGUID(item->streams[j].majorType, MEDIATYPE_Audio)) AddFadeOut(track, k, j);

    SysFreeString(name);
    if (source) source->Release();
    if (sourceNode) sourceNode->Release();
    if (track) track->Release();
    if (trackNode) trackNode->Release();
    if (comp) comp->Release();
    return ok;
}

// The group's output format from the settings; false for a major type that has none.
static bool GroupMediaType(REFGUID majorType, AM_MEDIA_TYPE *type)
{
    memset(type, 0, sizeof *type);
    type->majortype = majorType;
    // Indexes from a project file of another make must not reach past the tables.
    if (settings.rate < 0 || settings.rate > 3 || settings.bits < 0 || settings.bits > 1 || settings.depth < 0 ||
        settings.depth > 2 || settings.channels < 0 || settings.channels > 1)
        return false;
    if (IsEqualGUID(majorType, MEDIATYPE_Audio)) {
        WAVEFORMATEX *format = (WAVEFORMATEX *)CoTaskMemAlloc(sizeof(WAVEFORMATEX));
        if (!format) return false;
        format->wFormatTag = WAVE_FORMAT_PCM;
        format->nChannels = (WORD)(settings.channels + 1);
        format->nSamplesPerSec = atoi(rateNames[settings.rate]);
        format->wBitsPerSample = (WORD)atoi(bitsNames[settings.bits]);
        format->nBlockAlign = (WORD)(format->nChannels * format->wBitsPerSample / 8);
        format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
        format->cbSize = 0;
        type->subtype = MEDIASUBTYPE_PCM;
        type->formattype = FORMAT_WaveFormatEx;
        type->cbFormat = sizeof(WAVEFORMATEX);
        type->pbFormat = (BYTE *)format;
        return true;
    }
    if (IsEqualGUID(majorType, MEDIATYPE_Video)) {
        int depth = settings.depth;
        VIDEOINFOHEADER *format = (VIDEOINFOHEADER *)CoTaskMemAlloc(sizeof(VIDEOINFOHEADER));
        if (!format) return false;
        memset(format, 0, sizeof *format);
        BITMAPINFOHEADER *bitmap = &format->bmiHeader;
        bitmap->biSize = sizeof(BITMAPINFOHEADER);
        bitmap->biWidth = settings.width;
        bitmap->biHeight = settings.height;
        bitmap->biPlanes = 1;
        bitmap->biBitCount = (WORD)atoi(depthNames[depth]);
        bitmap->biCompression = BI_RGB;
        LONG stride = ((bitmap->biWidth * bitmap->biBitCount + 31) & ~31) / 8;
        bitmap->biSizeImage = stride * abs(bitmap->biHeight);
        type->subtype = *depthSubtypes[depth];
        type->formattype = FORMAT_VideoInfo;
        type->bFixedSizeSamples = TRUE;
        type->lSampleSize = bitmap->biSizeImage;
        type->cbFormat = sizeof(VIDEOINFOHEADER);
        type->pbFormat = (BYTE *)format;
        return true;
    }
    return false;
}

static bool BuildGroup(REFGUID majorType)
{
    IAMTimelineObj *groupNode = CreateNode(TIMELINE_MAJOR_TYPE_GROUP);
    if (!groupNode) return false;
    IAMTimelineGroup *group = NULL;
    AM_MEDIA_TYPE type;
    bool ok = SUCCEEDED(groupNode->QueryInterface(IID_IAMTimelineGroup, (void **)&group));
    if (ok && settings.fps > 0) group->SetOutputFPS(settings.fps);
    if (ok) {
        ok = GroupMediaType(majorType, &type);
        if (ok) {
            ok = SUCCEEDED(group->SetMediaType(&type));
            CoTaskMemFree(type.pbFormat);
        }
    }
    ok = ok && SUCCEEDED(timeline->AddGroup(groupNode));
    for (int k = 0; ok && k < itemCount; k++)
        for (int j = 0; ok && j < items[k].streamCount && j < 2; j++)
            if (memcmp(&items[k].streams[j].majorType, &majorType, sizeof(GUID)) == 0) ok = AddClip(k, j, groupNode);
    if (group) group->Release();
    groupNode->Release();
    return ok;
}

bool BuildTimeline(bool exporting)
{
    TearDownGraph();
    if (FAILED(CoCreateInstance(CLSID_AMTimeline, NULL, CLSCTX_INPROC_SERVER, IID_IAMTimeline, (void **)&timeline)))
        return false;
    switch (settings.type) {
    case 0:
        if (!BuildGroup(MEDIATYPE_Audio) || !BuildGroup(MEDIATYPE_Video)) return false;
        break;
    case 1:
        if (!BuildGroup(MEDIATYPE_Audio)) return false;
        break;
    case 2:
        if (!BuildGroup(MEDIATYPE_Video)) return false;
        break;
    }
    return StartRendering(exporting);
}
