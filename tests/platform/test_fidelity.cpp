// Written files: faithful to their sources, never written over a source, never left half-written.
// Every listed video compressor (and none) goes through both routes, the filter graph as the converter
// uses it and the render engine as the editor and the cutter use it, over a full-range and a
// limited-range source. The sources are drawn here: four flat colour patches and the frame's number as
// eight black or white blocks. What comes out is read back as a viewer sees it (ffmpeg to RGB): the
// patches' colours, the number of frames and which source frame each shows, the sound's samples and tone.
#include <windows.h>
#include <dshow.h>
#include <mmreg.h>
#include "editing_services.h"
#include "gtest_win.h"
#include "comref.h"
#include "mediaprobe.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const int W = 320, H = 240, FPS = 25, FRAMES = 50, RATE = 44100;
const LONGLONG S = 10000000;
const int BITS = 8, BIT_W = W / BITS, BIT_H = 40;

struct Rgb { int r, g, b; };
// dark, light, red, blue: levels that a range mix-up moves by 10 or more
const Rgb PATCHES[4] = {{24, 24, 24}, {230, 230, 230}, {200, 50, 40}, {40, 70, 190}};

std::string folder;
std::string path(const std::string &name) { return folder + "/" + name; }

const WCHAR *dos(const std::string &name, std::u16string &keep)
{
    WCHAR *d = wine_get_dos_file_name(path(name).c_str());
    keep = d ? reinterpret_cast<const char16_t *>(d) : u"";
    HeapFree(GetProcessHeap(), 0, d);
    return reinterpret_cast<const WCHAR *>(keep.c_str());
}

// ---- Sources ----

// The picture of frame n: its number in the top band, the patches below.
std::vector<unsigned char> draw_frame(int n)
{
    std::vector<unsigned char> f(W * H * 3);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
        {
            Rgb c;
            if (y < BIT_H)
                c = (n >> (x / BIT_W)) & 1 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
            else
                c = PATCHES[(x >= W / 2) + 2 * (y >= BIT_H + (H - BIT_H) / 2)];
            unsigned char *p = &f[(y * W + x) * 3];
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
        }
    return f;
}

// ffmpeg's moving test picture of a size and rate ("320x240:rate=25"), with a 440 Hz tone when asked,
// encoded with the given options: "" when it was made, else what ffmpeg said.
std::string make_test_picture(const std::string &name, const std::string &picture, const std::string &options,
                              bool tone = false)
{
    return probe::Run("ffmpeg -v error -f lavfi -i testsrc=size=" + picture + (tone ? " -f lavfi -i sine=f=440" : "")
                      + " " + options + " '" + path(name) + "' 2>&1");
}

// Frames drawn here, with a 440 Hz tone, encoded by ffmpeg with the given video options.
bool make_movie(const std::string &name, const std::string &video_options)
{
    std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 320x240 -r 25 -i - -f lavfi -i "
                      "sine=f=440:sample_rate=44100 -t 2 " + video_options + " -c:a pcm_s16le -ac 2 '" + path(name) + "'";
    FILE *p = popen(cmd.c_str(), "w");
    if (!p) return false;
    for (int n = 0; n < FRAMES; n++)
    {
        std::vector<unsigned char> f = draw_frame(n);
        fwrite(f.data(), 1, f.size(), p);
    }
    return pclose(p) == 0;
}

class Media : public ::testing::Environment
{
public:
    void SetUp() override
    {
        CoInitializeEx(NULL, COINIT_MULTITHREADED);
        char tmpl[] = "/tmp/fidelity-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        folder = tmpl;
        // cameras write Motion JPEG in full range; raw 4:2:0 is limited range
        ASSERT_TRUE(make_movie("full.avi", "-c:v mjpeg -pix_fmt yuvj420p -q:v 2"));
        ASSERT_TRUE(make_movie("limited.avi", "-c:v rawvideo -pix_fmt yuv420p"));
        // a quiet old 8-bit sound, and a tone at another rate than the output's
        probe::Run("ffmpeg -v error -f lavfi -i 'sine=f=440:sample_rate=22050,volume=0.4' -t 2 -c:a pcm_u8 '" + path("quiet8.wav") + "'");
        probe::Run("ffmpeg -v error -f lavfi -i 'sine=f=660:sample_rate=48000' -t 3 -c:a pcm_s16le '" + path("tone48.wav") + "'");
    }
    void TearDown() override
    {
        // FIDELITY_KEEP=1 keeps the files for a look
        if (!folder.empty() && !getenv("FIDELITY_KEEP")) probe::Run("rm -rf '" + folder + "'");
        CoUninitialize();
    }
};
::testing::Environment *const media = ::testing::AddGlobalTestEnvironment(new Media);

// ---- What a viewer sees ----

struct Picture
{
    int frames = 0;
    std::vector<int> numbers;     // the number each frame shows, -1 where the band is unreadable
    double patch[4][3] = {};      // mean colour of each patch over all frames
};

Picture look(const std::string &name)
{
    Picture pic;
    // a format of fixed frame sizes (DV) is seen at the source's size, as a player fits it to a window
    std::string raw = probe::Run("ffmpeg -v error -i '" + path(name) + "' -map 0:v:0 -vf scale=" + std::to_string(W) + ":"
                                 + std::to_string(H) + " -f rawvideo -pix_fmt rgb24 -");
    size_t size = (size_t)W * H * 3;
    pic.frames = (int)(raw.size() / size);
    for (int n = 0; n < pic.frames; n++)
    {
        const unsigned char *f = (const unsigned char *)raw.data() + n * size;
        int number = 0;
        for (int b = 0; b < BITS && number >= 0; b++)
        {
            const unsigned char *p = f + ((BIT_H / 2) * W + b * BIT_W + BIT_W / 2) * 3;
            int level = (p[0] + p[1] + p[2]) / 3;
            if (level > 160) number |= 1 << b;
            else if (level > 96) number = -1;
        }
        pic.numbers.push_back(number);
        // each patch's middle, away from edges that chroma subsampling blurs
        for (int i = 0; i < 4; i++)
        {
            int x0 = (i & 1) * W / 2 + 30, y0 = BIT_H + (i >> 1) * (H - BIT_H) / 2 + 25;
            double sum[3] = {};
            for (int y = y0; y < y0 + 50; y++)
                for (int x = x0; x < x0 + 100; x++)
                    for (int c = 0; c < 3; c++) sum[c] += f[(y * W + x) * 3 + c];
            for (int c = 0; c < 3; c++) pic.patch[i][c] += sum[c] / 5000.0 / pic.frames;
        }
    }
    return pic;
}

double colour_error(const Picture &a, const Picture &b)
{
    double worst = 0;
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 3; c++) worst = fmax(worst, fabs(a.patch[i][c] - b.patch[i][c]));
    return worst;
}

// Samples per channel that ffmpeg decodes from the first audio stream.
long samples(const std::string &name)
{
    std::string raw = probe::Run("ffmpeg -v error -i '" + path(name) + "' -map 0:a:0 -f s16le -ac 1 -");
    return (long)(raw.size() / 2);
}

// What ffmpeg warns of while reading a file, less the guess it prints for every stereo WAVEFORMATEX
// (its own files included).
std::string warnings(const std::string &name)
{
    return probe::Run("ffmpeg -v warning -nostdin -i '" + path(name) + "' -f null - 2>&1 | grep -v '^Guessed Channel Layout'");
}

std::string file_bytes(const std::string &name)
{
    std::ifstream in(path(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- The two routes ----

IBaseFilter *compressor(const std::u16string &wanted, std::vector<std::u16string> *all)
{
    Ref<ICreateDevEnum> devenum;
    Ref<IEnumMoniker> monikers;
    IMoniker *m;
    IBaseFilter *found = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, (void **)&devenum))
            || devenum->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) != S_OK)
        return NULL;
    while (monikers->Next(1, &m, NULL) == S_OK)
    {
        Ref<IPropertyBag> bag;
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag))
                && SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)))
        {
            std::u16string name = reinterpret_cast<const char16_t *>(V_BSTR(&v));
            if (all) all->push_back(name);
            if (!found && name == wanted) m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&found);
        }
        VariantClear(&v);
        m->Release();
    }
    return found;
}

// Where a run reports it is, polled while it runs (when a test asks for it), and its duration.
struct Progress { std::vector<int64_t> positions; LONGLONG duration = -1; };
Progress *watched = NULL;

// Runs the graph to its end, or stops it after stop_ms: EC_COMPLETE and the like, 0 when it does not run,
// -1 when it was still running when stopped.
LONG run(IGraphBuilder *graph, DWORD stop_ms = INFINITE)
{
    Ref<IMediaControl> control;
    Ref<IMediaEvent> event;
    Ref<IMediaSeeking> seeking;
    LONG code = 0;
    if (!graph || FAILED(graph->QueryInterface(IID_IMediaControl, (void **)&control))
            || FAILED(graph->QueryInterface(IID_IMediaEvent, (void **)&event))
            || FAILED(graph->QueryInterface(IID_IMediaSeeking, (void **)&seeking)) || FAILED(control->Run()))
        return 0;
    if (stop_ms != INFINITE) Sleep(stop_ms);
    HRESULT hr;
    for (int waited = 0;; waited += 50)
    {
        bool last = stop_ms != INFINITE || waited >= 60000;
        hr = event->WaitForCompletion(last ? 0 : 50, &code);
        LONGLONG now = -1;
        if (watched && SUCCEEDED(seeking->GetCurrentPosition(&now))) watched->positions.push_back(now);
        if (hr != E_ABORT || last) break;
    }
    if (watched) seeking->GetDuration(&watched->duration);
    if (FAILED(hr)) code = hr == E_ABORT && stop_ms != INFINITE ? -1 : 0;
    control->Stop();
    return code;
}

// The converter's AVI graph: the file's pictures through the compressor (if any), its sound as it is.
IGraphBuilder *converter_graph(const std::string &source, IBaseFilter *enc, const std::string &out,
                               HRESULT *video = NULL)
{
    IGraphBuilder *graph = NULL;
    Ref<ICaptureGraphBuilder2> builder;
    Ref<IBaseFilter> src, mux;
    std::u16string a, b;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&graph)))
        return NULL;
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                (void **)&builder))
            || FAILED(builder->SetFiltergraph(graph))
            || FAILED(graph->AddSourceFilter(dos(source, a), L"Source Filter", &src))
            || (enc && FAILED(graph->AddFilter(enc, L"Video Compressor")))
            || FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dos(out, b), &mux, NULL)))
    {
        graph->Release();
        return NULL;
    }
    HRESULT hr = builder->RenderStream(NULL, &MEDIATYPE_Video, src, enc, mux);
    if (video) *video = hr;
    builder->RenderStream(NULL, &MEDIATYPE_Audio, src, NULL, mux);
    return graph;
}

LONG through_graph(const std::string &source, IBaseFilter *enc, const std::string &out)
{
    Ref<IGraphBuilder> graph;
    graph.p = converter_graph(source, enc, out);
    return run(graph);
}

struct Clip { const char *file; LONGLONG start, stop, mstart; };

struct Sound { int rate, bits, channels; };
Sound output_sound = {RATE, 16, 2};   // the audio group's format

HRESULT add_group(IAMTimeline *tl, bool video, IAMTimelineObj **out)
{
    Ref<IAMTimelineGroup> group;
    VIDEOINFOHEADER vih = {};
    vih.bmiHeader = {sizeof(BITMAPINFOHEADER), W, H, 1, 24, BI_RGB, W * H * 3};
    WORD align = (WORD)(output_sound.channels * output_sound.bits / 8);
    WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, (WORD)output_sound.channels, (DWORD)output_sound.rate,
                        (DWORD)(align * output_sound.rate), align, (WORD)output_sound.bits, 0};
    AM_MEDIA_TYPE mt = {video ? MEDIATYPE_Video : MEDIATYPE_Audio, video ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_PCM,
                        TRUE, FALSE, 0, video ? FORMAT_VideoInfo : FORMAT_WaveFormatEx, NULL,
                        video ? (ULONG)sizeof(vih) : (ULONG)sizeof(wfx), video ? (BYTE *)&vih : (BYTE *)&wfx};
    HRESULT hr = tl->CreateEmptyNode(out, TIMELINE_MAJOR_TYPE_GROUP);
    if (FAILED(hr)) return hr;
    (*out)->QueryInterface(IID_IAMTimelineGroup, (void **)&group);
    if (video) group->SetOutputFPS(FPS);
    if (FAILED(hr = group->SetMediaType(&mt))) return hr;
    return tl->AddGroup(*out);
}

HRESULT add_clips(IAMTimeline *tl, IAMTimelineObj *group, const std::vector<Clip> &clips)
{
    Ref<IAMTimelineObj> track;
    Ref<IAMTimelineComp> comp;
    Ref<IAMTimelineTrack> t;
    HRESULT hr;
    if (FAILED(hr = tl->CreateEmptyNode(&track, TIMELINE_MAJOR_TYPE_TRACK))
            || FAILED(hr = group->QueryInterface(IID_IAMTimelineComp, (void **)&comp))
            || FAILED(hr = comp->VTrackInsBefore(track, -1))
            || FAILED(hr = track->QueryInterface(IID_IAMTimelineTrack, (void **)&t)))
        return hr;
    for (const Clip &c : clips)
    {
        Ref<IAMTimelineObj> src;
        Ref<IAMTimelineSrc> s;
        std::u16string keep;
        if (FAILED(hr = tl->CreateEmptyNode(&src, TIMELINE_MAJOR_TYPE_SOURCE))) return hr;
        src->QueryInterface(IID_IAMTimelineSrc, (void **)&s);
        BSTR name = SysAllocString(dos(c.file, keep));
        hr = s->SetMediaName(name);
        SysFreeString(name);
        if (FAILED(hr) || FAILED(hr = src->SetStartStop(c.start, c.stop))
                || FAILED(hr = s->SetMediaTimes(c.mstart, c.mstart + c.stop - c.start)) || FAILED(hr = t->SrcAdd(src)))
            return hr;
    }
    return S_OK;
}

// The editor's and the cutter's output chains over a timeline: a video group when there are pictures,
// an audio group when there are sounds; AVI through the compressor, or (sound alone) WAV through WavDest.
LONG through_engine(const std::vector<Clip> &pictures, const std::vector<Clip> &sounds, IBaseFilter *enc,
                    const std::string &out)
{
    Ref<IAMTimeline> tl;
    Ref<IAMTimelineObj> video, audio;
    Ref<IRenderEngine> engine;
    Ref<IGraphBuilder> graph;
    Ref<ICaptureGraphBuilder2> builder;
    Ref<IBaseFilter> mux, wavdest;
    Ref<IFileSinkFilter2> writer;
    std::u16string keep;
    bool wav = pictures.empty();
    if (FAILED(CoCreateInstance(CLSID_AMTimeline, NULL, CLSCTX_INPROC_SERVER, IID_IAMTimeline, (void **)&tl))
            || (!wav && (FAILED(add_group(tl, true, &video)) || FAILED(add_clips(tl, video, pictures))))
            || (!sounds.empty() && (FAILED(add_group(tl, false, &audio)) || FAILED(add_clips(tl, audio, sounds))))
            || FAILED(CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine))
            || FAILED(engine->SetTimelineObject(tl)) || FAILED(engine->ConnectFrontEnd())
            || FAILED(engine->GetFilterGraph(&graph))
            || FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                       (void **)&builder))
            || FAILED(builder->SetFiltergraph(graph)))
        return 0;
    if (wav)
    {
        const GUID wavdest_clsid = {0x3c78b8e2, 0x6c4d, 0x11d1, {0xad, 0xe2, 0x00, 0x00, 0xf8, 0x75, 0x4b, 0x99}};
        Ref<IBaseFilter> sink;
        if (FAILED(CoCreateInstance(wavdest_clsid, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&wavdest))
                || FAILED(graph->AddFilter(wavdest, L"WavDest"))
                || FAILED(CoCreateInstance(CLSID_FileWriter, NULL, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2,
                                           (void **)&writer))
                || FAILED(writer->SetMode(AM_FILE_OVERWRITE))
                || FAILED(writer->QueryInterface(IID_IBaseFilter, (void **)&sink))
                || FAILED(graph->AddFilter(sink, L"FileWriter")) || FAILED(writer->SetFileName(dos(out, keep), NULL)))
            return 0;
        Ref<IPin> pin;
        if (engine->GetGroupOutputPin(0, &pin) != S_OK || FAILED(builder->RenderStream(NULL, NULL, pin, wavdest, sink)))
            return 0;
    }
    else
    {
        if ((enc && FAILED(graph->AddFilter(enc, L"Video Compressor")))
                || FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dos(out, keep), &mux, NULL)))
            return 0;
        for (LONG i = 0; i < 2; i++)
        {
            Ref<IPin> pin;
            if (engine->GetGroupOutputPin(i, &pin) != S_OK) continue;
            if (FAILED(builder->RenderStream(NULL, &MEDIATYPE_Video, pin, enc, mux)))
                builder->RenderStream(NULL, &MEDIATYPE_Audio, pin, NULL, mux);
        }
    }
    LONG code = run(graph);
    engine->ScrapIt();
    return code;
}

// ---- Every compressor, both routes, both ranges ----

// The FourCC players know each format by (BI_RGB without a compressor).
const struct { const char16_t *name; const char *fourcc; } FOURCCS[] = {
    {u"", "[0][0][0][0]"}, {u"Motion JPEG", "MJPG"}, {u"MPEG-4 Video Codec V3", "MP43"},
    {u"MPEG-4 Video Codec V2", "MP42"}, {u"MPEG-4 Part 2", "DX50"}, {u"WMVideo8 Encoder DMO", "WMV2"},
    {u"Huffyuv", "HFYU"}, {u"H.264", "H264"}, {u"VP8", "VP80"}, {u"Cinepak", "cvid"},
    {u"Microsoft Video 1", "CRAM"}, {u"DV", "dvsd"}, {u"FFV1 Lossless", "FFV1"}};

std::string stream_entry(const std::string &name, const std::string &entries)
{
    return probe::Run("ffprobe -v error -select_streams v:0 -show_entries " + entries + " -of csv=p=0 '" + path(name) + "'");
}

TEST(Fidelity, EveryCompressorKeepsColoursFramesAndSoundInBothRoutes)
{
    std::vector<std::u16string> names;
    IBaseFilter *none = compressor(u"", &names);
    ASSERT_EQ(none, (IBaseFilter *)NULL);
    ASSERT_FALSE(names.empty());
    names.insert(names.begin(), u"");   // no compressor

    const char *sources[2] = {"full.avi", "limited.avi"};
    Picture reference[2] = {look(sources[0]), look(sources[1])};
    for (int r = 0; r < 2; r++)
    {
        ASSERT_EQ(FRAMES, reference[r].frames) << sources[r];
        for (int n = 0; n < FRAMES; n++) ASSERT_EQ(n, reference[r].numbers[n]) << sources[r];
    }

    printf("%-24s %-6s %-8s %6s %6s %7s\n", "compressor", "route", "range", "colour", "frames", "samples");
    for (const std::u16string &name : names)
    {
        std::string label(name.begin(), name.end());
        if (label.empty()) label = "(none)";
        for (int route = 0; route < 2; route++)
            for (int r = 0; r < 2; r++)
            {
                Ref<IBaseFilter> enc;
                if (!name.empty()) { ASSERT_TRUE((enc.p = compressor(name, NULL)) != NULL) << label; }
                std::string out = "out-" + std::to_string(&name - &names[0]) + "-" + std::to_string(route) + "-"
                                + std::to_string(r) + ".avi";
                LONG code = route == 0 ? through_graph(sources[r], enc, out)
                                       : through_engine({{sources[r], 0, 2 * S, 0}}, {{sources[r], 0, 2 * S, 0}}, enc, out);
                SCOPED_TRACE(label + (route ? " render engine " : " filter graph ") + sources[r]);
                EXPECT_EQ(EC_COMPLETE, code);
                Picture pic = look(out);
                double error = colour_error(pic, reference[r]);
                long count = samples(out);
                printf("%-24s %-6s %-8s %6.1f %6d %7ld\n", label.c_str(), route ? "engine" : "graph",
                       r ? "limited" : "full", error, pic.frames, count);
                EXPECT_LE(error, 4.0);
                EXPECT_EQ(FRAMES, pic.frames);
                int wrong = 0;
                for (int n = 0; n < pic.frames; n++) wrong += pic.numbers[n] != n;
                EXPECT_EQ(0, wrong) << "frames showing another source frame";
                EXPECT_EQ(2 * RATE, count);
                EXPECT_EQ("", warnings(out));
                const char *fourcc = "(not in the table)";
                for (const auto &f : FOURCCS)
                    if (name == f.name) fourcc = f.fourcc;
                EXPECT_EQ(std::string(fourcc) + "\n", stream_entry(out, "stream=codec_tag_string"));
                EXPECT_EQ('K', stream_entry(out, "packet=flags")[0]) << "the first frame is not marked a key frame";
                if (name.empty()) {   // uncompressed: 24-bit RGB rows, as the group and the players expect
                    EXPECT_EQ("bgr24\n", probe::Run("ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt "
                                                  "-of default=nw=1:nk=1 '" + path(out) + "'"));
                }
            }
    }
}

// A still picture held for the clip's length through the render engine keeps its colours, with and
// without a compressor, whatever format the picture is stored in.
TEST(Fidelity, StillsKeepTheirColours)
{
    std::vector<unsigned char> f = draw_frame(5);
    for (const char *name : {"still.jpg", "still.png"})
    {
        FILE *p = popen(("ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 320x240 -i - -frames:v 1 -q:v 2 '" + path(name) + "'")
                            .c_str(), "w");
        ASSERT_TRUE(p != NULL);
        fwrite(f.data(), 1, f.size(), p);
        ASSERT_EQ(0, pclose(p)) << name;
    }
    printf("%-10s %-12s %6s %6s\n", "still", "compressor", "colour", "frames");
    for (const char *name : {"still.jpg", "still.png"})
        for (const char16_t *codec : {u"", u"Motion JPEG"})
        {
            std::string label(codec, codec + std::char_traits<char16_t>::length(codec));
            SCOPED_TRACE(std::string(name) + " " + label);
            Ref<IBaseFilter> enc;
            if (*codec) { ASSERT_TRUE((enc.p = compressor(codec, NULL)) != NULL); }
            EXPECT_EQ(EC_COMPLETE, through_engine({{name, 0, 2 * S, 0}}, {}, enc, "still-out.avi"));
            Picture reference = look(name), pic = look("still-out.avi");
            ASSERT_EQ(1, reference.frames);
            double error = colour_error(pic, reference);
            printf("%-10s %-12s %6.1f %6d\n", name, *codec ? label.c_str() : "(none)", error, pic.frames);
            EXPECT_LE(error, 4.0);
            EXPECT_EQ(FRAMES, pic.frames);
            int wrong = 0;
            for (int n = 0; n < pic.frames; n++) wrong += pic.numbers[n] != 5;
            EXPECT_EQ(0, wrong) << "frames showing another picture";
        }
}

// A size a format cannot hold is refused when the pins connect (the programs then say the file cannot be
// made) rather than failing the run; DV takes any picture, scaled into its frame of the source's rate.
TEST(Fidelity, EncodersTakeTheSizesTheirFormatHolds)
{
    // uncompressed 4:2:0 rows of exactly their width (322 and 161 bytes) as well
    for (const char *size : {"321x241", "322x242"})
        for (const char *codec : {"mjpeg -q:v 3 -pix_fmt yuvj420p", "rawvideo -pix_fmt yuv420p"})
            ASSERT_EQ("", make_test_picture(size + std::string(codec[0] == 'r' ? "raw" : "") + ".avi",
                                            size + std::string(":rate=30"), std::string("-t 0.4 -c:v ") + codec));
    const struct { const char16_t *name; const char *source; bool taken; const char *written; } cases[] = {
        {u"Cinepak", "322x242", false, ""}, {u"Microsoft Video 1", "322x242", false, ""},
        {u"H.264", "321x241", false, ""}, {u"Huffyuv", "321x241", false, ""},
        {u"WMVideo8 Encoder DMO", "321x241", false, ""}, {u"H.264", "322x242", true, "322,242,30/1\n"},
        {u"MPEG-4 Part 2", "321x241", true, "321,241,30/1\n"}, {u"FFV1 Lossless", "321x241", true, "321,241,30/1\n"},
        {u"DV", "321x241", true, "720,480,30000/1001\n"}, {u"MPEG-4 Part 2", "322x242raw", true, "322,242,30/1\n"},
        {u"H.264", "322x242raw", true, "322,242,30/1\n"}};
    for (const auto &c : cases)
    {
        std::string label(c.name, c.name + std::char_traits<char16_t>::length(c.name));
        SCOPED_TRACE(label + " " + c.source);
        Ref<IBaseFilter> enc;
        Ref<IGraphBuilder> graph;
        HRESULT hr = E_FAIL;
        ASSERT_TRUE((enc.p = compressor(c.name, NULL)) != NULL);
        ASSERT_TRUE((graph.p = converter_graph(std::string(c.source) + ".avi", enc, "sized.avi", &hr)) != NULL);
        EXPECT_EQ(c.taken, SUCCEEDED(hr)) << std::hex << hr;
        if (!c.taken || FAILED(hr)) continue;
        EXPECT_EQ(EC_COMPLETE, run(graph));
        EXPECT_EQ(c.written, stream_entry("sized.avi", "stream=width,height,r_frame_rate"));
        // the source's picture, not rows sheared across each other
        std::string psnr = probe::Run("ffmpeg -nostdin -i '" + path("sized.avi") + "' -i '" + path(std::string(c.source) + ".avi")
                                      + "' -lavfi '[0]scale=" + std::string(c.source).substr(0, 7) + ",format=rgb24,setsar=1[a];"
                                      "[1]format=rgb24,setsar=1[b];[a][b]psnr' "
                                      "-f null - 2>&1 | grep -o 'average:[0-9.inf]*' | cut -d: -f2");
        EXPECT_GT(atof(psnr.c_str()), 25.0) << psnr;
    }
}

// Quality, where a compressor has it, moves the file size.
TEST(Fidelity, QualityMovesTheFileSize)
{
    ASSERT_EQ("", make_test_picture("busy.avi", "320x240:rate=25", "-t 1 -c:v mjpeg -q:v 2"));
    std::vector<std::u16string> names;
    compressor(u"", &names);
    for (const std::u16string &name : names)
    {
        std::string label(name.begin(), name.end());
        Ref<IBaseFilter> enc;
        Ref<IAMVideoCompression> quality;
        LONG capabilities = 0;
        ASSERT_TRUE((enc.p = compressor(name, NULL)) != NULL) << label;
        if (FAILED(enc->QueryInterface(IID_IAMVideoCompression, (void **)&quality))
                || FAILED(quality->GetInfo(NULL, NULL, NULL, NULL, NULL, NULL, NULL, &capabilities))
                || !(capabilities & 1 /* CompressionCaps_CanQuality */))
        {
            printf("%-24s no quality setting\n", label.c_str());
            continue;
        }
        long size[2];
        for (int i = 0; i < 2; i++)
        {
            ASSERT_EQ(S_OK, quality->put_Quality(i ? 0.9 : 0.2)) << label;
            ASSERT_EQ(EC_COMPLETE, through_graph("busy.avi", enc, "quality.avi")) << label;
            size[i] = (long)file_bytes("quality.avi").size();
        }
        printf("%-24s quality 0.2: %8ld bytes, 0.9: %8ld bytes\n", label.c_str(), size[0], size[1]);
        EXPECT_LT(size[0] * 5 / 4, size[1]) << label;
    }
}

// A graph that writes a file tells how far it has written (its current position rises with the output
// to the duration), through the converter's graph and through the render engine, and from a start mark.
TEST(Fidelity, WritingGraphsReportTheirPosition)
{
    ASSERT_EQ("", make_test_picture("twenty.avi", "640x480:rate=25", "-t 20 -c:v mjpeg -q:v 3 -c:a pcm_s16le", true));
    Ref<IBaseFilter> mjpeg;
    ASSERT_TRUE((mjpeg.p = compressor(u"Motion JPEG", NULL)) != NULL);
    for (int route = 0; route < 2; route++)
    {
        SCOPED_TRACE(route ? "render engine" : "filter graph");
        Progress progress;
        watched = &progress;
        LONG code = route ? through_engine({{"twenty.avi", 0, 20 * S, 0}}, {{"twenty.avi", 0, 20 * S, 0}}, mjpeg, "position.avi")
                          : through_graph("twenty.avi", mjpeg, "position.avi");
        watched = NULL;
        ASSERT_EQ(EC_COMPLETE, code);
        EXPECT_NEAR(20.0, progress.duration / 1e7, 0.05);
        int between = 0;
        for (size_t i = 0; i < progress.positions.size(); i++)
        {
            LONGLONG now = progress.positions[i];
            between += now > S && now < 19 * S;
            EXPECT_LE(now, progress.duration + S / 10);
            if (i) { EXPECT_GE(now, progress.positions[i - 1]) << "the position went back"; }
        }
        EXPECT_GE(between, 3) << "the position did not follow the run";
        EXPECT_NEAR(20.0, progress.positions.back() / 1e7, 0.05) << "the end is not the duration";
    }
}

// Clips whose edges fall between frames: exactly round(length x rate) frames and samples, each frame the
// source picture of its time.
TEST(Fidelity, ClipsOffTheFrameGridGiveExactFramesAndSamples)
{
    const LONGLONG len = 102 * S / 100;   // 25.5 frames
    std::vector<Clip> clips;
    for (int i = 0; i < 4; i++) clips.push_back({"full.avi", i * len, (i + 1) * len, 0});
    ASSERT_EQ(EC_COMPLETE, through_engine(clips, clips, NULL, "grid.avi"));
    Picture pic = look("grid.avi");
    EXPECT_EQ(102, pic.frames);   // 4.08 s at 25 fps
    EXPECT_EQ(179928, samples("grid.avi"));
    int wrong = 0;
    for (int k = 0; k < pic.frames; k++)
    {
        LONGLONG t = k * S / FPS, from = t / len * len;
        int expected = (int)((t - from) * FPS / S);
        wrong += abs(pic.numbers[k] - expected) > 1;
    }
    EXPECT_EQ(0, wrong) << "frames showing a picture of another time";
    EXPECT_EQ("", warnings("grid.avi"));
}

// Sound: a quiet 8-bit source keeps its level and tone (mixed in more than 8 bits, also into an 8-bit
// file), and a timeline whose last clip has another rate ends with exactly round(length x rate) samples.
TEST(Fidelity, SoundKeepsItsLevelAndLength)
{
    const LONGLONG end = 32345 * S / 10000;   // 3.2345 s
    const struct { Sound format; long samples; double noise; } cases[] = {
        {{44100, 16, 2}, 142641, 0.1}, {{48000, 16, 1}, 155256, 0.1}, {{22050, 8, 1}, 71321, 0.3}};
    std::string in = probe::Run("ffmpeg -v error -i '" + path("quiet8.wav") + "' -f s16le -ac 1 -ar 44100 -");
    for (const auto &c : cases)
    {
        SCOPED_TRACE(std::to_string(c.format.rate) + " Hz " + std::to_string(c.format.bits) + " bits");
        output_sound = c.format;
        LONG code = through_engine({}, {{"quiet8.wav", 0, 2 * S, 0}, {"tone48.wav", 2 * S, end, 0}}, NULL, "sound.wav");
        output_sound = {RATE, 16, 2};
        ASSERT_EQ(EC_COMPLETE, code);
        EXPECT_EQ(c.samples, samples("sound.wav"));
        std::string out = probe::Run("ffmpeg -v error -i '" + path("sound.wav") + "' -t 2 -f s16le -ac 1 -ar 44100 -");
        ASSERT_GE(out.size(), in.size());
        const int16_t *a = (const int16_t *)in.data(), *b = (const int16_t *)out.data();
        double level_in = 0, level_out = 0, difference = 0;
        for (size_t i = 0; i < in.size() / 2; i++)
        {
            level_in += (double)a[i] * a[i];
            level_out += (double)b[i] * b[i];
            difference += ((double)a[i] - b[i]) * ((double)a[i] - b[i]);
        }
        EXPECT_NEAR(1.0, sqrt(level_out / level_in), 0.05);
        EXPECT_LT(sqrt(difference / level_in), c.noise) << "the sound is not the source's";
        EXPECT_EQ("", warnings("sound.wav"));
    }
}

// An AVI whose index is gone and whose chunks are damaged part-way is read as far as ffmpeg reads it;
// one that ends before the length its header states makes a conversion fail instead of succeed.
TEST(Fidelity, DamagedAviIsReadAsFarAsItsDataGoes)
{
    ASSERT_EQ("", make_test_picture("clean10.avi", "320x240:rate=25", "-t 10 -c:v mjpeg -q:v 5 -c:a pcm_s16le", true));
    std::string clean = file_bytes("clean10.avi");
    size_t index = clean.rfind("idx1");
    ASSERT_NE(std::string::npos, index);
    const struct { const char *name; size_t size; bool whole; } cases[] = {
        {"noindex.avi", index, true},                  // the index lost, a chunk header overwritten
        {"cut.avi", clean.size() * 9 / 10, false}};    // the same, and the last tenth gone
    Ref<IBaseFilter> mjpeg;
    ASSERT_TRUE((mjpeg.p = compressor(u"Motion JPEG", NULL)) != NULL);
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        std::string damaged = clean.substr(0, c.size);
        unsigned seed = 7;
        for (size_t i = clean.size() * 4 / 10; i < clean.size() * 4 / 10 + 4096; i++)
            damaged[i] = (char)((seed = seed * 1103515245 + 12345) >> 16);
        std::ofstream(path(c.name), std::ios::binary) << damaged;
        int frames = probe::DecodedFrames(path(c.name));
        ASSERT_GT(frames, 200);

        // the length the media detector tells is what can be read
        Ref<IMediaDet> det;
        std::u16string keep;
        double length = 0;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&det));
        BSTR name = SysAllocString(dos(c.name, keep));
        EXPECT_EQ(S_OK, det->put_Filename(name));
        SysFreeString(name);
        EXPECT_EQ(S_OK, det->get_StreamLength(&length));
        EXPECT_NEAR(frames / 25.0, length, 0.1);

        // the converter's graph: the whole file, or a failure for the file that ends early
        LONG code = through_graph(c.name, mjpeg, "damaged-graph.avi");
        EXPECT_EQ(c.whole ? EC_COMPLETE : EC_ERRORABORT, code);
        if (c.whole) { EXPECT_NEAR(frames, look("damaged-graph.avi").frames, 2); }

        // a timeline of what the detector told
        LONGLONG stop = (LONGLONG)(length * S);
        EXPECT_EQ(EC_COMPLETE, through_engine({{c.name, 0, stop, 0}}, {}, mjpeg, "damaged-engine.avi"));
        EXPECT_NEAR(frames, look("damaged-engine.avi").frames, 2);
    }
}

// A WAV file cut short (its header states more sound than it holds) fails the conversion; a whole one
// does not.
TEST(Fidelity, SoundCutShortFailsTheRun)
{
    ASSERT_EQ("", probe::Run("ffmpeg -v error -f lavfi -i sine=f=440:sample_rate=44100 -t 4 -ac 2 -c:a pcm_s16le '"
                          + path("tone4.wav") + "' 2>&1"));
    std::string whole = file_bytes("tone4.wav");
    std::ofstream(path("cut.wav"), std::ios::binary) << whole.substr(0, whole.size() * 6 / 10);
    EXPECT_EQ(EC_COMPLETE, through_graph("tone4.wav", NULL, "sound-whole.avi"));
    EXPECT_EQ(EC_ERRORABORT, through_graph("cut.wav", NULL, "sound-cut.avi"));
    EXPECT_EQ(-1, access(path("sound-cut.avi").c_str(), F_OK)) << "a file of the short run was left";
}

// ---- Sources are never written over ----

// What a run left in a folder besides the files it was given
std::string leftovers(const std::string &folder_name)
{
    return probe::Run("ls -A '" + path(folder_name) + "' | grep '^\\.writing-' ");
}

// No spelling of a file being read reaches it as an output: a link to its folder, a hard link, other
// letter case, a relative spelling; through the converter's graph and through the render engine.
TEST(OutputSafety, NoSpellingOfASourceIsWrittenOver)
{
    probe::Run("mkdir -p '" + path("src") + "' && cp '" + path("full.avi") + "' '" + path("src/movie.avi") + "' && ln -sfn src '"
            + path("link") + "' && ln -f '" + path("src/movie.avi") + "' '" + path("src/hard.avi") + "'");
    const std::string before = file_bytes("src/movie.avi");
    ASSERT_FALSE(before.empty());
    Ref<IBaseFilter> mjpeg;
    ASSERT_TRUE((mjpeg.p = compressor(u"Motion JPEG", NULL)) != NULL);
    for (const char *spelling : {"link/movie.avi", "src/hard.avi", "src/MOVIE.AVI", "link/../src/movie.avi"})
    {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(0, through_graph("src/movie.avi", mjpeg, spelling)) << "the converter's graph ran";
        EXPECT_EQ(0, through_engine({{"src/movie.avi", 0, 2 * S, 0}}, {{"src/movie.avi", 0, 2 * S, 0}}, mjpeg, spelling))
            << "the render engine ran";
        EXPECT_TRUE(before == file_bytes("src/movie.avi")) << "the source changed";
        EXPECT_EQ("", leftovers("src"));
    }
    // once the runs that read it are gone, the file is an output like any other
    EXPECT_EQ(EC_COMPLETE, through_engine({{"full.avi", 0, 2 * S, 0}}, {{"full.avi", 0, 2 * S, 0}}, mjpeg, "src/movie.avi"));
}

// A run stopped half-way leaves the file it would have replaced as it was and nothing beside it; a run
// that completes replaces it.
TEST(OutputSafety, ReplacedOnlyWhenTheRunCompletes)
{
    ASSERT_EQ("", make_test_picture("long.avi", "640x480:rate=25", "-t 60 -c:v mjpeg -q:v 3"));
    // and what a crashed run left there an hour ago
    probe::Run("mkdir -p '" + path("out") + "' && echo old contents > '" + path("out/old.avi") + "' && chmod 640 '"
            + path("out/old.avi") + "' && touch -d '2 hours ago' '" + path("out/.writing-crashed") + "'");
    Ref<IBaseFilter> mjpeg;
    ASSERT_TRUE((mjpeg.p = compressor(u"Motion JPEG", NULL)) != NULL);
    for (bool stop_early : {true, false})
    {
        SCOPED_TRACE(stop_early ? "stopped" : "completed");
        Ref<IGraphBuilder> graph;
        ASSERT_TRUE((graph.p = converter_graph("long.avi", mjpeg, "out/old.avi")) != NULL);
        if (stop_early)
        {
            EXPECT_EQ(-1, run(graph, 200)) << "the run ended before it could be stopped";
            EXPECT_TRUE(file_bytes("out/old.avi") == "old contents\n") << "the old file changed";
        }
        else
        {
            EXPECT_EQ(EC_COMPLETE, run(graph));
            EXPECT_EQ(1500, probe::DecodedFrames(path("out/old.avi")));
            EXPECT_EQ("640\n", probe::Run("stat -c %a '" + path("out/old.avi") + "'")) << "the permissions of the file replaced";
        }
        EXPECT_EQ("", leftovers("out"));
    }
}

}  // namespace
