// The documented behaviour of the Editing Services: every interface's argument checks, return codes and
// states, one table of rows per interface, and round trips through what the objects make: a timeline
// saved as XML and loaded back, a transition rendered as a cut, a render range, the second audio stream
// of a file. Each check counts for its interface (conformance.h); the program prints how many hold.
#include <windows.h>
#include <dshow.h>
#include "editing_services.h"
#include "editing/timeline.h"
#include "conformance.h"
#include "comref.h"

#include <math.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <functional>
#include <string>
#include <vector>

extern char **environ;

using conf::Holds;
using conf::Returns;

namespace {

const LONGLONG S = 10000000;   // one second in timeline units
const int W = 320, H = 240;
const TIMELINE_MAJOR_TYPE BAD_TYPE = (TIMELINE_MAJOR_TYPE)0x40;

std::string folder;

// ---- Rows ----

struct Call { std::string what; std::function<HRESULT()> call; HRESULT want; };
struct Fact { std::string what; std::function<bool()> holds; };

void returns(const char *iface, const std::vector<Call> &rows)
{
    for (const Call &r : rows) Returns(iface, r.what, r.call(), r.want);
}

void holds(const char *iface, const std::vector<Fact> &rows)
{
    for (const Fact &r : rows) Holds(iface, r.what, r.holds());
}

// ---- Media made for this run ----

bool sh(const std::string &command)
{
    const char *argv[] = {"/bin/sh", "-c", command.c_str(), NULL};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", NULL, NULL, const_cast<char **>(argv), environ) != 0) return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string path(const std::string &name) { return folder + "/" + name; }

bool ffmpeg(const std::string &args, const std::string &out)
{
    return sh("ffmpeg -v error -nostdin -y " + args + " '" + path(out) + "'");
}

std::u16string dos(const std::string &name)
{
    std::string p = "Z:" + (name.empty() ? folder : path(name));
    std::u16string w;
    for (char c : p) w += (char16_t)(c == '/' ? '\\' : c);
    return w;
}

BSTR bstr(const std::u16string &s) { return SysAllocString(reinterpret_cast<const OLECHAR *>(s.c_str())); }

// A BSTR the row owns.
struct Text
{
    BSTR b;
    explicit Text(const std::u16string &s) : b(bstr(s)) {}
    ~Text() { SysFreeString(b); }
    operator BSTR() const { return b; }
};

std::vector<unsigned char> read_all(const std::string &p)
{
    std::vector<unsigned char> data;
    FILE *f = fopen(p.c_str(), "rb");
    if (!f) return data;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) data.insert(data.end(), buf, buf + n);
    fclose(f);
    return data;
}

// One frame at t seconds, RGB24 at the group size.
std::vector<unsigned char> frame_at(const std::string &file, double t)
{
    char args[512];
    std::string raw = path("frame.rgb");
    unlink(raw.c_str());
    snprintf(args, sizeof(args), "ffmpeg -v error -nostdin -y -i '%s' -ss %.3f -frames:v 1 -f rawvideo -pix_fmt rgb24 '%s'",
             path(file).c_str(), t, raw.c_str());
    if (!sh(args)) return {};
    std::vector<unsigned char> d = read_all(raw);
    return d.size() == (size_t)W * H * 3 ? d : std::vector<unsigned char>();
}

bool is_red(const std::vector<unsigned char> &f)
{
    if (f.empty()) return false;
    const unsigned char *p = &f[((size_t)(H / 2) * W + W / 2) * 3];
    return p[0] > 200 && p[1] < 60 && p[2] < 60;
}

bool is_blue(const std::vector<unsigned char> &f)
{
    if (f.empty()) return false;
    const unsigned char *p = &f[((size_t)(H / 2) * W + W / 2) * 3];
    return p[2] > 200 && p[0] < 60 && p[1] < 60;
}

double probe_duration(const std::string &file)
{
    std::string out = path("probe.txt");
    if (!sh("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path(file) + "' > '" + out + "'"))
        return -1.0;
    std::vector<unsigned char> d = read_all(out);
    return d.empty() ? -1.0 : atof(std::string(d.begin(), d.end()).c_str());
}

// The pitch of a sound file from t0 for one second: zero crossings of its first channel, halved.
double pitch(const std::string &file, double t0)
{
    char args[512];
    std::string raw = path("sound.raw");
    unlink(raw.c_str());
    snprintf(args, sizeof(args), "ffmpeg -v error -nostdin -y -i '%s' -ss %.3f -t 1 -ac 1 -ar 44100 -f s16le '%s'",
             path(file).c_str(), t0, raw.c_str());
    if (!sh(args)) return -1.0;
    std::vector<unsigned char> d = read_all(raw);
    if (d.size() < 44100) return -1.0;
    int crossings = 0;
    short last = 0;
    for (size_t i = 0; i + 1 < d.size(); i += 2)
    {
        short s = (short)(d[i] | (d[i + 1] << 8));
        if ((last < 0 && s >= 0) || (last >= 0 && s < 0)) crossings++;
        last = s;
    }
    return crossings / 2.0 / (d.size() / 2 / 44100.0);
}

class Media : public ::testing::Environment
{
public:
    void SetUp() override
    {
        CoInitializeEx(NULL, COINIT_MULTITHREADED);
        char tmpl[] = "/tmp/conformance-editing-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        folder = tmpl;
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=red:size=320x240:rate=15 -f lavfi -i sine=f=440:sample_rate=44100 "
                           "-t 4 -c:v mjpeg -q:v 3 -c:a pcm_s16le", "red.avi"));
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=blue:size=320x240:rate=15 -f lavfi -i sine=f=880:sample_rate=44100 "
                           "-t 4 -c:v mjpeg -q:v 3 -c:a pcm_s16le", "blue.avi"));
        // two audio streams: 440 Hz first, 1000 Hz second
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=black:size=160x120:rate=15 -f lavfi -i sine=f=440:sample_rate=44100 "
                           "-f lavfi -i sine=f=1000:sample_rate=44100 -map 0 -map 1 -map 2 -t 3 -c:v mjpeg "
                           "-c:a pcm_s16le", "tones.avi"));
        ASSERT_TRUE(sh("echo not a timeline > '" + path("garbage.xtl") + "'"));
    }
    void TearDown() override
    {
        if (!folder.empty()) sh("rm -rf '" + folder + "'");
        CoUninitialize();
    }
};

::testing::Environment *const media = ::testing::AddGlobalTestEnvironment(new Media);

// ---- Timelines ----

template <class T> HRESULT query(IUnknown *from, REFIID iid, T **out)
{
    *out = NULL;
    return from ? from->QueryInterface(iid, (void **)out) : E_POINTER;
}

struct Edit
{
    Ref<IAMTimeline> tl;
    HRESULT made;
    Edit() { made = CoCreateInstance(CLSID_AMTimeline, NULL, CLSCTX_INPROC_SERVER, IID_IAMTimeline, (void **)&tl); }

    IAMTimelineObj *Node(TIMELINE_MAJOR_TYPE type)
    {
        IAMTimelineObj *obj = NULL;
        tl->CreateEmptyNode(&obj, type);
        return obj;
    }

    // a video group (RGB24 at W x H, 15 frames a second) or an audio one (stereo 44.1 kHz 16 bits)
    IAMTimelineObj *Group(bool video, bool add = true)
    {
        IAMTimelineObj *group = Node(TIMELINE_MAJOR_TYPE_GROUP);
        Ref<IAMTimelineGroup> g;
        query(group, IID_IAMTimelineGroup, &g);
        AM_MEDIA_TYPE mt = {};
        VIDEOINFOHEADER vih = {};
        WAVEFORMATEX wfx = {};
        if (video)
        {
            vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            vih.bmiHeader.biWidth = W;
            vih.bmiHeader.biHeight = H;
            vih.bmiHeader.biPlanes = 1;
            vih.bmiHeader.biBitCount = 24;
            vih.bmiHeader.biSizeImage = W * H * 3;
            mt.majortype = MEDIATYPE_Video;
            mt.subtype = MEDIASUBTYPE_RGB24;
            mt.formattype = FORMAT_VideoInfo;
            mt.cbFormat = sizeof(vih);
            mt.pbFormat = (BYTE *)&vih;
            g->SetOutputFPS(15);
        }
        else
        {
            wfx.wFormatTag = WAVE_FORMAT_PCM;
            wfx.nChannels = 2;
            wfx.nSamplesPerSec = 44100;
            wfx.wBitsPerSample = 16;
            wfx.nBlockAlign = 4;
            wfx.nAvgBytesPerSec = 44100 * 4;
            mt.majortype = MEDIATYPE_Audio;
            mt.subtype = MEDIASUBTYPE_PCM;
            mt.formattype = FORMAT_WaveFormatEx;
            mt.cbFormat = sizeof(wfx);
            mt.pbFormat = (BYTE *)&wfx;
        }
        g->SetMediaType(&mt);
        if (add) tl->AddGroup(group);
        return group;
    }

    IAMTimelineObj *Track(IAMTimelineObj *parent)
    {
        IAMTimelineObj *track = Node(TIMELINE_MAJOR_TYPE_TRACK);
        Ref<IAMTimelineComp> comp;
        query(parent, IID_IAMTimelineComp, &comp);
        if (comp) comp->VTrackInsBefore(track, -1);
        return track;
    }

    IAMTimelineObj *Source(IAMTimelineObj *track, const std::string &file, LONGLONG start, LONGLONG stop,
                           LONGLONG mstart, LONGLONG mstop, LONG stream = 0)
    {
        IAMTimelineObj *src = Node(TIMELINE_MAJOR_TYPE_SOURCE);
        Ref<IAMTimelineSrc> s;
        query(src, IID_IAMTimelineSrc, &s);
        src->SetStartStop(start, stop);
        Text name(dos(file));
        s->SetMediaName(name);
        s->SetMediaTimes(mstart, mstop);
        s->SetStreamNumber(stream);
        Ref<IAMTimelineTrack> t;
        if (track && SUCCEEDED(query(track, IID_IAMTimelineTrack, &t))) t->SrcAdd(src);
        return src;
    }

    IAMTimelineObj *Transition(IAMTimelineObj *on, const GUID &clsid, LONGLONG start, LONGLONG stop)
    {
        IAMTimelineObj *trans = Node(TIMELINE_MAJOR_TYPE_TRANSITION);
        trans->SetSubObjectGUID(clsid);
        trans->SetStartStop(start, stop);
        Ref<IAMTimelineTransable> able;
        if (on && SUCCEEDED(query(on, IID_IAMTimelineTransable, &able))) able->TransAdd(trans);
        return trans;
    }

    IAMTimelineObj *Effect(IAMTimelineObj *on, LONGLONG start, LONGLONG stop)
    {
        IAMTimelineObj *fx = Node(TIMELINE_MAJOR_TYPE_EFFECT);
        fx->SetSubObjectGUID(CLSID_AudMixer);
        fx->SetStartStop(start, stop);
        Ref<IAMTimelineEffectable> able;
        if (on && SUCCEEDED(query(on, IID_IAMTimelineEffectable, &able))) able->EffectInsBefore(fx, -1);
        return fx;
    }
};

// A transition of the catalog's video transitions, not the key.
GUID some_transition()
{
    Ref<ICreateDevEnum> devenum;
    Ref<IEnumMoniker> monikers;
    GUID found = GUID_NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, (void **)&devenum))
            || devenum->CreateClassEnumerator(CLSID_VideoEffects2Category, &monikers, 0) != S_OK)
        return found;
    IMoniker *m;
    while (IsEqualGUID(found, GUID_NULL) && monikers->Next(1, &m, NULL) == S_OK)
    {
        Ref<IPropertyBag> bag;
        VARIANT v;
        VariantInit(&v);
        GUID clsid = GUID_NULL;
        if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)) && SUCCEEDED(bag->Read(L"guid", &v, NULL)))
            CLSIDFromString(V_BSTR(&v), &clsid);
        VariantClear(&v);
        m->Release();
        if (!IsEqualGUID(clsid, CLSID_DxtKey)) found = clsid;
    }
    return found;
}

// An error log that counts what it is told.
class CountingLog : public IAMErrorLog
{
public:
    LONG ref = 1, errors = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAMErrorLog))
        {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&ref); }
    bool print = false;
    HRESULT STDMETHODCALLTYPE LogError(LONG, BSTR text, LONG, HRESULT hr, VARIANT *) override
    {
        errors++;
        if (print)
        {
            char narrow[512] = "";
            if (text) WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow), NULL, NULL);
            fprintf(stderr, "render engine: %s (0x%08lx)\n", narrow, (unsigned long)hr);
        }
        return S_OK;
    }
};

// Renders the timeline with the render engine's own pipeline: JPEG in AVI, or WAV for one audio group.
HRESULT render(IAMTimeline *tl, const std::string &out, LONGLONG from = 0, LONGLONG to = 0)
{
    Ref<IRenderEngine> engine;
    Ref<IPlatformRenderFile> file;
    HRESULT hr = CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine);
    if (FAILED(hr)) return hr;
    CountingLog log;   // what fails is told on stderr
    log.print = true;
    Ref<IAMSetErrorLog> set;
    if (SUCCEEDED(query(engine.p, IID_IAMSetErrorLog, &set))) set->put_ErrorLog(&log);
    struct Unset { IAMSetErrorLog *s; ~Unset() { if (s) s->put_ErrorLog(NULL); } } unset{set.p};
    if (to > from && FAILED(hr = engine->SetRenderRange(from, to))) return hr;
    if (FAILED(hr = engine->SetTimelineObject(tl)) || FAILED(hr = engine->ConnectFrontEnd())) return hr;
    if (FAILED(hr = engine->QueryInterface(IID_IPlatformRenderFile, (void **)&file))) return hr;
    bool wav = out.size() > 4 && out.compare(out.size() - 4, 4, ".wav") == 0;
    std::u16string name = dos(out);
    hr = file->RenderToFile("jpegenc quality=95", wav ? "wavenc" : "avimux", reinterpret_cast<const WCHAR *>(name.c_str()),
                            60000);
    engine->ScrapIt();
    return hr;
}

std::u16string text_of(BSTR b) { return b ? std::u16string(reinterpret_cast<const char16_t *>(b)) : std::u16string(); }

}  // namespace

// ---- IAMTimeline ----

TEST(Timeline, TimelineMethods)
{
    Edit e;
    ASSERT_EQ(S_OK, e.made);
    Ref<IAMTimelineObj> obj, source, group, got;
    LONG count = -1, with_comps = -1;
    BOOL on = TRUE;
    double fps = 0;
    REFERENCE_TIME t = 0;
    IAMTimelineObj *untouched = (IAMTimelineObj *)(INT_PTR)0x1234;
    source.p = e.Node(TIMELINE_MAJOR_TYPE_SOURCE);
    group.p = e.Group(true, false);
    returns("IAMTimeline", {
        {"CreateEmptyNode(NULL)", [&] { return e.tl->CreateEmptyNode(NULL, TIMELINE_MAJOR_TYPE_SOURCE); }, E_POINTER},
        {"CreateEmptyNode with a type that is none", [&] { return e.tl->CreateEmptyNode(&untouched, BAD_TYPE); }, E_INVALIDARG},
        {"CreateEmptyNode(composition)", [&] { return e.tl->CreateEmptyNode(&obj, TIMELINE_MAJOR_TYPE_COMPOSITE); }, S_OK},
        {"AddGroup(NULL)", [&] { return e.tl->AddGroup(NULL); }, E_POINTER},
        {"AddGroup(a source)", [&] { return e.tl->AddGroup(source); }, E_NOINTERFACE},
        {"AddGroup(a group)", [&] { return e.tl->AddGroup(group); }, S_OK},
        {"GetGroup(NULL)", [&] { return e.tl->GetGroup(NULL, 0); }, E_POINTER},
        {"GetGroup past the last", [&] { return e.tl->GetGroup(&got, 1); }, E_INVALIDARG},
        {"GetGroup(0)", [&] { return e.tl->GetGroup(&got, 0); }, S_OK},
        {"GetGroupCount(NULL)", [&] { return e.tl->GetGroupCount(NULL); }, E_POINTER},
        {"GetGroupCount", [&] { return e.tl->GetGroupCount(&count); }, S_OK},
        {"GetDuration(NULL)", [&] { return e.tl->GetDuration(NULL); }, E_POINTER},
        {"GetDuration2(NULL)", [&] { return e.tl->GetDuration2(NULL); }, E_POINTER},
        {"GetDefaultFPS(NULL)", [&] { return e.tl->GetDefaultFPS(NULL); }, E_POINTER},
        {"SetDefaultFPS(25)", [&] { return e.tl->SetDefaultFPS(25); }, S_OK},
        {"GetDefaultFPS", [&] { return e.tl->GetDefaultFPS(&fps); }, S_OK},
        {"EnableTransitions(FALSE)", [&] { return e.tl->EnableTransitions(FALSE); }, S_OK},
        {"TransitionsEnabled(NULL)", [&] { return e.tl->TransitionsEnabled(NULL); }, E_POINTER},
        {"TransitionsEnabled", [&] { return e.tl->TransitionsEnabled(&on); }, S_OK},
        {"EnableEffects(TRUE)", [&] { return e.tl->EnableEffects(TRUE); }, S_OK},
        {"EffectsEnabled(NULL)", [&] { return e.tl->EffectsEnabled(NULL); }, E_POINTER},
        {"GetCountOfType(NULL)", [&] { return e.tl->GetCountOfType(0, NULL, &with_comps, TIMELINE_MAJOR_TYPE_TRACK); }, E_POINTER},
        {"GetCountOfType of a group that is none", [&] { return e.tl->GetCountOfType(7, &count, &with_comps, TIMELINE_MAJOR_TYPE_TRACK); }, E_INVALIDARG},
        {"ValidateSourceNames without SFN_VALIDATEF_REPLACE", [&] { return e.tl->ValidateSourceNames(SFN_VALIDATEF_CHECK, NULL, 0); }, E_INVALIDARG},
        {"ValidateSourceNames(CHECK | REPLACE)", [&] { return e.tl->ValidateSourceNames(SFN_VALIDATEF_CHECK | SFN_VALIDATEF_REPLACE, NULL, 0); }, S_OK},
        {"GetDefaultTransition(NULL)", [&] { return e.tl->GetDefaultTransition(NULL); }, E_POINTER},
        {"GetDefaultEffectB(NULL)", [&] { return e.tl->GetDefaultEffectB(NULL); }, E_POINTER},
        // not supported
        {"GetInsertMode", [&] { LONG m; return e.tl->GetInsertMode(&m); }, E_NOTIMPL},
        {"SetInsertMode", [&] { return e.tl->SetInsertMode(TIMELINE_INSERT_MODE_OVERLAY); }, E_NOTIMPL},
        {"IsDirty", [&] { BOOL d; return e.tl->IsDirty(&d); }, E_NOTIMPL},
        {"GetDirtyRange", [&] { return e.tl->GetDirtyRange(&t, &t); }, E_NOTIMPL},
        {"RemGroupFromList", [&] { return e.tl->RemGroupFromList(group); }, E_NOTIMPL},
        {"SetInterestRange", [&] { return e.tl->SetInterestRange(0, S); }, E_NOTIMPL},
    });
    GUID wipe = some_transition(), back = GUID_NULL;
    BSTR text = NULL;
    holds("IAMTimeline", {
        {"CreateEmptyNode with a bad type leaves *obj alone", [&] { return untouched == (IAMTimelineObj *)(INT_PTR)0x1234; }},
        {"the group added is group 0", [&] { return got.p && got.p == group.p; }},
        {"one group", [&] { return count == 1; }},
        {"the default frame rate set is read back", [&] { return fps == 25; }},
        {"transitions disabled read back", [&] { return on == FALSE; }},
        {"the default transition set is read back, also as text", [&] {
             e.tl->SetDefaultTransition(&wipe);
             e.tl->GetDefaultTransition(&back);
             bool same = IsEqualGUID(wipe, back) && SUCCEEDED(e.tl->GetDefaultTransitionB(&text));
             GUID parsed = GUID_NULL;
             if (text) CLSIDFromString(text, &parsed);
             SysFreeString(text);
             return same && IsEqualGUID(parsed, wipe);
         }},
        {"ClearAllGroups leaves none", [&] { e.tl->ClearAllGroups(); e.tl->GetGroupCount(&count); return count == 0; }},
    });
}

// ---- IAMTimelineObj ----

TEST(Timeline, ObjectMethods)
{
    Edit e;
    Ref<IAMTimelineObj> group, track, src, setter_node;
    group.p = e.Group(true);
    track.p = e.Track(group);
    src.p = e.Source(track, "red.avi", 1 * S, 3 * S, 0, 2 * S);
    REFERENCE_TIME a = -1, b = -1;
    REFTIME a2 = -1, b2 = -1;
    TIMELINE_MAJOR_TYPE type = BAD_TYPE;
    LONG id = 0, size = -1;
    BOOL flag = TRUE;
    GUID guid = GUID_NULL;
    BSTR name = NULL;
    Ref<IAMTimeline> tl_out;
    Ref<IAMTimelineGroup> group_out;
    BYTE data[4] = {1, 2, 3, 4}, back[4] = {};
    Text user(u"clip one"), guid_text(u"{CC1101F2-79DC-11D2-8CE6-00A0C9441E20}");
    returns("IAMTimelineObj", {
        {"GetStartStop(NULL)", [&] { return src->GetStartStop(NULL, &b); }, E_POINTER},
        {"GetStartStop2(NULL)", [&] { return src->GetStartStop2(&a2, NULL); }, E_POINTER},
        {"GetStartStop", [&] { return src->GetStartStop(&a, &b); }, S_OK},
        {"SetStartStop with the stop before the start", [&] { return src->SetStartStop(3 * S, 1 * S); }, E_INVALIDARG},
        {"SetStartStop on a track", [&] { return track->SetStartStop(0, S); }, E_NOTIMPL},
        {"SetStartStop(-1, 4 s) keeps the start", [&] { return src->SetStartStop(-1, 4 * S); }, S_OK},
        {"GetStartStop2", [&] { return src->GetStartStop2(&a2, &b2); }, S_OK},
        {"GetTimelineType(NULL)", [&] { return src->GetTimelineType(NULL); }, E_POINTER},
        {"GetTimelineType", [&] { return src->GetTimelineType(&type); }, S_OK},
        {"GetUserID(NULL)", [&] { return src->GetUserID(NULL); }, E_POINTER},
        {"SetUserID(42)", [&] { return src->SetUserID(42); }, S_OK},
        {"GetUserID", [&] { return src->GetUserID(&id); }, S_OK},
        {"GetGenID(NULL)", [&] { return src->GetGenID(NULL); }, E_POINTER},
        {"GetUserName(NULL)", [&] { return src->GetUserName(NULL); }, E_POINTER},
        {"SetUserName", [&] { return src->SetUserName(user); }, S_OK},
        {"GetUserName", [&] { return src->GetUserName(&name); }, S_OK},
        {"GetUserData(NULL size)", [&] { return src->GetUserData(NULL, NULL); }, E_POINTER},
        {"SetUserData", [&] { return src->SetUserData(data, 4); }, S_OK},
        {"GetUserData(NULL data) gives the size", [&] { return src->GetUserData(NULL, &size); }, S_OK},
        {"GetUserData", [&] { return src->GetUserData(back, &size); }, S_OK},
        {"GetMuted(NULL)", [&] { return src->GetMuted(NULL); }, E_POINTER},
        {"GetLocked(NULL)", [&] { return src->GetLocked(NULL); }, E_POINTER},
        {"SetLocked(TRUE)", [&] { return src->SetLocked(TRUE); }, S_OK},
        {"GetSubObjectGUID(NULL)", [&] { return src->GetSubObjectGUID(NULL); }, E_POINTER},
        {"SetSubObjectGUIDB", [&] { return src->SetSubObjectGUIDB(guid_text); }, S_OK},
        {"GetSubObjectGUID", [&] { return src->GetSubObjectGUID(&guid); }, S_OK},
        {"GetSubObjectGUIDB(NULL)", [&] { return src->GetSubObjectGUIDB(NULL); }, E_POINTER},
        {"GetSubObjectLoaded(NULL)", [&] { return src->GetSubObjectLoaded(NULL); }, E_POINTER},
        {"GetSubObject(NULL)", [&] { return src->GetSubObject(NULL); }, E_POINTER},
        {"GetPropertySetter(NULL)", [&] { return src->GetPropertySetter(NULL); }, E_POINTER},
        {"SetPropertySetter(NULL)", [&] { return src->SetPropertySetter(NULL); }, S_OK},
        // not supported, not implemented
        {"SetTimelineType", [&] { return src->SetTimelineType(TIMELINE_MAJOR_TYPE_SOURCE); }, E_NOTIMPL},
        {"GetDirtyRange", [&] { return src->GetDirtyRange(&a, &b); }, E_NOTIMPL},
        {"GetDirtyRange2", [&] { return src->GetDirtyRange2(&a2, &b2); }, E_NOTIMPL},
        {"SetDirtyRange", [&] { return src->SetDirtyRange(0, S); }, E_NOTIMPL},
        {"SetDirtyRange2", [&] { return src->SetDirtyRange2(0, 1); }, E_NOTIMPL},
        {"ClearDirty", [&] { return src->ClearDirty(); }, E_NOTIMPL},
        {"GetTimelineNoRef", [&] { return src->GetTimelineNoRef(&tl_out); }, E_NOTIMPL},
        {"GetGroupIBelongTo", [&] { return src->GetGroupIBelongTo(&group_out); }, E_NOTIMPL},
        {"GetEmbedDepth", [&] { return src->GetEmbedDepth(&id); }, E_NOTIMPL},
    });
    std::u16string user_back = text_of(name);
    SysFreeString(name);
    LONG sources = -1;
    Ref<IAMTimelineTrack> t;
    query(track.p, IID_IAMTimelineTrack, &t);
    holds("IAMTimelineObj", {
        {"the times set are read back", [&] { return a == 1 * S && b == 3 * S; }},
        {"-1 keeps the start; REFTIME in seconds", [&] { return a2 == 1.0 && b2 == 4.0; }},
        {"a source says it is a source", [&] { return type == TIMELINE_MAJOR_TYPE_SOURCE; }},
        {"the user id set is read back", [&] { return id == 42; }},
        {"the user name set is read back", [&] { return user_back == u"clip one"; }},
        {"the user data set is read back", [&] { return size == 4 && !memcmp(back, data, 4); }},
        {"locked read back", [&] { src->GetLocked(&flag); return flag == TRUE; }},
        {"the subobject GUID set as text is read back", [&] { return IsEqualGUID(guid, CLSID_MediaLocator); }},
        {"nothing loaded before the subobject is set", [&] { flag = TRUE; src->GetSubObjectLoaded(&flag); return flag == FALSE; }},
        {"Remove takes the source out of its track", [&] {
             return src->Remove() == S_OK && t->GetSourcesCount(&sources) == S_OK && sources == 0;
         }},
    });
}

// ---- IAMTimelineGroup, IAMTimelineComp ----

TEST(Timeline, GroupAndCompositionMethods)
{
    Edit e;
    Ref<IAMTimelineObj> video, audio, loose, track0, track1, source, next;
    video.p = e.Group(true);
    audio.p = e.Group(false);
    loose.p = e.Group(true, false);
    Ref<IAMTimelineGroup> g, ga, gl;
    Ref<IAMTimelineComp> comp;
    query(video.p, IID_IAMTimelineGroup, &g);
    query(audio.p, IID_IAMTimelineGroup, &ga);
    query(loose.p, IID_IAMTimelineGroup, &gl);
    query(video.p, IID_IAMTimelineComp, &comp);
    track0.p = e.Node(TIMELINE_MAJOR_TYPE_TRACK);
    track1.p = e.Node(TIMELINE_MAJOR_TYPE_TRACK);
    source.p = e.Source(NULL, "red.avi", 0, 4 * S, 0, 4 * S);
    AM_MEDIA_TYPE mt = {}, none = {};
    none.majortype = MEDIATYPE_Text;
    LONG priority = -1, count = -1, with_comps = -1;
    int buffering = 0;
    double fps = 0;
    BOOL set = TRUE;
    BSTR name = NULL;
    Text group_name(u"pictures");
    Ref<IAMTimeline> tl_back, tl_none;
    Ref<IAMTimelineObj> vtrack, layer;
    Ref<IAMTimelineSrc> src;
    query(source.p, IID_IAMTimelineSrc, &src);
    returns("IAMTimelineGroup", {
        {"SetMediaType(NULL)", [&] { return g->SetMediaType(NULL); }, E_POINTER},
        {"SetMediaType of a text type", [&] { return g->SetMediaType(&none); }, VFW_E_INVALIDMEDIATYPE},
        {"GetMediaType(NULL)", [&] { return g->GetMediaType(NULL); }, E_POINTER},
        {"GetMediaType", [&] { return g->GetMediaType(&mt); }, S_OK},
        {"SetOutputFPS(0)", [&] { return g->SetOutputFPS(0); }, E_INVALIDARG},
        {"GetOutputFPS(NULL)", [&] { return g->GetOutputFPS(NULL); }, E_POINTER},
        {"GetOutputFPS", [&] { return g->GetOutputFPS(&fps); }, S_OK},
        {"SetOutputBuffering(1)", [&] { return g->SetOutputBuffering(1); }, E_INVALIDARG},
        {"SetOutputBuffering(2)", [&] { return g->SetOutputBuffering(2); }, S_OK},
        {"GetOutputBuffering", [&] { return g->GetOutputBuffering(&buffering); }, S_OK},
        {"GetGroupName(NULL)", [&] { return g->GetGroupName(NULL); }, E_POINTER},
        {"SetGroupName", [&] { return g->SetGroupName(group_name); }, S_OK},
        {"GetGroupName", [&] { return g->GetGroupName(&name); }, S_OK},
        {"GetPreviewMode(NULL)", [&] { return g->GetPreviewMode(NULL); }, E_POINTER},
        {"GetPriority(NULL)", [&] { return g->GetPriority(NULL); }, E_POINTER},
        {"GetPriority of the second group", [&] { return ga->GetPriority(&priority); }, S_OK},
        {"GetTimeline(NULL)", [&] { return g->GetTimeline(NULL); }, E_POINTER},
        {"GetTimeline", [&] { return g->GetTimeline(&tl_back); }, S_OK},
        {"GetTimeline of a group in no timeline", [&] { return gl->GetTimeline(&tl_none); }, S_OK},
        {"IsSmartRecompressFormatSet(NULL)", [&] { return g->IsSmartRecompressFormatSet(NULL); }, E_POINTER},
        {"IsSmartRecompressFormatSet", [&] { return g->IsSmartRecompressFormatSet(&set); }, S_OK},
        {"SetSmartRecompressFormat(NULL)", [&] { return g->SetSmartRecompressFormat(NULL); }, E_POINTER},
        {"GetSmartRecompressFormat(NULL)", [&] { return g->GetSmartRecompressFormat(NULL); }, E_POINTER},
        {"SetRecompFormatFromSource(NULL)", [&] { return g->SetRecompFormatFromSource(NULL); }, E_POINTER},
        {"SetRecompFormatFromSource on a group in no timeline", [&] { return gl->SetRecompFormatFromSource(src); }, (HRESULT)E_NO_TIMELINE},
        {"SetRecompFormatFromSource on an audio group", [&] { return ga->SetRecompFormatFromSource(src); }, VFW_E_INVALIDMEDIATYPE},
        {"SetRecompFormatFromSource", [&] { return g->SetRecompFormatFromSource(src); }, S_OK},
        // not supported
        {"SetTimeline", [&] { return gl->SetTimeline(e.tl); }, E_NOTIMPL},
        {"IsRecompressFormatDirty", [&] { return g->IsRecompressFormatDirty(&set); }, E_NOTIMPL},
        {"ClearRecompressFormatDirty", [&] { return g->ClearRecompressFormatDirty(); }, E_NOTIMPL},
    });
    std::u16string name_back = text_of(name);
    SysFreeString(name);
    BOOL recompress = FALSE;
    g->IsSmartRecompressFormatSet(&recompress);
    holds("IAMTimelineGroup", {
        {"the media type set is read back", [&] {
             bool ok = IsEqualGUID(mt.majortype, MEDIATYPE_Video) && IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.pbFormat
                       && ((VIDEOINFOHEADER *)mt.pbFormat)->bmiHeader.biWidth == W;
             CoTaskMemFree(mt.pbFormat);
             return ok;
         }},
        {"the frame rate set is read back", [&] { return fps == 15; }},
        {"the buffering set is read back", [&] { return buffering == 2; }},
        {"the group name set is read back", [&] { return name_back == u"pictures"; }},
        {"the second group has priority 1", [&] { return priority == 1; }},
        {"GetTimeline gives the timeline", [&] { return tl_back.p && tl_back.p == e.tl.p; }},
        {"a group in no timeline gives NULL", [&] { return !tl_none.p; }},
        {"no recompression format before one is set", [&] { return set == FALSE; }},
        {"the source's file sets the recompression format", [&] { return recompress == TRUE; }},
    });

    returns("IAMTimelineComp", {
        {"VTrackInsBefore(NULL)", [&] { return comp->VTrackInsBefore(NULL, -1); }, E_POINTER},
        {"VTrackInsBefore(a source)", [&] { return comp->VTrackInsBefore(source, -1); }, E_NOINTERFACE},
        {"VTrackInsBefore past the count", [&] { return comp->VTrackInsBefore(track0, 3); }, E_INVALIDARG},
        {"VTrackInsBefore(-1)", [&] { return comp->VTrackInsBefore(track0, -1); }, S_OK},
        {"VTrackInsBefore(0)", [&] { return comp->VTrackInsBefore(track1, 0); }, S_OK},
        {"VTrackGetCount(NULL)", [&] { return comp->VTrackGetCount(NULL); }, E_POINTER},
        {"VTrackGetCount", [&] { return comp->VTrackGetCount(&count); }, S_OK},
        {"GetVTrack(NULL)", [&] { return comp->GetVTrack(NULL, 0); }, E_POINTER},
        {"GetVTrack past the last", [&] { return comp->GetVTrack(&vtrack, 2); }, E_INVALIDARG},
        {"GetVTrack(0)", [&] { return comp->GetVTrack(&vtrack, 0); }, S_OK},
        {"VTrackSwapPriorities with one that is none", [&] { return comp->VTrackSwapPriorities(0, 5); }, E_INVALIDARG},
        {"VTrackSwapPriorities(0, 1)", [&] { return comp->VTrackSwapPriorities(0, 1); }, S_OK},
        {"GetCountOfType(NULL)", [&] { return comp->GetCountOfType(NULL, &with_comps, TIMELINE_MAJOR_TYPE_TRACK); }, E_POINTER},
        {"GetCountOfType(tracks)", [&] { return comp->GetCountOfType(&count, &with_comps, TIMELINE_MAJOR_TYPE_TRACK); }, S_OK},
        {"GetNextVTrack(NULL)", [&] { return comp->GetNextVTrack(track1, NULL); }, E_POINTER},
        {"GetNextVTrack after the last", [&] { Ref<IAMTimelineObj> n; comp->GetVTrack(&layer, 1); return comp->GetNextVTrack(layer, &n); }, S_FALSE},
        {"GetNextVTrack after the first", [&] { Ref<IAMTimelineObj> first; comp->GetVTrack(&first, 0); return comp->GetNextVTrack(first, &next); }, S_OK},
        {"GetRecursiveLayerOfType(NULL)", [&] { return comp->GetRecursiveLayerOfType(NULL, 0, TIMELINE_MAJOR_TYPE_TRACK); }, E_POINTER},
    });
    holds("IAMTimelineComp", {
        {"two tracks counted", [&] { return count == 2; }},
        {"a track inserted at priority 0 comes first", [&] { return vtrack.p == track1.p; }},
        {"swapped: that track is second", [&] { return layer.p == track1.p; }},
        {"the next after the first is the second", [&] { return next.p == track1.p; }},
    });
}

// ---- IAMTimelineTrack, IAMTimelineVirtualTrack, IAMTimelineSplittable ----

TEST(Timeline, TrackMethods)
{
    Edit e;
    Ref<IAMTimelineObj> group, track, empty, src, trans, found, found2, at, next;
    group.p = e.Group(true);
    track.p = e.Track(group);
    empty.p = e.Track(group);
    Ref<IAMTimelineTrack> t, te;
    Ref<IAMTimelineVirtualTrack> vt, vte;
    Ref<IAMTimelineSplittable> split;
    query(track.p, IID_IAMTimelineTrack, &t);
    query(empty.p, IID_IAMTimelineTrack, &te);
    query(track.p, IID_IAMTimelineVirtualTrack, &vt);
    query(empty.p, IID_IAMTimelineVirtualTrack, &vte);
    query(track.p, IID_IAMTimelineSplittable, &split);
    src.p = e.Source(NULL, "red.avi", 0, 2 * S, 0, 2 * S);
    trans.p = e.Node(TIMELINE_MAJOR_TYPE_TRANSITION);
    LONG count = -1, blank = -1, priority = -1, priority_empty = -1;
    REFERENCE_TIME when = 0, past = 10 * S;
    REFTIME when2 = 0;
    returns("IAMTimelineTrack", {
        {"SrcAdd(NULL)", [&] { return t->SrcAdd(NULL); }, E_POINTER},
        {"SrcAdd(a transition)", [&] { return t->SrcAdd(trans); }, E_NOINTERFACE},
        {"SrcAdd", [&] { return t->SrcAdd(src); }, S_OK},
        {"GetSourcesCount(NULL)", [&] { return t->GetSourcesCount(NULL); }, E_POINTER},
        {"GetSourcesCount", [&] { return t->GetSourcesCount(&count); }, S_OK},
        {"AreYouBlank(NULL)", [&] { return t->AreYouBlank(NULL); }, E_POINTER},
        {"AreYouBlank of an empty track", [&] { return te->AreYouBlank(&blank); }, S_OK},
        {"GetNextSrc(NULL)", [&] { return t->GetNextSrc(NULL, &when); }, E_POINTER},
        {"GetNextSrc from 1 s (inside the source)", [&] { when = 1 * S; return t->GetNextSrc(&found, &when); }, S_OK},
        {"GetNextSrc past everything", [&] { Ref<IAMTimelineObj> none; return t->GetNextSrc(&none, &past); }, S_FALSE},
        {"GetNextSrc2(NULL)", [&] { return t->GetNextSrc2(&found, NULL); }, E_POINTER},
        {"GetNextSrc2 from 0 s", [&] { return t->GetNextSrc2(&found2, &when2); }, S_OK},
        {"GetSrcAtTime(NULL)", [&] { return t->GetSrcAtTime(NULL, S, DEXTERF_EXACTLY_AT); }, E_POINTER},
        {"GetSrcAtTime(1 s, exactly at)", [&] { return t->GetSrcAtTime(&at, S, DEXTERF_EXACTLY_AT); }, S_OK},
        {"GetNextSrcEx(NULL)", [&] { return t->GetNextSrcEx(src, NULL); }, E_POINTER},
        {"InsertSpace after everything", [&] { return t->InsertSpace(5 * S, 6 * S); }, S_FALSE},
        {"ZeroBetween beyond everything", [&] { return t->ZeroBetween(5 * S, 6 * S); }, S_FALSE},
        {"InsertSpace(1 s, 2 s)", [&] { return t->InsertSpace(1 * S, 2 * S); }, S_OK},
        // not supported
        {"MoveEverythingBy", [&] { return t->MoveEverythingBy(0, S); }, E_NOTIMPL},
        {"MoveEverythingBy2", [&] { return t->MoveEverythingBy2(0, 1); }, E_NOTIMPL},
    });
    LONG after_insert = -1;
    t->GetSourcesCount(&after_insert);
    holds("IAMTimelineTrack", {
        {"one source counted", [&] { return count == 1; }},
        {"an empty track is blank", [&] { return blank == TRUE; }},
        {"GetNextSrc gives the source spanning the time, and its stop", [&] { return found.p == src.p && when == 2 * S; }},
        {"GetSrcAtTime gives the source", [&] { return at.p == src.p; }},
        {"GetNextSrc2 gives the source and its stop in seconds", [&] { return found2.p == src.p && when2 == 2.0; }},
        {"InsertSpace splits the source spanning it", [&] { return after_insert == 2; }},
    });

    returns("IAMTimelineVirtualTrack", {
        {"TrackGetPriority(NULL)", [&] { return vt->TrackGetPriority(NULL); }, E_POINTER},
        {"TrackGetPriority", [&] { return vt->TrackGetPriority(&priority); }, S_OK},
        {"TrackGetPriority of the second track", [&] { return vte->TrackGetPriority(&priority_empty); }, S_OK},
        {"SetTrackDirty (not supported)", [&] { return vt->SetTrackDirty(); }, E_NOTIMPL},
    });
    holds("IAMTimelineVirtualTrack", {
        {"the first track has priority 0, the second 1", [&] { return priority == 0 && priority_empty == 1; }},
    });

    Edit e2;
    Ref<IAMTimelineObj> g2, tr2, s2;
    g2.p = e2.Group(true);
    tr2.p = e2.Track(g2);
    s2.p = e2.Source(tr2, "red.avi", 0, 2 * S, 0, 2 * S);
    Ref<IAMTimelineSplittable> ss, ts;
    query(s2.p, IID_IAMTimelineSplittable, &ss);
    query(tr2.p, IID_IAMTimelineSplittable, &ts);
    LONG pieces = -1;
    Ref<IAMTimelineTrack> t2;
    query(tr2.p, IID_IAMTimelineTrack, &t2);
    returns("IAMTimelineSplittable", {
        {"SplitAt outside the source", [&] { return ss->SplitAt(3 * S); }, E_INVALIDARG},
        {"SplitAt2 outside the source", [&] { return ss->SplitAt2(-1.0); }, E_INVALIDARG},
        {"SplitAt(1 s)", [&] { return ss->SplitAt(1 * S); }, S_OK},
        {"SplitAt on a track past everything", [&] { return ts->SplitAt(9 * S); }, S_FALSE},
    });
    REFERENCE_TIME a = -1, b = -1, ma = -1, mb = -1;
    holds("IAMTimelineSplittable", {
        {"a split source is two sources", [&] { t2->GetSourcesCount(&pieces); return pieces == 2; }},
        {"the first piece ends at the split, with its media", [&] {
             Ref<IAMTimelineSrc> s;
             query(s2.p, IID_IAMTimelineSrc, &s);
             s2->GetStartStop(&a, &b);
             s->GetMediaTimes(&ma, &mb);
             return a == 0 && b == 1 * S && ma == 0 && mb == 1 * S;
         }},
    });
}

// ---- IAMTimelineSrc ----

TEST(Timeline, SourceMethods)
{
    Edit e;
    Ref<IAMTimelineObj> group, track, a, b, far_away, trans;
    group.p = e.Group(true);
    track.p = e.Track(group);
    a.p = e.Source(track, "red.avi", 0, 1 * S, 0, 1 * S);
    b.p = e.Source(track, "red.avi", 1 * S, 2 * S, 1 * S, 2 * S);
    far_away.p = e.Source(NULL, "blue.avi", 5 * S, 6 * S, 0, 1 * S);
    trans.p = e.Node(TIMELINE_MAJOR_TYPE_TRANSITION);
    Ref<IAMTimelineSrc> s, sb;
    query(a.p, IID_IAMTimelineSrc, &s);
    query(b.p, IID_IAMTimelineSrc, &sb);
    REFERENCE_TIME ms = -1, me = -1, length = -1;
    LONG stream = -1;
    BOOL normal = FALSE;
    int stretch = -1;
    double fps = -1;
    BSTR name = NULL;
    returns("IAMTimelineSrc", {
        {"GetMediaTimes(NULL)", [&] { return s->GetMediaTimes(NULL, &me); }, E_POINTER},
        {"GetMediaTimes2(NULL)", [&] { REFTIME x; return s->GetMediaTimes2(&x, NULL); }, E_POINTER},
        {"GetMediaTimes", [&] { return s->GetMediaTimes(&ms, &me); }, S_OK},
        {"GetMediaName(NULL)", [&] { return s->GetMediaName(NULL); }, E_POINTER},
        {"GetMediaName", [&] { return s->GetMediaName(&name); }, S_OK},
        {"GetMediaLength(NULL)", [&] { return s->GetMediaLength(NULL); }, E_POINTER},
        {"SetMediaLength(4 s)", [&] { return s->SetMediaLength(4 * S); }, S_OK},
        {"GetMediaLength", [&] { return s->GetMediaLength(&length); }, S_OK},
        {"GetStreamNumber(NULL)", [&] { return s->GetStreamNumber(NULL); }, E_POINTER},
        {"GetStreamNumber", [&] { return s->GetStreamNumber(&stream); }, S_OK},
        {"SetStreamNumber(-1)", [&] { return s->SetStreamNumber(-1); }, E_INVALIDARG},
        {"IsNormalRate(NULL)", [&] { return s->IsNormalRate(NULL); }, E_POINTER},
        {"IsNormalRate", [&] { return s->IsNormalRate(&normal); }, S_OK},
        {"SetDefaultFPS(-1)", [&] { return s->SetDefaultFPS(-1); }, E_INVALIDARG},
        {"SetDefaultFPS(10)", [&] { return s->SetDefaultFPS(10); }, S_OK},
        {"GetDefaultFPS(NULL)", [&] { return s->GetDefaultFPS(NULL); }, E_POINTER},
        {"GetDefaultFPS", [&] { return s->GetDefaultFPS(&fps); }, S_OK},
        {"GetStretchMode(NULL)", [&] { return s->GetStretchMode(NULL); }, E_POINTER},
        {"SetStretchMode(crop)", [&] { return s->SetStretchMode(RESIZEF_CROP); }, S_OK},
        {"GetStretchMode", [&] { return s->GetStretchMode(&stretch); }, S_OK},
        {"SpliceWithNext(NULL)", [&] { return s->SpliceWithNext(NULL); }, E_POINTER},
        {"SpliceWithNext(a transition)", [&] { return s->SpliceWithNext(trans); }, E_NOINTERFACE},
        {"SpliceWithNext(a source that does not follow on)", [&] { return s->SpliceWithNext(far_away); }, E_INVALIDARG},
        {"SpliceWithNext(the match frame)", [&] { return s->SpliceWithNext(b); }, S_OK},
    });
    std::u16string name_back = text_of(name);
    SysFreeString(name);
    holds("IAMTimelineSrc", {
        {"the media times set are read back", [&] { return ms == 0 && me == 1 * S; }},
        {"the media name set is read back", [&] { return name_back == dos("red.avi"); }},
        {"the media length set is read back", [&] { return length == 4 * S; }},
        {"the stream number is 0 by default", [&] { return stream == 0; }},
        {"the stream number set is read back", [&] { s->SetStreamNumber(1); s->GetStreamNumber(&stream); return stream == 1; }},
        {"media as long as the clip plays at the normal rate", [&] { return normal == TRUE; }},
        {"the default frame rate set is read back", [&] { return fps == 10; }},
        {"the stretch mode set is read back", [&] { return stretch == RESIZEF_CROP; }},
        {"spliced: one source of 2 s with 2 s of media", [&] {
             s->GetMediaTimes(&ms, &me);
             REFERENCE_TIME x = -1, y = -1;
             a->GetStartStop(&x, &y);
             return x == 0 && y == 2 * S && ms == 0 && me == 2 * S;
         }},
    });
}

// ---- IAMTimelineTrans, IAMTimelineTransable, IAMTimelineEffect, IAMTimelineEffectable ----

TEST(Timeline, TransitionAndEffectMethods)
{
    Edit e;
    Ref<IAMTimelineObj> group, track, src, trans, overlapping, fx, fx2, got, next;
    group.p = e.Group(true);
    track.p = e.Track(group);
    src.p = e.Source(track, "red.avi", 0, 4 * S, 0, 4 * S);
    trans.p = e.Node(TIMELINE_MAJOR_TYPE_TRANSITION);
    trans->SetStartStop(1 * S, 3 * S);
    overlapping.p = e.Node(TIMELINE_MAJOR_TYPE_TRANSITION);
    overlapping->SetStartStop(2 * S, 4 * S);
    Ref<IAMTimelineTrans> tr;
    Ref<IAMTimelineTransable> able;
    query(trans.p, IID_IAMTimelineTrans, &tr);
    query(track.p, IID_IAMTimelineTransable, &able);
    REFERENCE_TIME cut = -1, when = 0;
    REFTIME cut2 = -1;
    BOOL flag = TRUE;
    LONG count = -1;
    returns("IAMTimelineTrans", {
        {"GetCutPoint(NULL)", [&] { return tr->GetCutPoint(NULL); }, E_POINTER},
        {"GetCutPoint2(NULL)", [&] { return tr->GetCutPoint2(NULL); }, E_POINTER},
        {"GetCutPoint before one is set", [&] { return tr->GetCutPoint(&cut); }, S_FALSE},
        {"SetCutPoint(0.5 s)", [&] { return tr->SetCutPoint(S / 2); }, S_OK},
        {"GetCutPoint2 after one is set", [&] { return tr->GetCutPoint2(&cut2); }, S_OK},
        {"SetCutPoint past the transition", [&] { return tr->SetCutPoint(9 * S); }, S_OK},
        {"GetSwapInputs(NULL)", [&] { return tr->GetSwapInputs(NULL); }, E_POINTER},
        {"SetSwapInputs(TRUE)", [&] { return tr->SetSwapInputs(TRUE); }, S_OK},
        {"GetCutsOnly(NULL)", [&] { return tr->GetCutsOnly(NULL); }, E_POINTER},
        {"GetCutsOnly", [&] { return tr->GetCutsOnly(&flag); }, S_OK},
        {"SetCutsOnly(TRUE)", [&] { return tr->SetCutsOnly(TRUE); }, S_OK},
    });
    REFERENCE_TIME truncated = -1;
    tr->GetCutPoint(&truncated);
    holds("IAMTimelineTrans", {
        {"the default cut point is the middle", [&] { return cut == 1 * S; }},
        {"the cut point set is read back, in seconds", [&] { return cut2 == 0.5; }},
        {"a cut point past the transition is truncated to its end", [&] { return truncated == 2 * S; }},
        {"not cuts only by default", [&] { return flag == FALSE; }},
        {"cuts only read back", [&] { tr->GetCutsOnly(&flag); return flag == TRUE; }},
        {"swapped inputs read back", [&] { tr->GetSwapInputs(&flag); return flag == TRUE; }},
    });

    returns("IAMTimelineTransable", {
        {"TransAdd(a source)", [&] { return able->TransAdd(src); }, E_NOINTERFACE},
        {"TransAdd", [&] { return able->TransAdd(trans); }, S_OK},
        {"TransAdd of one that overlaps", [&] { return able->TransAdd(overlapping); }, E_INVALIDARG},
        {"TransGetCount(NULL)", [&] { return able->TransGetCount(NULL); }, E_POINTER},
        {"TransGetCount", [&] { return able->TransGetCount(&count); }, S_OK},
        {"GetNextTrans(NULL)", [&] { return able->GetNextTrans(NULL, &when); }, E_POINTER},
        {"GetNextTrans from 0", [&] { when = 0; return able->GetNextTrans(&next, &when); }, S_OK},
        {"GetNextTrans past everything", [&] { Ref<IAMTimelineObj> n; REFERENCE_TIME p = 5 * S; return able->GetNextTrans(&n, &p); }, S_FALSE},
        {"GetTransAtTime(NULL)", [&] { return able->GetTransAtTime(NULL, 2 * S, DEXTERF_EXACTLY_AT); }, E_POINTER},
        {"GetTransAtTime(2 s)", [&] { return able->GetTransAtTime(&got, 2 * S, DEXTERF_EXACTLY_AT); }, S_OK},
    });
    holds("IAMTimelineTransable", {
        {"one transition", [&] { return count == 1; }},
        {"GetNextTrans gives it, with its stop", [&] { return next.p == trans.p && when == 3 * S; }},
        {"GetTransAtTime gives it", [&] { return got.p == trans.p; }},
    });

    Edit ea;
    Ref<IAMTimelineObj> ag, at, as;
    ag.p = ea.Group(false);
    at.p = ea.Track(ag);
    as.p = ea.Source(at, "red.avi", 0, 4 * S, 0, 4 * S);
    fx.p = ea.Node(TIMELINE_MAJOR_TYPE_EFFECT);
    fx->SetSubObjectGUID(CLSID_AudMixer);
    fx->SetStartStop(0, 1 * S);
    fx2.p = ea.Node(TIMELINE_MAJOR_TYPE_EFFECT);
    fx2->SetSubObjectGUID(CLSID_AudMixer);
    fx2->SetStartStop(1 * S, 2 * S);
    Ref<IAMTimelineEffectable> fxable;
    Ref<IAMTimelineEffect> effect, effect2;
    query(at.p, IID_IAMTimelineEffectable, &fxable);
    query(fx.p, IID_IAMTimelineEffect, &effect);
    query(fx2.p, IID_IAMTimelineEffect, &effect2);
    LONG fxcount = -1, p1 = -1, p2 = -1;
    Ref<IAMTimelineObj> first, none;
    returns("IAMTimelineEffectable", {
        {"EffectInsBefore(a source)", [&] { return fxable->EffectInsBefore(as, -1); }, E_NOTIMPL},
        {"EffectInsBefore(-1)", [&] { return fxable->EffectInsBefore(fx, -1); }, S_OK},
        {"EffectInsBefore(0)", [&] { return fxable->EffectInsBefore(fx2, 0); }, S_OK},
        {"EffectGetCount(NULL)", [&] { return fxable->EffectGetCount(NULL); }, E_POINTER},
        {"EffectGetCount", [&] { return fxable->EffectGetCount(&fxcount); }, S_OK},
        {"GetEffect(NULL)", [&] { return fxable->GetEffect(NULL, 0); }, E_POINTER},
        {"GetEffect at a priority with none", [&] { return fxable->GetEffect(&none, 7); }, S_FALSE},
        {"GetEffect(0)", [&] { return fxable->GetEffect(&first, 0); }, S_OK},
        {"EffectSwapPriorities with one that is none", [&] { return fxable->EffectSwapPriorities(0, 7); }, E_INVALIDARG},
        {"EffectSwapPriorities(0, 1)", [&] { return fxable->EffectSwapPriorities(0, 1); }, S_OK},
    });
    holds("IAMTimelineEffectable", {
        {"two effects", [&] { return fxcount == 2; }},
        {"the one inserted at 0 is first", [&] { return first.p == fx2.p; }},
    });
    returns("IAMTimelineEffect", {
        {"EffectGetPriority(NULL)", [&] { return effect->EffectGetPriority(NULL); }, E_POINTER},
        {"EffectGetPriority", [&] { return effect->EffectGetPriority(&p1); }, S_OK},
        {"EffectGetPriority of the other", [&] { return effect2->EffectGetPriority(&p2); }, S_OK},
    });
    holds("IAMTimelineEffect", {
        {"swapped priorities are read back", [&] { return p1 == 0 && p2 == 1; }},
    });
}

// ---- IAMSetErrorLog, IMediaLocator ----

TEST(Timeline, ErrorLogAndMediaLocator)
{
    Edit e;
    Ref<IAMSetErrorLog> set;
    Ref<IAMErrorLog> got;
    CountingLog log;
    query(e.tl.p, IID_IAMSetErrorLog, &set);
    Ref<IAMTimelineObj> group, track, missing;
    group.p = e.Group(true);
    track.p = e.Track(group);
    missing.p = e.Source(track, "no such file.avi", 0, S, 0, S);
    Ref<IRenderEngine> engine;
    Ref<IAMSetErrorLog> engine_log;
    CountingLog engine_errors;
    CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine);
    query(engine.p, IID_IAMSetErrorLog, &engine_log);
    returns("IAMSetErrorLog", {
        {"the timeline has IAMSetErrorLog", [&] { return set.p ? S_OK : E_NOINTERFACE; }, S_OK},
        {"get_ErrorLog(NULL)", [&] { return set->get_ErrorLog(NULL); }, E_POINTER},
        {"put_ErrorLog", [&] { return set->put_ErrorLog(&log); }, S_OK},
        {"get_ErrorLog", [&] { return set->get_ErrorLog(&got); }, S_OK},
        {"the render engine has IAMSetErrorLog", [&] { return engine_log.p ? S_OK : E_NOINTERFACE; }, S_OK},
        {"the render engine's put_ErrorLog", [&] { return engine_log->put_ErrorLog(&engine_errors); }, S_OK},
        {"a source that does not open fails ConnectFrontEnd", [&] {
             engine->SetTimelineObject(e.tl);
             return SUCCEEDED(engine->ConnectFrontEnd()) ? S_OK : E_FAIL;
         }, E_FAIL},
    });
    holds("IAMSetErrorLog", {
        {"the log set is read back", [&] { return got.p == &log; }},
        {"the failure is told to the render engine's log", [&] { return engine_errors.errors > 0; }},
        {"put_ErrorLog(NULL) takes the log away", [&] { Ref<IAMErrorLog> none; set->put_ErrorLog(NULL); set->get_ErrorLog(&none); return !none.p; }},
    });
    engine->ScrapIt();
    engine_log->put_ErrorLog(NULL);

    Ref<IMediaLocator> locator;
    BSTR found = NULL, moved = NULL, none = NULL;
    Text here(dos("red.avi")), elsewhere(u"Z:\\no\\such\\folder\\blue.avi"), nowhere(u"Z:\\no\\such\\folder\\none.avi"),
        dir(dos(""));
    returns("IMediaLocator", {
        {"CoCreateInstance(CLSID_MediaLocator)", [&] { return CoCreateInstance(CLSID_MediaLocator, NULL, CLSCTX_INPROC_SERVER, IID_IMediaLocator, (void **)&locator); }, S_OK},
        {"FindMediaFile(NULL output)", [&] { return locator->FindMediaFile(here, NULL, NULL, SFN_VALIDATEF_CHECK); }, E_POINTER},
        {"FindMediaFile where the file is", [&] { return locator->FindMediaFile(here, NULL, &found, SFN_VALIDATEF_CHECK); }, S_OK},
        {"AddFoundLocation(NULL)", [&] { return locator->AddFoundLocation(NULL); }, E_POINTER},
        {"AddFoundLocation", [&] { return locator->AddFoundLocation(dir); }, S_OK},
        {"FindMediaFile of a file that moved to a folder in the cache", [&] { return locator->FindMediaFile(elsewhere, NULL, &moved, SFN_VALIDATEF_CHECK); }, S_FALSE},
        {"FindMediaFile with SFN_VALIDATEF_NOFIND", [&] { BSTR x = NULL; HRESULT hr = locator->FindMediaFile(elsewhere, NULL, &x, SFN_VALIDATEF_CHECK | SFN_VALIDATEF_NOFIND); SysFreeString(x); return hr; }, E_FAIL},
        {"FindMediaFile of a file nowhere", [&] { return locator->FindMediaFile(nowhere, NULL, &none, SFN_VALIDATEF_CHECK); }, E_FAIL},
    });
    std::u16string moved_name = text_of(moved);
    SysFreeString(found);
    SysFreeString(moved);
    SysFreeString(none);
    Edit e2;
    Ref<IAMTimelineObj> g2, t2, s2;
    g2.p = e2.Group(true);
    t2.p = e2.Track(g2);
    s2.p = e2.Source(t2, "blue.avi", 0, S, 0, S);
    Ref<IAMTimelineSrc> src2;
    query(s2.p, IID_IAMTimelineSrc, &src2);
    src2->SetMediaName(elsewhere);
    BSTR renamed = NULL;
    holds("IMediaLocator", {
        {"the file is found where it is now", [&] { return moved_name == dos("blue.avi"); }},
        {"IAMTimeline::ValidateSourceNames renames a source whose file moved", [&] {
             HANDLE done = CreateEventW(NULL, TRUE, FALSE, NULL);
             HRESULT hr = e2.tl->ValidateSourceNames(SFN_VALIDATEF_CHECK | SFN_VALIDATEF_REPLACE, NULL, (LONG_PTR)done);
             bool signalled = WaitForSingleObject(done, 0) == WAIT_OBJECT_0;
             CloseHandle(done);
             src2->GetMediaName(&renamed);
             bool ok = hr == S_OK && signalled && text_of(renamed) == dos("blue.avi");
             SysFreeString(renamed);
             return ok;
         }},
    });
}

// ---- IRenderEngine ----

TEST(RenderEngine, EngineMethods)
{
    Edit e;
    Ref<IAMTimelineObj> group, track, src;
    group.p = e.Group(true);
    track.p = e.Track(group);
    src.p = e.Source(track, "red.avi", 0, 2 * S, 0, 2 * S);
    Ref<IRenderEngine> engine;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    Ref<IAMTimeline> tl_out;
    Ref<IGraphBuilder> graph_out, graph_after, own_graph;
    Ref<IPin> pin, pin_early;
    BSTR vendor = NULL;
    LONG caps = 0;
    CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&own_graph);
    returns("IRenderEngine", {
        {"GetVendorString(NULL)", [&] { return engine->GetVendorString(NULL); }, E_POINTER},
        {"GetVendorString", [&] { return engine->GetVendorString(&vendor); }, S_OK},
        {"GetTimelineObject(NULL)", [&] { return engine->GetTimelineObject(NULL); }, E_POINTER},
        {"GetTimelineObject before one is set", [&] { return engine->GetTimelineObject(&tl_out); }, S_OK},
        {"GetFilterGraph(NULL)", [&] { return engine->GetFilterGraph(NULL); }, E_POINTER},
        {"GetFilterGraph before one is made", [&] { return engine->GetFilterGraph(&graph_out); }, S_OK},
        {"SetFilterGraph(NULL)", [&] { return engine->SetFilterGraph(NULL); }, E_POINTER},
        {"ConnectFrontEnd without a timeline", [&] { return engine->ConnectFrontEnd(); }, E_INVALIDARG},
        {"GetGroupOutputPin before ConnectFrontEnd", [&] { return engine->GetGroupOutputPin(0, &pin_early); }, E_UNEXPECTED},
        {"SetTimelineObject(NULL)", [&] { return engine->SetTimelineObject(NULL); }, E_POINTER},
        {"SetTimelineObject", [&] { return engine->SetTimelineObject(e.tl); }, S_OK},
        {"SetRenderRange with the stop before the start", [&] { return engine->SetRenderRange(2 * S, 1 * S); }, E_INVALIDARG},
        {"SetRenderRange2(0, 1)", [&] { return engine->SetRenderRange2(0.0, 1.0); }, S_OK},
        {"SetFilterGraph", [&] { return engine->SetFilterGraph(own_graph); }, S_OK},
        {"SetDynamicReconnectLevel(CONNECTF_DYNAMIC_NONE)", [&] { return engine->SetDynamicReconnectLevel(CONNECTF_DYNAMIC_NONE); }, S_OK},
        {"SetSourceNameValidation", [&] { return engine->SetSourceNameValidation(NULL, NULL, SFN_VALIDATEF_CHECK); }, S_OK},
        {"ConnectFrontEnd", [&] { return engine->ConnectFrontEnd(); }, S_OK},
        {"GetFilterGraph after ConnectFrontEnd", [&] { return engine->GetFilterGraph(&graph_after); }, S_OK},
        {"SetFilterGraph once the engine has one", [&] { return engine->SetFilterGraph(own_graph); }, E_INVALIDARG},
        {"GetGroupOutputPin(NULL)", [&] { return engine->GetGroupOutputPin(0, NULL); }, E_POINTER},
        {"GetGroupOutputPin of a group that is none", [&] { Ref<IPin> p; return engine->GetGroupOutputPin(3, &p); }, E_INVALIDARG},
        {"GetGroupOutputPin(0)", [&] { return engine->GetGroupOutputPin(0, &pin); }, S_OK},
        {"ScrapIt", [&] { return engine->ScrapIt(); }, S_OK},
        // not supported, not implemented
        {"SetInterestRange", [&] { return engine->SetInterestRange(0, S); }, E_NOTIMPL},
        {"SetInterestRange2", [&] { return engine->SetInterestRange2(0, 1); }, E_NOTIMPL},
        {"Commit", [&] { return engine->Commit(); }, E_NOTIMPL},
        {"Decommit", [&] { return engine->Decommit(); }, E_NOTIMPL},
        {"GetCaps", [&] { return engine->GetCaps(0, &caps); }, E_NOTIMPL},
    });
    SysFreeString(vendor);
    holds("IRenderEngine", {
        {"no timeline before one is set", [&] { return !tl_out.p; }},
        {"no graph before one is made", [&] { return !graph_out.p; }},
        {"the graph given is the graph used", [&] { return graph_after.p == own_graph.p; }},
        {"the group's pin is an output", [&] { PIN_DIRECTION d = PINDIR_INPUT; return pin.p && pin->QueryDirection(&d) == S_OK && d == PINDIR_OUTPUT; }},
    });
}

// ---- Rendered round trips: cuts only, render range, stream number ----

TEST(RenderEngine, TransitionInCutsOnlyModeIsACutAtItsCutPoint)
{
    GUID wipe = some_transition();
    ASSERT_FALSE(IsEqualGUID(wipe, GUID_NULL));
    // red below for 4 s; blue above from 1 s, with the transition over 1..3 s cutting at 1.5 s
    Edit e;
    Ref<IAMTimelineObj> group, lower, upper, trans, a, b;
    group.p = e.Group(true);
    lower.p = e.Track(group);
    upper.p = e.Track(group);
    a.p = e.Source(lower, "red.avi", 0, 4 * S, 0, 4 * S);
    b.p = e.Source(upper, "blue.avi", 1 * S, 4 * S, 0, 3 * S);
    trans.p = e.Transition(upper, wipe, 1 * S, 3 * S);
    Ref<IAMTimelineTrans> tr;
    query(trans.p, IID_IAMTimelineTrans, &tr);
    tr->SetCutPoint(S / 2);
    tr->SetCutsOnly(TRUE);
    ASSERT_EQ(S_OK, render(e.tl, "cut.avi"));
    holds("IAMTimelineTrans", {
        {"cuts only: before the cut point, only the clip below", [&] { return is_red(frame_at("cut.avi", 1.3)); }},
        {"cuts only: after the cut point, only the clip above", [&] { return is_blue(frame_at("cut.avi", 1.7)); }},
        {"cuts only: still the clip above late in the transition", [&] { return is_blue(frame_at("cut.avi", 2.8)); }},
    });
    // transitions disabled on the timeline: a cut as well
    tr->SetCutsOnly(FALSE);
    e.tl->EnableTransitions(FALSE);
    ASSERT_EQ(S_OK, render(e.tl, "disabled.avi"));
    holds("IAMTimeline", {
        {"transitions disabled: a cut at the cut point", [&] {
             return is_red(frame_at("disabled.avi", 1.3)) && is_blue(frame_at("disabled.avi", 1.7));
         }},
    });
}

TEST(RenderEngine, RenderRangeRendersOnlyThatRange)
{
    // red 0..2 s, blue 2..4 s; the range 1.5..3 s
    Edit e;
    Ref<IAMTimelineObj> group, track, a, b;
    group.p = e.Group(true);
    track.p = e.Track(group);
    a.p = e.Source(track, "red.avi", 0, 2 * S, 0, 2 * S);
    b.p = e.Source(track, "blue.avi", 2 * S, 4 * S, 0, 2 * S);
    ASSERT_EQ(S_OK, render(e.tl, "range.avi", 3 * S / 2, 3 * S));
    holds("IRenderEngine", {
        {"SetRenderRange: the output is as long as the range", [&] { return fabs(probe_duration("range.avi") - 1.5) < 0.1; }},
        {"SetRenderRange: it begins with what is at the range's start", [&] { return is_red(frame_at("range.avi", 0.2)); }},
        {"SetRenderRange: and goes on with what follows", [&] { return is_blue(frame_at("range.avi", 1.0)); }},
    });
}

TEST(RenderEngine, StreamNumberSelectsTheStreamOfTheFile)
{
    double first = -1, second = -1;
    for (LONG stream : {0, 1})
    {
        Edit e;
        Ref<IAMTimelineObj> group, track, src;
        group.p = e.Group(false);
        track.p = e.Track(group);
        src.p = e.Source(track, "tones.avi", 0, 2 * S, 0, 2 * S, stream);
        std::string out = stream ? "second.wav" : "first.wav";
        ASSERT_EQ(S_OK, render(e.tl, out));
        (stream ? second : first) = pitch(out, 0.5);
    }
    holds("IAMTimelineSrc", {
        {"stream 0: the first audio stream (440 Hz)", [&] { return fabs(first - 440) < 15; }},
        {"stream 1: the second audio stream (1000 Hz)", [&] { return fabs(second - 1000) < 25; }},
    });
}

// ---- IXml2Dex ----

TEST(Xml2Dex, SavesAndLoadsTimelines)
{
    Ref<IXml2Dex> xml;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_Xml2Dex, NULL, CLSCTX_INPROC_SERVER, IID_IXml2Dex, (void **)&xml));
    GUID wipe = some_transition();
    Edit e;
    Ref<IAMTimelineObj> video, audio, lower, upper, sound, trans, a, b, c;
    video.p = e.Group(true);
    audio.p = e.Group(false);
    lower.p = e.Track(video);
    upper.p = e.Track(video);
    sound.p = e.Track(audio);
    a.p = e.Source(lower, "red.avi", 0, 4 * S, 0, 4 * S);
    b.p = e.Source(upper, "blue.avi", 1 * S, 3 * S, S / 2, 5 * S / 2);
    c.p = e.Source(sound, "tones.avi", S / 4, 2 * S, 0, 7 * S / 4, 1);
    trans.p = e.Transition(upper, wipe, 1 * S, 2 * S);
    Ref<IAMTimelineTrans> tr;
    query(trans.p, IID_IAMTimelineTrans, &tr);
    tr->SetCutPoint(S / 4);
    tr->SetCutsOnly(TRUE);
    tr->SetSwapInputs(TRUE);
    Text file(dos("saved.xtl")), garbage(dos("garbage.xtl")), missing(dos("none.xtl"));
    BSTR written = NULL, reread = NULL;
    Edit loaded, empty;
    returns("IXml2Dex", {
        {"WriteXMLFile", [&] { return xml->WriteXMLFile(e.tl, file); }, S_OK},
        {"WriteXML(NULL)", [&] { return xml->WriteXML(e.tl, NULL); }, E_POINTER},
        {"WriteXML", [&] { return xml->WriteXML(e.tl, &written); }, S_OK},
        {"WriteXMLFile of what is not a timeline", [&] { return xml->WriteXMLFile(xml, file); }, E_INVALIDARG},
        {"ReadXMLFile", [&] { return xml->ReadXMLFile(loaded.tl, file); }, S_OK},
        {"ReadXMLFile of a file that is not XTL", [&] { return xml->ReadXMLFile(empty.tl, garbage); }, VFW_E_INVALID_FILE_FORMAT},
        {"WriteXML of the loaded timeline", [&] { return xml->WriteXML(loaded.tl, &reread); }, S_OK},
        // not implemented
        {"CreateGraphFromFile", [&] { Ref<IUnknown> g; return xml->CreateGraphFromFile(&g, e.tl, file); }, E_NOTIMPL},
        {"Delete", [&] { return xml->Delete(e.tl, 0, 1); }, E_NOTIMPL},
        {"WriteXMLPart", [&] { return xml->WriteXMLPart(e.tl, 0, 1, file); }, E_NOTIMPL},
        {"PasteXMLFile", [&] { return xml->PasteXMLFile(e.tl, 0, file); }, E_NOTIMPL},
        {"CopyXML", [&] { return xml->CopyXML(e.tl, 0, 1); }, E_NOTIMPL},
        {"PasteXML", [&] { return xml->PasteXML(e.tl, 0); }, E_NOTIMPL},
        {"Reset", [&] { return xml->Reset(); }, E_NOTIMPL},
        {"ReadXML", [&] { return xml->ReadXML(e.tl, NULL); }, E_NOTIMPL},
    });
    LONG groups = -1, tracks = -1, with_comps = -1;
    Ref<IAMTimelineObj> g0, g1, t1, s1, s_sound, x;
    loaded.tl->GetGroupCount(&groups);
    loaded.tl->GetGroup(&g0, 0);
    loaded.tl->GetGroup(&g1, 1);
    loaded.tl->GetCountOfType(0, &tracks, &with_comps, TIMELINE_MAJOR_TYPE_TRACK);
    Ref<IAMTimelineComp> comp0, comp1;
    query(g0.p, IID_IAMTimelineComp, &comp0);
    query(g1.p, IID_IAMTimelineComp, &comp1);
    if (comp0) comp0->GetVTrack(&t1, 1);
    Ref<IAMTimelineTrack> track1, track_sound;
    query(t1.p, IID_IAMTimelineTrack, &track1);
    Ref<IAMTimelineObj> ts;
    if (comp1) comp1->GetVTrack(&ts, 0);
    query(ts.p, IID_IAMTimelineTrack, &track_sound);
    REFERENCE_TIME when = 0, when2 = 0;
    if (track1) track1->GetNextSrc(&s1, &when);
    if (track_sound) track_sound->GetNextSrc(&s_sound, &when2);
    Ref<IAMTimelineTransable> able;
    query(t1.p, IID_IAMTimelineTransable, &able);
    REFERENCE_TIME tw = 0;
    if (able) able->GetNextTrans(&x, &tw);
    holds("IXml2Dex", {
        {"loaded: two groups", [&] { return groups == 2; }},
        {"loaded: the video group's type", [&] {
             Ref<IAMTimelineGroup> g;
             AM_MEDIA_TYPE mt = {};
             if (FAILED(query(g0.p, IID_IAMTimelineGroup, &g)) || FAILED(g->GetMediaType(&mt))) return false;
             bool ok = IsEqualGUID(mt.majortype, MEDIATYPE_Video) && mt.pbFormat
                       && ((VIDEOINFOHEADER *)mt.pbFormat)->bmiHeader.biWidth == W
                       && ((VIDEOINFOHEADER *)mt.pbFormat)->bmiHeader.biHeight == H;
             CoTaskMemFree(mt.pbFormat);
             return ok;
         }},
        {"loaded: two video tracks", [&] { return tracks == 2; }},
        {"loaded: the source's times, media times and name", [&] {
             Ref<IAMTimelineSrc> s;
             REFERENCE_TIME a0 = -1, a1 = -1, m0 = -1, m1 = -1;
             BSTR n = NULL;
             if (FAILED(query(s1.p, IID_IAMTimelineSrc, &s))) return false;
             s1->GetStartStop(&a0, &a1);
             s->GetMediaTimes(&m0, &m1);
             s->GetMediaName(&n);
             bool ok = a0 == 1 * S && a1 == 3 * S && m0 == S / 2 && m1 == 5 * S / 2 && text_of(n) == dos("blue.avi");
             SysFreeString(n);
             return ok;
         }},
        {"loaded: the audio source's stream number and times", [&] {
             Ref<IAMTimelineSrc> s;
             LONG n = -1;
             REFERENCE_TIME a0 = -1, a1 = -1;
             if (FAILED(query(s_sound.p, IID_IAMTimelineSrc, &s))) return false;
             s->GetStreamNumber(&n);
             s_sound->GetStartStop(&a0, &a1);
             return n == 1 && a0 == S / 4 && a1 == 2 * S;
         }},
        {"loaded: the transition, its cut point, cuts only and swapped inputs", [&] {
             Ref<IAMTimelineTrans> t;
             REFERENCE_TIME cut = -1, a0 = -1, a1 = -1;
             BOOL only = FALSE, swap = FALSE;
             GUID sub = GUID_NULL;
             if (FAILED(query(x.p, IID_IAMTimelineTrans, &t))) return false;
             x->GetStartStop(&a0, &a1);
             x->GetSubObjectGUID(&sub);
             return t->GetCutPoint(&cut) == S_OK && cut == S / 4 && t->GetCutsOnly(&only) == S_OK && only
                    && t->GetSwapInputs(&swap) == S_OK && swap && a0 == 1 * S && a1 == 2 * S && IsEqualGUID(sub, wipe);
         }},
        {"the loaded timeline writes the same XML", [&] { return written && reread && text_of(written) == text_of(reread); }},
        {"a file that is not XTL adds nothing", [&] { LONG n = -1; empty.tl->GetGroupCount(&n); return n == 0; }},
        {"ReadXMLFile adds to what the timeline holds", [&] {
             LONG n = -1;
             xml->ReadXMLFile(loaded.tl, file);
             loaded.tl->GetGroupCount(&n);
             return n == 4;
         }},
        {"a missing file is an error", [&] { return FAILED(xml->ReadXMLFile(empty.tl, missing)); }},
    });
    SysFreeString(written);
    SysFreeString(reread);
}

// ---- IPropertySetter ----

TEST(PropertySetter, SetterMethods)
{
    Ref<IPropertySetter> setter, clone, loaded;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PropertySetter, NULL, CLSCTX_INPROC_SERVER, IID_IPropertySetter, (void **)&setter));
    CoCreateInstance(CLSID_PropertySetter, NULL, CLSCTX_INPROC_SERVER, IID_IPropertySetter, (void **)&loaded);
    DEXTER_PARAM param = {bstr(u"Progress"), 0, 2};
    DEXTER_VALUE values[2] = {};
    V_VT(&values[0].v) = VT_R8;
    V_R8(&values[0].v) = 0.25;
    values[0].rt = 0;
    values[0].dwInterp = DEXTERF_JUMP;
    V_VT(&values[1].v) = VT_R8;
    V_R8(&values[1].v) = 0.75;
    values[1].rt = 2 * S;
    values[1].dwInterp = DEXTERF_INTERPOLATE;
    LONG count = -1, size = 0, clone_count = -1, loaded_count = -1;
    DEXTER_PARAM *params = NULL;
    DEXTER_VALUE *vals = NULL;
    BYTE *blob = NULL;
    char xml[2048] = "";
    int printed = 0;
    returns("IPropertySetter", {
        {"AddProp(NULL values)", [&] { return setter->AddProp(param, NULL); }, E_POINTER},
        {"AddProp", [&] { return setter->AddProp(param, values); }, S_OK},
        {"GetProps(NULL)", [&] { return setter->GetProps(NULL, &params, &vals); }, E_POINTER},
        {"GetProps", [&] { return setter->GetProps(&count, &params, &vals); }, S_OK},
        {"FreeProps", [&] { return setter->FreeProps(count, params, vals); }, S_OK},
        {"SaveToBlob(NULL)", [&] { return setter->SaveToBlob(NULL, &blob); }, E_POINTER},
        {"SaveToBlob", [&] { return setter->SaveToBlob(&size, &blob); }, S_OK},
        {"LoadFromBlob", [&] { return loaded->LoadFromBlob(size, blob); }, S_OK},
        {"PrintXML(NULL)", [&] { return setter->PrintXML(NULL, sizeof(xml), &printed, 0); }, E_POINTER},
        {"PrintXML", [&] { return setter->PrintXML(xml, sizeof(xml), &printed, 0); }, S_OK},
        {"CloneProps(NULL)", [&] { return setter->CloneProps(NULL, 0, 2 * S); }, E_POINTER},
        {"CloneProps from before 0", [&] { Ref<IPropertySetter> c; return setter->CloneProps(&c, -1, 2 * S); }, E_INVALIDARG},
        {"CloneProps(1 s)", [&] { return setter->CloneProps(&clone, 1 * S, 3 * S); }, S_OK},
        {"SetProps of a target that has no IDispatch", [&] { return SUCCEEDED(setter->SetProps(setter, 0)) ? S_OK : E_FAIL; }, E_FAIL},
        {"ClearProps", [&] { return setter->ClearProps(); }, S_OK},
    });
    CoTaskMemFree(blob);
    SysFreeString(param.name);
    holds("IPropertySetter", {
        {"one property", [&] { return count == 1; }},
        {"the XML names the property", [&] { return printed > 0 && strstr(xml, "Progress") != NULL; }},
        {"the blob loads the same property with its two values", [&] {
             DEXTER_PARAM *p = NULL;
             DEXTER_VALUE *v = NULL;
             if (loaded->GetProps(&loaded_count, &p, &v) != S_OK) return false;
             VARIANT r8;
             VariantInit(&r8);
             bool ok = loaded_count == 1 && p[0].nValues == 2 && v[1].rt == 2 * S
                       && SUCCEEDED(VariantChangeTypeEx(&r8, &v[1].v, LOCALE_INVARIANT, 0, VT_R8)) && V_R8(&r8) == 0.75;
             loaded->FreeProps(loaded_count, p, v);
             return ok;
         }},
        {"the clone starts with the value at its start", [&] {
             DEXTER_PARAM *p = NULL;
             DEXTER_VALUE *v = NULL;
             if (!clone.p || clone->GetProps(&clone_count, &p, &v) != S_OK) return false;
             VARIANT r8;
             VariantInit(&r8);
             bool ok = clone_count == 1 && p[0].nValues >= 1 && v[0].rt == 0
                       && SUCCEEDED(VariantChangeTypeEx(&r8, &v[0].v, LOCALE_INVARIANT, 0, VT_R8)) && fabs(V_R8(&r8) - 0.5) < 1e-6;
             clone->FreeProps(clone_count, p, v);
             return ok;
         }},
        {"ClearProps leaves none", [&] {
             DEXTER_PARAM *p = NULL;
             DEXTER_VALUE *v = NULL;
             LONG n = -1;
             setter->GetProps(&n, &p, &v);
             setter->FreeProps(n, p, v);
             return n == 0;
         }},
    });
}

// ---- IMediaDet ----

TEST(MediaDet, DetectorMethods)
{
    Ref<IMediaDet> det, det2;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&det));
    CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&det2);
    Ref<IUnknown> filter_none, filter;
    Ref<IGraphBuilder> graph;
    Ref<IBaseFilter> client_source;
    CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&graph);
    std::u16string red = dos("red.avi");
    graph->AddSourceFilter(reinterpret_cast<const WCHAR *>(red.c_str()), NULL, &client_source);
    Edit e;
    LONG streams = -1, current = -1, streams2 = -1;
    GUID type = GUID_NULL;
    double length = 0, fps = 0;
    BSTR name = NULL;
    Text file(dos("red.avi")), missing(dos("none.avi"));
    returns("IMediaDet", {
        {"get_Filter(NULL)", [&] { return det->get_Filter(NULL); }, E_POINTER},
        {"get_Filter with nothing open", [&] { return det->get_Filter(&filter_none); }, S_OK},
        {"get_OutputStreams with nothing open", [&] { return det->get_OutputStreams(&streams); }, E_INVALIDARG},
        {"put_Filter(NULL)", [&] { return det->put_Filter(NULL); }, E_POINTER},
        {"put_Filter(a timeline)", [&] { return det->put_Filter(e.tl); }, E_NOINTERFACE},
        {"put_Filename of a file that is not there", [&] { return SUCCEEDED(det->put_Filename(missing)) ? S_OK : E_FAIL; }, E_FAIL},
        {"put_Filename", [&] { return det->put_Filename(file); }, S_OK},
        {"get_Filename(NULL)", [&] { return det->get_Filename(NULL); }, E_POINTER},
        {"get_Filename", [&] { return det->get_Filename(&name); }, S_OK},
        {"get_OutputStreams(NULL)", [&] { return det->get_OutputStreams(NULL); }, E_POINTER},
        {"get_OutputStreams", [&] { return det->get_OutputStreams(&streams); }, S_OK},
        {"get_CurrentStream(NULL)", [&] { return det->get_CurrentStream(NULL); }, E_POINTER},
        {"put_CurrentStream past the last", [&] { return det->put_CurrentStream(5); }, E_INVALIDARG},
        {"put_CurrentStream(-1)", [&] { return det->put_CurrentStream(-1); }, E_INVALIDARG},
        {"get_CurrentStream", [&] { return det->get_CurrentStream(&current); }, S_OK},
        {"get_StreamType(NULL)", [&] { return det->get_StreamType(NULL); }, E_POINTER},
        {"get_StreamTypeB(NULL)", [&] { return det->get_StreamTypeB(NULL); }, E_POINTER},
        {"get_StreamLength(NULL)", [&] { return det->get_StreamLength(NULL); }, E_POINTER},
        {"get_StreamMediaType(NULL)", [&] { return det->get_StreamMediaType(NULL); }, E_POINTER},
        {"get_FrameRate(NULL)", [&] { return det->get_FrameRate(NULL); }, E_POINTER},
        {"get_Filter with a file open", [&] { return det->get_Filter(&filter); }, S_OK},
        {"put_Filter(a source filter the client made)", [&] { return det2->put_Filter(client_source); }, S_OK},
        {"get_OutputStreams of the client's filter", [&] { return det2->get_OutputStreams(&streams2); }, S_OK},
    });
    std::u16string name_back = text_of(name);
    SysFreeString(name);
    holds("IMediaDet", {
        {"nothing open: no filter", [&] { return !filter_none.p; }},
        {"the file name set is read back", [&] { return name_back == red; }},
        {"two streams: video and audio", [&] { return streams == 2; }},
        {"stream 0 by default", [&] { return current == 0; }},
        {"the stream's type, length and rate", [&] {
             int video = -1;
             for (LONG i = 0; i < 2 && video < 0; i++)
             {
                 det->put_CurrentStream(i);
                 det->get_StreamType(&type);
                 if (IsEqualGUID(type, MEDIATYPE_Video)) video = i;
             }
             det->get_StreamLength(&length);
             det->get_FrameRate(&fps);
             return video >= 0 && fabs(length - 4.0) < 0.1 && fabs(fps - 15.0) < 0.01;
         }},
        {"the detector's filter is a filter", [&] { Ref<IBaseFilter> f; return query(filter.p, IID_IBaseFilter, &f) == S_OK; }},
        {"the client's source filter shows the file's two streams", [&] { return streams2 == 2; }},
    });

    // pictures of the video stream
    Ref<IMediaDet> pictures;
    CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&pictures);
    Text blue(dos("blue.avi")), bmp(dos("picture.bmp"));
    LONG video = -1, audio = -1, size = 0;
    std::vector<char> bits;
    returns("IMediaDet", {
        {"put_Filename(blue.avi)", [&] { return pictures->put_Filename(blue); }, S_OK},
        {"the streams' types", [&] {
             for (LONG i = 0; i < 2; i++)
             {
                 GUID t = GUID_NULL;
                 pictures->put_CurrentStream(i);
                 pictures->get_StreamType(&t);
                 (IsEqualGUID(t, MEDIATYPE_Video) ? video : audio) = i;
             }
             return video >= 0 && audio >= 0 ? S_OK : E_FAIL;
         }, S_OK},
        {"GetBitmapBits of a sound stream", [&] { pictures->put_CurrentStream(audio); return pictures->GetBitmapBits(0, &size, NULL, 160, 120); }, VFW_E_INVALIDMEDIATYPE},
        {"GetBitmapBits(NULL, NULL)", [&] { pictures->put_CurrentStream(video); return pictures->GetBitmapBits(0, NULL, NULL, 160, 120); }, E_POINTER},
        {"GetBitmapBits: the size", [&] { return pictures->GetBitmapBits(0, &size, NULL, 160, 120); }, S_OK},
        {"GetBitmapBits at 2 s", [&] { bits.resize(size > 0 ? size : 1); return pictures->GetBitmapBits(2.0, NULL, bits.data(), 160, 120); }, S_OK},
        {"WriteBitmapBits(NULL)", [&] { return pictures->WriteBitmapBits(1.0, 160, 120, NULL); }, E_POINTER},
        {"WriteBitmapBits", [&] { return pictures->WriteBitmapBits(1.0, 160, 120, bmp); }, S_OK},
        {"EnterBitmapGrabMode", [&] { return pictures->EnterBitmapGrabMode(0.5); }, S_OK},
    });
    holds("IMediaDet", {
        {"the size: a BITMAPINFOHEADER and 24-bit rows padded to 4 bytes", [&] { return size == 40 + 160 * 3 * 120; }},
        {"the picture: a 24-bit header at the size asked, then blue pixels", [&] {
             const BITMAPINFOHEADER *bih = reinterpret_cast<const BITMAPINFOHEADER *>(bits.data());
             const unsigned char *p = reinterpret_cast<const unsigned char *>(bits.data()) + 40 + (60 * 160 + 80) * 3;
             return bits.size() == (size_t)size && bih->biWidth == 160 && bih->biHeight == 120 && bih->biBitCount == 24
                    && p[0] > 200 && p[1] < 60 && p[2] < 60;
         }},
        {"the .bmp file: a file header, then the same picture", [&] {
             std::vector<unsigned char> file = read_all(path("picture.bmp"));
             return file.size() == (size_t)14 + size && file[0] == 'B' && file[1] == 'M';
         }},
    });
}
