// Timeline, property setter and render engine on media that ffmpeg makes for this run. Each test builds
// a timeline through COM as the programs do, renders it, and reads back what was written: pixels of
// frames at given times, audio levels, lengths and sizes.
#include <windows.h>
#include <dshow.h>
#include "editing_services.h"
#include "filters/interfaces.h"
#include "editing/timeline.h"
#include "gtest_win.h"
#include "comref.h"

#include <math.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char **environ;

namespace {

const LONGLONG S = 10000000;   // one second in timeline units
const int W = 320, H = 240;

std::string folder;            // Unix path of this run's media

bool sh(const std::string &command)
{
    const char *argv[] = {"/bin/sh", "-c", command.c_str(), NULL};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", NULL, NULL, const_cast<char **>(argv), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ffmpeg(const std::string &args, const std::string &out)
{
    return sh("ffmpeg -v error -nostdin -y " + args + " '" + folder + "/" + out + "'");
}

std::string path(const std::string &name) { return folder + "/" + name; }

std::u16string dos(const std::string &name)
{
    std::string p = "Z:" + path(name);
    std::u16string w;
    for (char c : p) w += (char16_t)(c == '/' ? '\\' : c);
    return w;
}

std::vector<unsigned char> read_file(const std::string &p)
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

std::string capture(const std::string &command)
{
    std::string out = folder + "/capture.txt";
    if (!sh(command + " > '" + out + "'")) return "";
    std::vector<unsigned char> d = read_file(out);
    return std::string(d.begin(), d.end());
}

// One frame at time t, RGB24 at the group size.
std::vector<unsigned char> frame_at(const std::string &file, double t, int w = W, int h = H)
{
    char args[512];
    std::string raw = folder + "/frame.rgb";
    snprintf(args, sizeof(args), "ffmpeg -v error -nostdin -y -i '%s' -ss %.3f -frames:v 1 -f rawvideo -pix_fmt rgb24 '%s'",
             path(file).c_str(), t, raw.c_str());
    unlink(raw.c_str());
    if (!sh(args)) return {};
    std::vector<unsigned char> d = read_file(raw);
    if (d.size() != (size_t)w * h * 3) return {};
    return d;
}

struct Rgb { int r, g, b; };

Rgb pixel(const std::vector<unsigned char> &f, int x, int y, int w = W)
{
    if (f.empty()) return Rgb{-1, -1, -1};
    const unsigned char *p = &f[((size_t)y * w + x) * 3];
    return Rgb{p[0], p[1], p[2]};
}

bool is_red(Rgb c) { return c.r > 200 && c.g < 60 && c.b < 60; }
bool is_blue(Rgb c) { return c.b > 200 && c.r < 60 && c.g < 60; }
bool is_green(Rgb c) { return c.g > 100 && c.r < 60 && c.b < 60; }
bool is_black(Rgb c) { return c.r < 30 && c.g < 30 && c.b < 30; }
bool is_white(Rgb c) { return c.r > 220 && c.g > 220 && c.b > 220; }

// Share of blue in a red/blue frame: 0 all red, 1 all blue.
double blue_share(const std::vector<unsigned char> &f)
{
    if (f.empty()) return -1.0;
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i + 2 < f.size(); i += 3 * 7, n++)
        sum += (f[i + 2] + 1.0) / (f[i] + f[i + 2] + 2.0);
    return sum / n;
}

// RMS of the sound from t0 to t1 (mono, 16-bit, full scale 32768).
double level(const std::string &file, double t0, double t1)
{
    char args[512];
    std::string raw = folder + "/sound.raw";
    snprintf(args, sizeof(args), "ffmpeg -v error -nostdin -y -i '%s' -vn -ss %.3f -t %.3f -ac 1 -ar 44100 -f s16le '%s'",
             path(file).c_str(), t0, t1 - t0, raw.c_str());
    unlink(raw.c_str());
    if (!sh(args)) return -1.0;
    std::vector<unsigned char> d = read_file(raw);
    if (d.size() < 200) return -1.0;
    double sum = 0;
    size_t n = d.size() / 2;
    for (size_t i = 0; i < n; i++)
    {
        short s = (short)(d[2 * i] | (d[2 * i + 1] << 8));
        sum += (double)s * s;
    }
    return sqrt(sum / n);
}

// Size of the data chunk of a RIFF WAVE file; -1 when it has none.
long wav_data_size(const std::vector<unsigned char> &w)
{
    if (w.size() < 12 || memcmp(&w[0], "RIFF", 4) || memcmp(&w[8], "WAVE", 4)) return -1;
    for (size_t at = 12; at + 8 <= w.size();)
    {
        unsigned long size = w[at + 4] | (w[at + 5] << 8) | (w[at + 6] << 16) | ((unsigned long)w[at + 7] << 24);
        if (!memcmp(&w[at], "data", 4)) return (long)size;
        at += 8 + size + (size & 1);
    }
    return -1;
}

double probe(const std::string &file, const std::string &what)
{
    std::string out = capture("ffprobe -v error -select_streams v:0 -count_frames -show_entries " + what +
                              " -of default=nw=1:nk=1 '" + path(file) + "'");
    return out.empty() ? -1.0 : atof(out.c_str());
}

/* ---- Media of this run ---- */

class Media : public ::testing::Environment
{
public:
    void SetUp() override
    {
        CoInitializeEx(NULL, COINIT_MULTITHREADED);
        char tmpl[] = "/tmp/timeline-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        folder = tmpl;
        const std::string ids = "-vf \"geq=lum='if(lt(X,W/2),mod(N,16)*16+8,floor(N/16)*16+8)':cb=128:cr=128\"";
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=red:size=320x240:rate=15 -f lavfi -i sine=f=440:sample_rate=44100 "
                           "-t 4 -c:v mjpeg -q:v 3 -c:a pcm_s16le", "red.avi"));
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=blue:size=320x240:rate=15 -f lavfi -i sine=f=880:sample_rate=44100 "
                           "-t 4 -c:v mjpeg -q:v 3 -c:a pcm_s16le", "blue.avi"));
        // left half white, right half black
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=black:size=320x240:rate=15 -vf drawbox=x=0:y=0:w=160:h=240:color=white:t=fill "
                           "-t 4 -c:v mjpeg -q:v 3", "keyed.avi"));
        // every frame tells its number: low digit left, high digit right, in steps of 16
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=gray:size=320x240:rate=15 -f lavfi -i sine=f=440:sample_rate=44100 " + ids +
                           " -t 10 -c:v mjpeg -q:v 2 -c:a pcm_s16le", "ids.avi"));
        ASSERT_TRUE(ffmpeg("-f lavfi -i color=gray:size=320x240:rate=25 " + ids + " -t 10 -c:v mpeg1video -q:v 2 -f mpeg",
                           "ids.mpg"));
        ASSERT_TRUE(ffmpeg("-f lavfi -i sine=f=440:sample_rate=44100 -t 4 -ac 2 -c:a pcm_s16le", "tone.wav"));
        for (const char *ext : {"jpg", "bmp", "gif", "tga"})
            ASSERT_TRUE(ffmpeg("-f lavfi -i color=green:size=160x120 -frames:v 1", std::string("green.") + ext));
        ASSERT_TRUE(sh("echo not a movie > '" + path("broken.avi") + "'"));
    }
    void TearDown() override
    {
        if (!folder.empty()) sh("rm -rf '" + folder + "'");
        CoUninitialize();
    }
};

::testing::Environment *const media = ::testing::AddGlobalTestEnvironment(new Media);

/* ---- Building timelines as the programs do ---- */

BSTR bstr(const std::u16string &s) { return SysAllocString(reinterpret_cast<const OLECHAR *>(s.c_str())); }

struct Tl
{
    Ref<IAMTimeline> tl;
    HRESULT made;
    Tl() { made = CoCreateInstance(CLSID_AMTimeline, NULL, CLSCTX_INPROC_SERVER, IID_IAMTimeline, (void **)&tl); }

    // a group; video: bits 16/24/32, audio: channels, rate, bits
    HRESULT Group(bool video, int a, int b, int c, double fps, IAMTimelineObj **out)
    {
        Ref<IAMTimelineGroup> group;
        HRESULT hr = tl->CreateEmptyNode(out, TIMELINE_MAJOR_TYPE_GROUP);
        if (FAILED(hr)) return hr;
        (*out)->QueryInterface(IID_IAMTimelineGroup, (void **)&group);
        if (fps > 0) group->SetOutputFPS(fps);
        AM_MEDIA_TYPE mt = {};
        if (video)
        {
            VIDEOINFOHEADER *vih = (VIDEOINFOHEADER *)CoTaskMemAlloc(sizeof(VIDEOINFOHEADER));
            memset(vih, 0, sizeof(*vih));
            int width = a, height = b, bits = c;
            vih->bmiHeader.biSize = 40;
            vih->bmiHeader.biWidth = width;
            vih->bmiHeader.biHeight = height;
            vih->bmiHeader.biPlanes = 1;
            vih->bmiHeader.biBitCount = bits;
            vih->bmiHeader.biSizeImage = ((width * bits + 31) & ~31) / 8 * height;
            mt.majortype = MEDIATYPE_Video;
            mt.subtype = bits == 16 ? MEDIASUBTYPE_RGB555 : bits == 24 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_ARGB32;
            mt.formattype = FORMAT_VideoInfo;
            mt.bFixedSizeSamples = TRUE;
            mt.lSampleSize = vih->bmiHeader.biSizeImage;
            mt.cbFormat = sizeof(VIDEOINFOHEADER);
            mt.pbFormat = (BYTE *)vih;
        }
        else
        {
            WAVEFORMATEX *wfx = (WAVEFORMATEX *)CoTaskMemAlloc(18);
            memset(wfx, 0, 18);
            wfx->wFormatTag = WAVE_FORMAT_PCM;
            wfx->nChannels = a;
            wfx->nSamplesPerSec = b;
            wfx->wBitsPerSample = c;
            wfx->nBlockAlign = a * c / 8;
            wfx->nAvgBytesPerSec = wfx->nBlockAlign * b;
            mt.majortype = MEDIATYPE_Audio;
            mt.subtype = MEDIASUBTYPE_PCM;
            mt.formattype = FORMAT_WaveFormatEx;
            mt.cbFormat = 18;
            mt.pbFormat = (BYTE *)wfx;
        }
        hr = group->SetMediaType(&mt);
        CoTaskMemFree(mt.pbFormat);
        if (FAILED(hr)) return hr;
        return tl->AddGroup(*out);
    }

    HRESULT AddTrack(IAMTimelineObj *group, LONG priority, IAMTimelineObj **track)
    {
        Ref<IAMTimelineComp> comp;
        HRESULT hr = tl->CreateEmptyNode(track, TIMELINE_MAJOR_TYPE_TRACK);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = group->QueryInterface(IID_IAMTimelineComp, (void **)&comp))) return hr;
        return comp->VTrackInsBefore(*track, priority);
    }

    HRESULT AddSource(IAMTimelineObj *track, const std::string &file, LONGLONG start, LONGLONG stop, LONGLONG mstart,
                      LONGLONG mstop)
    {
        Ref<IAMTimelineObj> src;
        Ref<IAMTimelineSrc> s;
        Ref<IAMTimelineTrack> t;
        HRESULT hr = tl->CreateEmptyNode(&src, TIMELINE_MAJOR_TYPE_SOURCE);
        if (FAILED(hr)) return hr;
        src->QueryInterface(IID_IAMTimelineSrc, (void **)&s);
        if (FAILED(hr = src->SetStartStop(start, stop))) return hr;
        BSTR name = bstr(dos(file));
        hr = s->SetMediaName(name);
        SysFreeString(name);
        if (FAILED(hr) || FAILED(hr = s->SetMediaTimes(mstart, mstop))) return hr;
        if (FAILED(hr = track->QueryInterface(IID_IAMTimelineTrack, (void **)&t))) return hr;
        return t->SrcAdd(src);
    }

    HRESULT AddTransition(IAMTimelineObj *track, const GUID &clsid, LONGLONG start, LONGLONG stop, bool key = false)
    {
        Ref<IAMTimelineObj> trans;
        Ref<IAMTimelineTrans> tr;
        Ref<IAMTimelineTransable> able;
        HRESULT hr = tl->CreateEmptyNode(&trans, TIMELINE_MAJOR_TYPE_TRANSITION);
        if (FAILED(hr)) return hr;
        trans->SetSubObjectGUID(clsid);
        trans->SetStartStop(start, stop);
        trans->QueryInterface(IID_IAMTimelineTrans, (void **)&tr);
        tr->SetSwapInputs(FALSE);
        if (key)
        {
            Ref<IPropertySetter> setter;
            if (FAILED(hr = CoCreateInstance(CLSID_PropertySetter, NULL, CLSCTX_INPROC_SERVER, IID_IPropertySetter,
                                             (void **)&setter)))
                return hr;
            const char16_t *names[2] = {u"KeyType", u"RGB"}, *values[2] = {u"0", u"0x000000"};
            for (int i = 0; i < 2; i++)
            {
                DEXTER_PARAM param = {bstr(names[i]), 0, 1};
                DEXTER_VALUE value = {};
                V_VT(&value.v) = VT_BSTR;
                V_BSTR(&value.v) = bstr(values[i]);
                hr = setter->AddProp(param, &value);
                SysFreeString(param.name);
                VariantClear(&value.v);
                if (FAILED(hr)) return hr;
            }
            trans->SetPropertySetter(setter);
        }
        if (FAILED(hr = track->QueryInterface(IID_IAMTimelineTransable, (void **)&able))) return hr;
        return able->TransAdd(trans);
    }

    // "Vol": 1.0 from the effect's start, falling linearly to 0.0 at zero_at (from the effect's start)
    HRESULT AddFade(IAMTimelineObj *track, LONGLONG from, LONGLONG to, LONGLONG zero_at)
    {
        Ref<IAMTimelineObj> fx;
        Ref<IPropertySetter> setter;
        Ref<IAMTimelineEffectable> able;
        HRESULT hr = tl->CreateEmptyNode(&fx, TIMELINE_MAJOR_TYPE_EFFECT);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = fx->SetSubObjectGUID(CLSID_AudMixer)) || FAILED(hr = fx->SetStartStop(from, to))) return hr;
        if (FAILED(hr = CoCreateInstance(CLSID_PropertySetter, NULL, CLSCTX_INPROC_SERVER, IID_IPropertySetter,
                                         (void **)&setter)))
            return hr;
        DEXTER_PARAM param = {bstr(u"Vol"), 0, 2};
        DEXTER_VALUE values[2] = {};
        V_VT(&values[0].v) = VT_R8;
        V_R8(&values[0].v) = 1.0;
        values[0].rt = 0;
        values[0].dwInterp = DEXTERF_JUMP;
        V_VT(&values[1].v) = VT_R8;
        V_R8(&values[1].v) = 0.0;
        values[1].rt = zero_at;
        values[1].dwInterp = DEXTERF_INTERPOLATE;
        hr = setter->AddProp(param, values);
        SysFreeString(param.name);
        if (FAILED(hr)) return hr;
        fx->SetPropertySetter(setter);
        if (FAILED(hr = track->QueryInterface(IID_IAMTimelineEffectable, (void **)&able))) return hr;
        return able->EffectInsBefore(fx, -1);
    }
};

// Renders through the engine's own pipeline: video as JPEG in AVI, or the one audio group as WAV.
HRESULT render(IAMTimeline *tl, const std::string &out, const char *muxer = "avimux", const char *encoder = "jpegenc quality=95")
{
    Ref<IRenderEngine> engine;
    Ref<IPlatformRenderFile> file;
    HRESULT hr = CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = engine->SetTimelineObject(tl)) || FAILED(hr = engine->ConnectFrontEnd())) return hr;
    if (FAILED(hr = engine->QueryInterface(IID_IPlatformRenderFile, (void **)&file))) return hr;
    std::u16string name = dos(out);
    hr = file->RenderToFile(encoder, muxer, reinterpret_cast<const WCHAR *>(name.c_str()), 60000);
    engine->ScrapIt();
    return hr;
}

/* ---- Layers, transitions, key ---- */

// red track 0 for 4 s; blue track 1 from 1 to 3 s (later track on top)
TEST(TimelineRender, LaterTrackLiesAboveEarlierOne)
{
    Tl t;
    ASSERT_EQ(S_OK, t.made);
    Ref<IAMTimelineObj> group, lower, upper;
    ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &group));
    ASSERT_EQ(S_OK, t.AddTrack(group, -1, &lower));
    ASSERT_EQ(S_OK, t.AddTrack(group, -1, &upper));
    ASSERT_EQ(S_OK, t.AddSource(lower, "red.avi", 0, 4 * S, 0, 4 * S));
    ASSERT_EQ(S_OK, t.AddSource(upper, "blue.avi", 1 * S, 3 * S, 0, 2 * S));
    ASSERT_EQ(S_OK, render(t.tl, "layers.avi"));
    EXPECT_TRUE(is_red(pixel(frame_at("layers.avi", 0.5), 160, 120)));
    EXPECT_TRUE(is_blue(pixel(frame_at("layers.avi", 2.0), 160, 120)));
    EXPECT_TRUE(is_red(pixel(frame_at("layers.avi", 3.5), 160, 120)));
    EXPECT_NEAR(4.0, probe("layers.avi", "format=duration"), 0.07);

    // a track inserted at priority 0 goes below the others
    Tl t2;
    Ref<IAMTimelineObj> g2, first, below;
    ASSERT_EQ(S_OK, t2.Group(true, W, H, 24, 15, &g2));
    ASSERT_EQ(S_OK, t2.AddTrack(g2, -1, &first));
    ASSERT_EQ(S_OK, t2.AddTrack(g2, 0, &below));
    ASSERT_EQ(S_OK, t2.AddSource(first, "blue.avi", 0, 2 * S, 0, 2 * S));
    ASSERT_EQ(S_OK, t2.AddSource(below, "red.avi", 0, 2 * S, 0, 2 * S));
    ASSERT_EQ(S_OK, render(t2.tl, "below.avi"));
    EXPECT_TRUE(is_blue(pixel(frame_at("below.avi", 1.0), 160, 120)));
}

// Every transition of the video transition category reveals the clip over what lies below.
TEST(TimelineRender, EveryTransitionRevealsTheClip)
{
    Ref<ICreateDevEnum> devenum;
    Ref<IEnumMoniker> monikers;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     (void **)&devenum));
    ASSERT_EQ(S_OK, devenum->CreateClassEnumerator(CLSID_VideoEffects2Category, &monikers, 0));
    IMoniker *m;
    int tested = 0;
    while (monikers->Next(1, &m, NULL) == S_OK)
    {
        Ref<IPropertyBag> bag;
        VARIANT v;
        VariantInit(&v);
        GUID clsid = GUID_NULL;
        if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag))
                && SUCCEEDED(bag->Read(L"guid", &v, NULL)))
            CLSIDFromString(V_BSTR(&v), &clsid);
        VariantClear(&v);
        m->Release();
        if (IsEqualGUID(clsid, CLSID_DxtKey) || IsEqualGUID(clsid, GUID_NULL)) continue;

        // red below for 4 s; blue from 1 s with the transition over 1..3 s
        Tl t;
        Ref<IAMTimelineObj> group, lower, upper;
        ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &group));
        ASSERT_EQ(S_OK, t.AddTrack(group, -1, &lower));
        ASSERT_EQ(S_OK, t.AddTrack(group, -1, &upper));
        ASSERT_EQ(S_OK, t.AddSource(lower, "red.avi", 0, 4 * S, 0, 4 * S));
        ASSERT_EQ(S_OK, t.AddSource(upper, "blue.avi", 1 * S, 4 * S, 0, 3 * S));
        ASSERT_EQ(S_OK, t.AddTransition(upper, clsid, 1 * S, 3 * S));
        WCHAR text[40];
        StringFromGUID2(clsid, text, 40);
        char name[64];
        WideCharToMultiByte(CP_ACP, 0, text, -1, name, sizeof(name), NULL, NULL);
        ASSERT_EQ(S_OK, render(t.tl, "transition.avi")) << name;
        double begin = blue_share(frame_at("transition.avi", 1.0));
        double middle = blue_share(frame_at("transition.avi", 2.0));
        double end = blue_share(frame_at("transition.avi", 3.4));
        EXPECT_LT(begin, 0.15) << name << ": the clip shows at the transition's start";
        // shapes grow their area unevenly: half-way is some of each
        EXPECT_GT(middle, 0.15) << name << ": nothing revealed half-way";
        EXPECT_LT(middle, 0.85) << name << ": all revealed half-way";
        EXPECT_GT(end, 0.9) << name << ": the clip does not show after the transition";
        EXPECT_TRUE(is_red(pixel(frame_at("transition.avi", 0.5), 160, 120))) << name;
        tested++;
    }
    EXPECT_GE(tested, 1);
}

// The key shows the lower clip through the black pixels of the clip while it runs.
TEST(TimelineRender, KeyShowsLowerClipThroughBlack)
{
    Tl t;
    Ref<IAMTimelineObj> group, lower, upper;
    ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &group));
    ASSERT_EQ(S_OK, t.AddTrack(group, -1, &lower));
    ASSERT_EQ(S_OK, t.AddTrack(group, -1, &upper));
    ASSERT_EQ(S_OK, t.AddSource(lower, "red.avi", 0, 4 * S, 0, 4 * S));
    ASSERT_EQ(S_OK, t.AddSource(upper, "keyed.avi", 0, 4 * S, 0, 4 * S));
    ASSERT_EQ(S_OK, t.AddTransition(upper, CLSID_DxtKey, 0, 2 * S, true));
    ASSERT_EQ(S_OK, render(t.tl, "key.avi"));
    std::vector<unsigned char> keyed = frame_at("key.avi", 1.0), plain = frame_at("key.avi", 3.0);
    EXPECT_TRUE(is_white(pixel(keyed, 60, 120)));
    EXPECT_TRUE(is_red(pixel(keyed, 260, 120)));     // black keyed out: red below
    EXPECT_TRUE(is_white(pixel(plain, 60, 120)));
    EXPECT_TRUE(is_black(pixel(plain, 260, 120)));   // after the key, the clip as it is
}

/* ---- Sound ---- */

// Vol 1.0 at 1 s, falling to 0 at 1 + 3.1 s, the effect ending with the clip at 4 s.
TEST(TimelineRender, FadeOutFallsLinearlyPastTheClipEnd)
{
    Tl t;
    Ref<IAMTimelineObj> group, track;
    ASSERT_EQ(S_OK, t.Group(false, 2, 44100, 16, 0, &group));
    ASSERT_EQ(S_OK, t.AddTrack(group, -1, &track));
    ASSERT_EQ(S_OK, t.AddSource(track, "tone.wav", 0, 4 * S, 0, 4 * S));
    ASSERT_EQ(S_OK, t.AddFade(track, 1 * S, 4 * S, 3 * S + S / 10));
    ASSERT_EQ(S_OK, render(t.tl, "fade.wav", "wavenc"));
    double full = level("fade.wav", 0.2, 0.9);
    ASSERT_GT(full, 1000.0);
    EXPECT_NEAR(1.0 - 0.55 / 3.1, level("fade.wav", 1.5, 1.6) / full, 0.05);
    EXPECT_NEAR(1.0 - 1.55 / 3.1, level("fade.wav", 2.5, 2.6) / full, 0.05);
    EXPECT_NEAR(1.0 - 2.85 / 3.1, level("fade.wav", 3.8, 3.9) / full, 0.04);
    EXPECT_EQ(4L * 44100 * 4, wav_data_size(read_file(path("fade.wav"))));   // 4 s of 16-bit stereo

    // an envelope that ends before the clip: full level again after it
    Tl t2;
    Ref<IAMTimelineObj> g2, tr2;
    ASSERT_EQ(S_OK, t2.Group(false, 2, 44100, 16, 0, &g2));
    ASSERT_EQ(S_OK, t2.AddTrack(g2, -1, &tr2));
    ASSERT_EQ(S_OK, t2.AddSource(tr2, "tone.wav", 0, 4 * S, 0, 4 * S));
    ASSERT_EQ(S_OK, t2.AddFade(tr2, 1 * S, 2 * S, 2 * S));
    ASSERT_EQ(S_OK, render(t2.tl, "fade2.wav", "wavenc"));
    EXPECT_NEAR(0.75, level("fade2.wav", 1.45, 1.55) / full, 0.05);
    EXPECT_NEAR(1.0, level("fade2.wav", 2.5, 3.0) / full, 0.05);

    // default fade start: the effect has no length and changes nothing
    Tl t3;
    Ref<IAMTimelineObj> g3, tr3;
    ASSERT_EQ(S_OK, t3.Group(false, 2, 44100, 16, 0, &g3));
    ASSERT_EQ(S_OK, t3.AddTrack(g3, -1, &tr3));
    ASSERT_EQ(S_OK, t3.AddSource(tr3, "tone.wav", 0, 4 * S, 0, 4 * S));
    ASSERT_EQ(S_OK, t3.AddFade(tr3, 4 * S, 4 * S, S / 10));
    ASSERT_EQ(S_OK, render(t3.tl, "fade3.wav", "wavenc"));
    EXPECT_NEAR(1.0, level("fade3.wav", 3.5, 3.95) / full, 0.05);
}

/* ---- Stills and gaps ---- */

// A picture from 0.5 to 2.5 s, a gap, a movie from 3 to 4 s; sound only with the movie.
TEST(TimelineRender, StillHeldForItsLengthAndGapsBlackAndSilent)
{
    for (const char *ext : {"jpg", "bmp", "gif", "tga"})
    {
        std::string still = std::string("green.") + ext;
        Tl t;
        Ref<IAMTimelineObj> audio, video, vtrack, atrack;
        ASSERT_EQ(S_OK, t.Group(false, 2, 44100, 16, 15, &audio));
        ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &video));
        ASSERT_EQ(S_OK, t.AddTrack(video, -1, &vtrack));
        ASSERT_EQ(S_OK, t.AddTrack(audio, -1, &atrack));
        ASSERT_EQ(S_OK, t.AddSource(vtrack, still, S / 2, S * 5 / 2, 0, 2 * S)) << still;
        ASSERT_EQ(S_OK, t.AddSource(vtrack, "blue.avi", 3 * S, 4 * S, 0, 1 * S));
        ASSERT_EQ(S_OK, t.AddSource(atrack, "blue.avi", 3 * S, 4 * S, 0, 1 * S));
        ASSERT_EQ(S_OK, render(t.tl, "still.avi")) << still;
        EXPECT_TRUE(is_black(pixel(frame_at("still.avi", 0.2), 160, 120))) << still;
        EXPECT_TRUE(is_green(pixel(frame_at("still.avi", 0.6), 160, 120))) << still;
        EXPECT_TRUE(is_green(pixel(frame_at("still.avi", 2.4), 40, 40))) << still;
        EXPECT_TRUE(is_black(pixel(frame_at("still.avi", 2.7), 160, 120))) << still;
        EXPECT_TRUE(is_blue(pixel(frame_at("still.avi", 3.5), 160, 120))) << still;
        EXPECT_LT(level("still.avi", 0.0, 2.9), 30.0) << still;
        EXPECT_GT(level("still.avi", 3.1, 3.9), 1000.0) << still;
        EXPECT_NEAR(60, probe("still.avi", "stream=nb_read_frames"), 1) << still;
    }
    // a picture shown twice, then rewritten on disk: the next render shows it as it is now
    for (const char *colour : {"red", "blue"})
    {
        ASSERT_TRUE(ffmpeg(std::string("-f lavfi -i color=") + colour + ":size=160x120 -frames:v 1", "changing.jpg"));
        Tl t;
        Ref<IAMTimelineObj> video, vtrack;
        ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &video));
        ASSERT_EQ(S_OK, t.AddTrack(video, -1, &vtrack));
        ASSERT_EQ(S_OK, t.AddSource(vtrack, "changing.jpg", 0, S, 0, S));
        ASSERT_EQ(S_OK, t.AddSource(vtrack, "changing.jpg", S, 2 * S, 0, S));
        ASSERT_EQ(S_OK, render(t.tl, "changing.avi"));
        for (double at : {0.5, 1.5})
        {
            Rgb c = pixel(frame_at("changing.avi", at), 160, 120);
            EXPECT_TRUE(*colour == 'r' ? is_red(c) : is_blue(c)) << colour << " at " << at;
        }
    }
}

/* ---- Formats and cuts ---- */

TEST(TimelineRender, GroupFormatsAsSet)
{
    // 16-bit 320x240: the pin delivers RGB 5:5:5 with 153,600-byte pictures
    Tl t;
    Ref<IAMTimelineObj> group, track;
    ASSERT_EQ(S_OK, t.Group(true, 320, 240, 16, 15, &group));
    ASSERT_EQ(S_OK, t.AddTrack(group, -1, &track));
    ASSERT_EQ(S_OK, t.AddSource(track, "red.avi", 0, 2 * S, 0, 2 * S));
    Ref<IRenderEngine> engine;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
    ASSERT_EQ(S_OK, engine->ConnectFrontEnd());
    Ref<IPin> pin;
    ASSERT_EQ(S_OK, engine->GetGroupOutputPin(0, &pin));
    Ref<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
    AM_MEDIA_TYPE *mt = NULL;
    ASSERT_EQ(S_OK, types->Next(1, &mt, NULL));
    EXPECT_TRUE(IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB555));
    EXPECT_EQ(153600, (LONG)mt->lSampleSize);
    ASSERT_EQ(sizeof(VIDEOINFOHEADER), mt->cbFormat);
    EXPECT_EQ(153600u, ((VIDEOINFOHEADER *)mt->pbFormat)->bmiHeader.biSizeImage);
    CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
    engine->ScrapIt();
    // the 5:5:5 pictures keep their colour on the way
    ASSERT_EQ(S_OK, render(t.tl, "rgb555.avi"));
    EXPECT_TRUE(is_red(pixel(frame_at("rgb555.avi", 1.0), 160, 120)));

    // 24-bit at width 321: raw pictures of 964-byte rows
    Tl t2;
    Ref<IAMTimelineObj> g2, tr2;
    ASSERT_EQ(S_OK, t2.Group(true, 321, 240, 24, 15, &g2));
    ASSERT_EQ(S_OK, t2.AddTrack(g2, -1, &tr2));
    ASSERT_EQ(S_OK, t2.AddSource(tr2, "blue.avi", 0, 1 * S, 0, 1 * S));
    ASSERT_EQ(S_OK, render(t2.tl, "rgb24.avi", "avimux", "identity"));
    std::string sizes = capture("ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 '" +
                                path("rgb24.avi") + "'");
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(964 * 240, atoi(sizes.c_str()));
    EXPECT_EQ(321, (int)probe("rgb24.avi", "stream=width"));
    EXPECT_TRUE(is_blue(pixel(frame_at("rgb24.avi", 0.5, 321, 240), 300, 120, 321)));

    // a 4:3 source fills a wide group from edge to edge
    Tl t3;
    Ref<IAMTimelineObj> g3, tr3;
    ASSERT_EQ(S_OK, t3.Group(true, 640, 240, 24, 15, &g3));
    ASSERT_EQ(S_OK, t3.AddTrack(g3, -1, &tr3));
    ASSERT_EQ(S_OK, t3.AddSource(tr3, "red.avi", 0, 1 * S, 0, 1 * S));
    ASSERT_EQ(S_OK, render(t3.tl, "wide.avi"));
    std::vector<unsigned char> wide = frame_at("wide.avi", 0.5, 640, 240);
    EXPECT_TRUE(is_red(pixel(wide, 4, 120, 640)));
    EXPECT_TRUE(is_red(pixel(wide, 635, 120, 640)));
}

// The frame that ffmpeg shows of a file at time t, as the two gray levels of the frame code.
std::pair<int, int> code_at(const std::string &file, double t)
{
    std::vector<unsigned char> f = frame_at(file, t);
    Rgb l = pixel(f, 80, 120), h = pixel(f, 240, 120);
    return {l.g, h.g};
}

// The codes of every frame of a file, in order.
std::vector<std::pair<int, int>> codes(const std::string &file)
{
    std::vector<std::pair<int, int>> out;
    std::string raw = folder + "/all.gray";
    unlink(raw.c_str());
    if (!sh("ffmpeg -v error -nostdin -y -i '" + path(file) + "' -f rawvideo -pix_fmt rgb24 '" + raw + "'")) return out;
    std::vector<unsigned char> d = read_file(raw);
    for (size_t at = 0; at + W * H * 3 <= d.size(); at += W * H * 3)
        out.push_back({d[at + (120 * W + 80) * 3 + 1], d[at + (120 * W + 240) * 3 + 1]});
    return out;
}

int code_distance(std::pair<int, int> a, std::pair<int, int> b) { return abs(a.first - b.first) + abs(a.second - b.second); }

// Snipwell's cut: one group per stream, the track at priority 0, the section from timeline time 0.
void cut(const std::string &file, double fps, LONGLONG from, LONGLONG to, const std::string &out)
{
    Tl t;
    Ref<IAMTimelineObj> group, track;
    ASSERT_EQ(S_OK, t.Group(true, W, H, 24, fps, &group));
    ASSERT_EQ(S_OK, t.AddTrack(group, 0, &track));
    ASSERT_EQ(S_OK, t.AddSource(track, file, 0, to - from, from, to));
    ASSERT_EQ(S_OK, render(t.tl, out));
}

TEST(TimelineRender, CutStartsWithTheFrameAtItsStart)
{
    cut("ids.avi", 15, 3 * S, 10 * S, "cut.avi");
    EXPECT_NEAR(7.0, probe("cut.avi", "format=duration"), 0.01);
    EXPECT_EQ(105, (int)probe("cut.avi", "stream=nb_read_frames"));
    auto first = code_at("cut.avi", 0.0);
    EXPECT_LE(code_distance(first, code_at("ids.avi", 3.0)), 8);
    EXPECT_GT(code_distance(first, code_at("ids.avi", 3.0 - 1 / 15.0)), 8);
    EXPECT_GT(code_distance(first, code_at("ids.avi", 3.0 + 1 / 15.0)), 8);
    EXPECT_LE(code_distance(code_at("cut.avi", 6.0), code_at("ids.avi", 9.0)), 8);

    // an MPEG program stream cannot be positioned exactly, and still starts at 3.0 s
    cut("ids.mpg", 25, 3 * S, 10 * S, "cutmpg.avi");
    EXPECT_NEAR(7.0, probe("cutmpg.avi", "format=duration"), 0.05);
    std::vector<std::pair<int, int>> source = codes("ids.mpg");
    ASSERT_GT(source.size(), 200u);
    auto nearest = [&](std::pair<int, int> c) {
        size_t best = 0;
        for (size_t k = 1; k < source.size(); k++)
            if (code_distance(c, source[k]) < code_distance(c, source[best])) best = k;
        return best / 25.0;
    };
    EXPECT_NEAR(3.0, nearest(code_at("cutmpg.avi", 0.0)), 0.041);
    EXPECT_NEAR(7.0, nearest(code_at("cutmpg.avi", 4.0)), 0.081);
}

// A file written over between two renders is read as it is now.
TEST(TimelineRender, FileWrittenOverIsReadAfresh)
{
    ASSERT_TRUE(ffmpeg("-f lavfi -i color=green:size=320x240:rate=15 -t 1 -c:v mjpeg -q:v 3", "swap.avi"));
    for (int round = 0; round < 2; round++)
    {
        Tl t;
        Ref<IAMTimelineObj> group, track;
        ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &group));
        ASSERT_EQ(S_OK, t.AddTrack(group, -1, &track));
        ASSERT_EQ(S_OK, t.AddSource(track, "swap.avi", 0, 3 * S, 0, 3 * S));
        ASSERT_EQ(S_OK, render(t.tl, "swapped.avi"));
        EXPECT_TRUE(is_black(pixel(frame_at("swapped.avi", 2.5), 160, 120)) == (round == 0)) << "round " << round;
        // now 4 s of red
        ASSERT_TRUE(sh("cp '" + path("red.avi") + "' '" + path("swap.avi") + "'"));
    }
}

/* ---- Errors ---- */

TEST(TimelineRender, BadTimelinesFailCleanly)
{
    Ref<IRenderEngine> engine;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    EXPECT_TRUE(FAILED(engine->ConnectFrontEnd()));   // no timeline

    {   // missing source file
        Tl t;
        Ref<IAMTimelineObj> group, track;
        ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &group));
        ASSERT_EQ(S_OK, t.AddTrack(group, -1, &track));
        ASSERT_EQ(S_OK, t.AddSource(track, "nothere.avi", 0, 2 * S, 0, 2 * S));
        ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), engine->ConnectFrontEnd());
        Ref<IPin> pin;
        EXPECT_NE(S_OK, engine->GetGroupOutputPin(0, &pin));
    }
    {   // not media at all
        Tl t;
        Ref<IAMTimelineObj> group, track;
        ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &group));
        ASSERT_EQ(S_OK, t.AddTrack(group, -1, &track));
        ASSERT_EQ(S_OK, t.AddSource(track, "broken.avi", 0, 2 * S, 0, 2 * S));
        ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
        EXPECT_TRUE(FAILED(engine->ConnectFrontEnd()));
    }
    {   // groups without tracks, and no groups at all
        Tl t;
        ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
        EXPECT_TRUE(FAILED(engine->ConnectFrontEnd()));
        Ref<IAMTimelineObj> audio, video;
        ASSERT_EQ(S_OK, t.Group(false, 2, 44100, 16, 0, &audio));
        ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &video));
        EXPECT_TRUE(FAILED(engine->ConnectFrontEnd()));
    }
    {   // media types the platform cannot deliver
        Tl t;
        Ref<IAMTimelineObj> node;
        Ref<IAMTimelineGroup> group;
        ASSERT_EQ(S_OK, t.tl->CreateEmptyNode(&node, TIMELINE_MAJOR_TYPE_GROUP));
        ASSERT_EQ(S_OK, node->QueryInterface(IID_IAMTimelineGroup, (void **)&group));
        VIDEOINFOHEADER vih = {};
        vih.bmiHeader.biSize = 40;
        vih.bmiHeader.biWidth = 320;
        vih.bmiHeader.biHeight = 240;
        vih.bmiHeader.biBitCount = 24;
        vih.bmiHeader.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
        AM_MEDIA_TYPE mt = {};
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = MEDIASUBTYPE_MJPG;
        mt.formattype = FORMAT_VideoInfo;
        mt.cbFormat = sizeof(vih);
        mt.pbFormat = (BYTE *)&vih;
        EXPECT_TRUE(FAILED(group->SetMediaType(&mt)));
        WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 44100, 44100 * 3, 3, 12, 0};
        mt.majortype = MEDIATYPE_Audio;
        mt.subtype = MEDIASUBTYPE_PCM;
        mt.formattype = FORMAT_WaveFormatEx;
        mt.cbFormat = 18;
        mt.pbFormat = (BYTE *)&wfx;
        EXPECT_TRUE(FAILED(group->SetMediaType(&mt)));
        // a group left without a type: nothing to deliver
        ASSERT_EQ(S_OK, t.tl->AddGroup(node));
        Ref<IAMTimelineObj> track;
        ASSERT_EQ(S_OK, t.AddTrack(node, -1, &track));
        ASSERT_EQ(S_OK, t.AddSource(track, "red.avi", 0, 2 * S, 0, 2 * S));
        ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, engine->ConnectFrontEnd());
    }
    engine->ScrapIt();
}

/* ---- Through the filter graph, as the programs write their files ---- */

HRESULT run_graph(IRenderEngine *engine, LONG *code)
{
    Ref<IGraphBuilder> graph;
    Ref<IMediaControl> control;
    Ref<IMediaEvent> event;
    HRESULT hr;
    if (FAILED(hr = engine->GetFilterGraph(&graph))) return hr;
    if (FAILED(hr = graph->QueryInterface(IID_IMediaControl, (void **)&control))) return hr;
    if (FAILED(hr = graph->QueryInterface(IID_IMediaEvent, (void **)&event))) return hr;
    if (FAILED(hr = control->Run())) return hr;
    hr = event->WaitForCompletion(30000, code);
    control->Stop();
    return hr;
}

TEST(TimelineGraph, ExportToAviThroughTheGraph)
{
    Tl t;
    Ref<IAMTimelineObj> audio, video, vt1, vt2, at;
    ASSERT_EQ(S_OK, t.Group(false, 2, 44100, 16, 15, &audio));
    ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &video));
    ASSERT_EQ(S_OK, t.AddTrack(audio, -1, &at));
    ASSERT_EQ(S_OK, t.AddTrack(video, -1, &vt1));
    ASSERT_EQ(S_OK, t.AddTrack(video, -1, &vt2));
    ASSERT_EQ(S_OK, t.AddSource(vt1, "red.avi", 0, 3 * S, 0, 3 * S));
    ASSERT_EQ(S_OK, t.AddSource(vt2, "blue.avi", 1 * S, 3 * S, 0, 2 * S));
    ASSERT_EQ(S_OK, t.AddSource(at, "tone.wav", 0, 3 * S, 0, 3 * S));

    Ref<IRenderEngine> engine;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
    ASSERT_EQ(S_OK, engine->ConnectFrontEnd());
    Ref<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, engine->GetFilterGraph(&graph));
    for (LONG i = 0; i < 2; i++)
    {
        Ref<IPin> pin;
        Ref<IPlatformPin> mine;
        ASSERT_EQ(S_OK, engine->GetGroupOutputPin(i, &pin));
        ASSERT_EQ(S_OK, pin->QueryInterface(IID_IPlatformPin, (void **)&mine));
        EXPECT_EQ(i, mine->GetStreamIndex());
        Ref<IPlatformSourceElement> element;
        EXPECT_EQ(S_OK, mine->GetOwner()->QueryInterface(IID_IPlatformSourceElement, (void **)&element));
    }
    Ref<IPin> none;
    EXPECT_NE(S_OK, engine->GetGroupOutputPin(2, &none));

    // the AVI chain: multiplexer and writer for the path, each group's pin into it
    Ref<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                     (void **)&builder));
    ASSERT_EQ(S_OK, builder->SetFiltergraph(graph));
    Ref<IBaseFilter> mux;
    std::u16string out = dos("graph.avi");
    ASSERT_EQ(S_OK, builder->SetOutputFileName(&MEDIASUBTYPE_Avi, reinterpret_cast<const WCHAR *>(out.c_str()), &mux, NULL));
    for (LONG i = 0; i < 2; i++)
    {
        Ref<IPin> pin;
        ASSERT_EQ(S_OK, engine->GetGroupOutputPin(i, &pin));
        if (FAILED(builder->RenderStream(NULL, &MEDIATYPE_Video, pin, NULL, mux)))
        {
            EXPECT_EQ(S_OK, builder->RenderStream(NULL, NULL, pin, NULL, mux));
        }
    }
    LONG code = 0;
    ASSERT_EQ(S_OK, run_graph(engine, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    engine->ScrapIt();
    EXPECT_TRUE(is_red(pixel(frame_at("graph.avi", 0.5), 160, 120)));
    EXPECT_TRUE(is_blue(pixel(frame_at("graph.avi", 2.0), 160, 120)));
    EXPECT_NEAR(3.0, probe("graph.avi", "format=duration"), 0.07);
    EXPECT_GT(level("graph.avi", 0.5, 2.5), 1000.0);
}

// Sequora's audio-only export: 22,050 Hz mono 16-bit through WavDest, exactly the timeline's length.
TEST(TimelineGraph, AudioOnlyWavIsExactlyTheTimelinesLength)
{
    Tl t;
    Ref<IAMTimelineObj> audio, track;
    ASSERT_EQ(S_OK, t.Group(false, 1, 22050, 16, 15, &audio));
    ASSERT_EQ(S_OK, t.AddTrack(audio, -1, &track));
    ASSERT_EQ(S_OK, t.AddSource(track, "tone.wav", S / 2, S * 5 / 2, 0, 2 * S));

    Ref<IRenderEngine> engine;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
    ASSERT_EQ(S_OK, engine->ConnectFrontEnd());
    Ref<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, engine->GetFilterGraph(&graph));
    Ref<IBaseFilter> wavdest, writer_filter;
    Ref<IFileSinkFilter2> writer;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WavDest, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&wavdest));
    ASSERT_EQ(S_OK, graph->AddFilter(wavdest, L"WavDest"));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FileWriter, NULL, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2, (void **)&writer));
    ASSERT_EQ(S_OK, writer->SetMode(AM_FILE_OVERWRITE));
    ASSERT_EQ(S_OK, writer->QueryInterface(IID_IBaseFilter, (void **)&writer_filter));
    ASSERT_EQ(S_OK, graph->AddFilter(writer_filter, L"FileWriter"));
    std::u16string out = dos("only.wav");
    ASSERT_EQ(S_OK, writer->SetFileName(reinterpret_cast<const WCHAR *>(out.c_str()), NULL));
    Ref<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                     (void **)&builder));
    ASSERT_EQ(S_OK, builder->SetFiltergraph(graph));
    Ref<IPin> pin;
    ASSERT_EQ(S_OK, engine->GetGroupOutputPin(0, &pin));
    ASSERT_EQ(S_OK, builder->RenderStream(NULL, NULL, pin, wavdest, writer_filter));
    LONG code = 0;
    ASSERT_EQ(S_OK, run_graph(engine, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    engine->ScrapIt();
    EXPECT_EQ(2L * 22050 * 2 + 22050, wav_data_size(read_file(path("only.wav"))));   // 2.5 s
    EXPECT_LT(level("only.wav", 0.0, 0.45), 30.0);
    EXPECT_GT(level("only.wav", 0.6, 2.4), 1000.0);
}

// Preview: every group's pin goes to a renderer, and the graph plays the timeline to its end.
TEST(TimelineGraph, PreviewRendersEveryGroup)
{
    Tl t;
    Ref<IAMTimelineObj> audio, video, vt, at;
    ASSERT_EQ(S_OK, t.Group(false, 2, 44100, 16, 15, &audio));
    ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &video));
    ASSERT_EQ(S_OK, t.AddTrack(audio, -1, &at));
    ASSERT_EQ(S_OK, t.AddTrack(video, -1, &vt));
    ASSERT_EQ(S_OK, t.AddSource(vt, "blue.avi", 0, S, 0, S));
    ASSERT_EQ(S_OK, t.AddSource(at, "tone.wav", 0, S, 0, S));
    Ref<IRenderEngine> engine;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
    ASSERT_EQ(S_OK, engine->ConnectFrontEnd());
    ASSERT_EQ(S_OK, engine->RenderOutputPins());
    for (LONG i = 0; i < 2; i++)
    {
        Ref<IPin> pin, peer;
        ASSERT_EQ(S_OK, engine->GetGroupOutputPin(i, &pin));
        EXPECT_EQ(S_OK, pin->ConnectedTo(&peer)) << "group " << i;
    }
    LONG code = 0;
    DWORD begin = GetTickCount();
    ASSERT_EQ(S_OK, run_graph(engine, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_GE(GetTickCount() - begin, 800u);   // played in real time, not written out
    Ref<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, engine->GetFilterGraph(&graph));
    engine->ScrapIt();
    // the engine lets go of its graph and empties it: no graph is S_OK and NULL
    Ref<IGraphBuilder> gone;
    EXPECT_EQ(S_OK, engine->GetFilterGraph(&gone));
    EXPECT_EQ(nullptr, gone.p);
    Ref<IEnumFilters> filters;
    ASSERT_EQ(S_OK, graph->EnumFilters(&filters));
    IBaseFilter *f = NULL;
    EXPECT_NE(S_OK, filters->Next(1, &f, NULL));
    if (f) f->Release();
}

// A source that disappears after the front end was built ends the run with an error, not a hang.
TEST(TimelineGraph, SourceGoneAtRunTimeEndsInError)
{
    ASSERT_TRUE(sh("cp '" + path("red.avi") + "' '" + path("gone.avi") + "'"));
    Tl t;
    Ref<IAMTimelineObj> video, vt;
    ASSERT_EQ(S_OK, t.Group(true, W, H, 24, 15, &video));
    ASSERT_EQ(S_OK, t.AddTrack(video, -1, &vt));
    ASSERT_EQ(S_OK, t.AddSource(vt, "gone.avi", 0, 2 * S, 0, 2 * S));
    Ref<IRenderEngine> engine;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    ASSERT_EQ(S_OK, engine->SetTimelineObject(t.tl));
    ASSERT_EQ(S_OK, engine->ConnectFrontEnd());
    Ref<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, engine->GetFilterGraph(&graph));
    Ref<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                     (void **)&builder));
    ASSERT_EQ(S_OK, builder->SetFiltergraph(graph));
    Ref<IBaseFilter> mux;
    std::u16string out = dos("gone-out.avi");
    ASSERT_EQ(S_OK, builder->SetOutputFileName(&MEDIASUBTYPE_Avi, reinterpret_cast<const WCHAR *>(out.c_str()), &mux, NULL));
    Ref<IPin> pin;
    ASSERT_EQ(S_OK, engine->GetGroupOutputPin(0, &pin));
    ASSERT_EQ(S_OK, builder->RenderStream(NULL, &MEDIATYPE_Video, pin, NULL, mux));
    ASSERT_EQ(0, unlink(path("gone.avi").c_str()));
    LONG code = 0;
    HRESULT hr = run_graph(engine, &code);
    EXPECT_TRUE(FAILED(hr) || code == EC_ERRORABORT) << std::hex << hr << " event " << code;
    engine->ScrapIt();
}

}  // namespace
