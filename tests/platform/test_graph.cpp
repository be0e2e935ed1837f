// Filter graph and capture graph builder on real media: conversions checked with ffprobe on the files
// that come out, playback through the video window and the sound renderer, seeking, frame steps,
// events posted to a window, and broken inputs and outputs that must fail instead of hanging.
#include <windows.h>
#include <dshow.h>
#include <evcode.h>

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gtest_win.h"
#include "filters/interfaces.h"

#define HR_CHECK(kind, cond, e) \
    do { HRESULT hr_ = (e); kind##_TRUE(cond(hr_)) << #e << " = 0x" << std::hex << (unsigned long)hr_; } while (0)
#define ASSERT_HRESULT_SUCCEEDED(e) HR_CHECK(ASSERT, SUCCEEDED, e)
#define EXPECT_HRESULT_SUCCEEDED(e) HR_CHECK(EXPECT, SUCCEEDED, e)
#define EXPECT_HRESULT_FAILED(e) HR_CHECK(EXPECT, FAILED, e)

namespace {

typedef std::u16string wstr;
const WCHAR *W(const wstr &s) { return reinterpret_cast<const WCHAR *>(s.c_str()); }

wstr dos_path(const std::string &unix_path)
{
    WCHAR *d = wine_get_dos_file_name(unix_path.c_str());
    wstr out = d ? reinterpret_cast<const char16_t *>(d) : u"";
    HeapFree(GetProcessHeap(), 0, d);
    return out;
}

std::string media(const char *name)
{
    const char *dir = getenv("SUITE_MEDIA");
    return std::string(dir ? dir : "/nonexistent") + "/" + name;
}

std::string out_dir()
{
    static std::string dir;
    if (dir.empty())
    {
        char tmpl[] = "/tmp/graphtestXXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    return dir;
}

std::string run_text(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[512];
    while (fgets(buf, sizeof(buf), p)) out += buf;
    pclose(p);
    return out;
}

// "key=value" lines of ffprobe for one stream ("v:0", "a:0")
std::string probe(const std::string &file, const char *stream, const char *entries)
{
    return run_text("ffprobe -v error -select_streams " + std::string(stream) + " -show_entries stream=" + entries
                    + " -of default=nw=1 '" + file + "' 2>/dev/null");
}

std::string value(const std::string &text, const char *key)
{
    std::string k = std::string(key) + "=";
    size_t at = text.find(k);
    if (at == std::string::npos) return "";
    size_t end = text.find('\n', at);
    return text.substr(at + k.size(), end == std::string::npos ? std::string::npos : end - at - k.size());
}

int decoded_frames(const std::string &file)
{
    std::string t = run_text("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                             "-of default=nw=1:nk=1 '" + file + "' 2>/dev/null");
    return t.empty() ? -1 : atoi(t.c_str());
}

// seconds of sound that ffmpeg decodes from the first audio stream
double audio_seconds(const std::string &file)
{
    std::string t = run_text("ffmpeg -v error -nostdin -i '" + file + "' -map 0:a:0 -f s16le -ac 1 -ar 8000 - "
                             "2>/dev/null | wc -c");
    return t.empty() ? -1.0 : atof(t.c_str()) / 16000.0;
}

long file_size(const std::string &file)
{
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

template <class T> struct Ptr
{
    T *p = nullptr;
    ~Ptr() { if (p) p->Release(); }
    T **operator&() { return &p; }
    T *operator->() { return p; }
    operator T *() { return p; }
};

IBaseFilter *video_compressor(const WCHAR *friendly)
{
    Ptr<ICreateDevEnum> devenum;
    Ptr<IEnumMoniker> monikers;
    IMoniker *m;
    IBaseFilter *found = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, (void **)&devenum)))
        return nullptr;
    if (devenum->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) != S_OK) return nullptr;
    while (!found && monikers->Next(1, &m, NULL) == S_OK)
    {
        IPropertyBag *bag;
        if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)))
        {
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && !lstrcmpW(V_BSTR(&v), friendly))
                m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&found);
            VariantClear(&v);
            bag->Release();
        }
        m->Release();
    }
    return found;
}

// Pumps messages until an event message with our lParam arrives or time runs out; takes every queued
// event on each message, as the programs do, and returns the codes in order.
struct EventWindow
{
    HWND hwnd = NULL;
    int messages = 0;
    EventWindow()
    {
        hwnd = CreateWindowExW(0, L"STATIC", L"events", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    }
    ~EventWindow() { DestroyWindow(hwnd); }

    std::vector<LONG> wait(IMediaEventEx *events, LONG until, DWORD ms)
    {
        std::vector<LONG> codes;
        DWORD end = GetTickCount() + ms;
        while ((LONG)(end - GetTickCount()) > 0)
        {
            MSG msg;
            while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            {
                if (msg.hwnd == hwnd && msg.message == WM_APP + 1 && msg.lParam == 77)
                {
                    messages++;
                    LONG code;
                    LONG_PTR p1, p2;
                    if (events->GetEvent(&code, &p1, &p2, 0) == S_OK)
                    {
                        events->FreeEventParams(code, p1, p2);
                        codes.push_back(code);
                    }
                    if (!codes.empty() && codes.back() == until) return codes;
                    continue;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
        }
        return codes;
    }
};

void pump(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    while ((LONG)(end - GetTickCount()) > 0)
    {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
}

bool has(const std::vector<LONG> &codes, LONG code)
{
    for (LONG c : codes)
        if (c == code) return true;
    return false;
}

class Graph : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        MakeGraph();
    }
    void MakeGraph()
    {
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                                  (void **)&graph));
        ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IMediaControl, (void **)&control));
        ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IMediaEventEx, (void **)&events));
        ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IMediaSeeking, (void **)&seeking));
    }
    void TearDown() override
    {
        ReleaseGraph();
        CoUninitialize();
    }
    void ReleaseGraph()
    {
        if (control) control->Stop();
        if (events) events->SetNotifyWindow(0, 0, 0);
        if (builder) builder->Release();
        if (seeking) seeking->Release();
        if (events) events->Release();
        if (control) control->Release();
        if (graph) graph->Release();
        builder = nullptr;
        seeking = nullptr;
        events = nullptr;
        control = nullptr;
        graph = nullptr;
    }
    void MakeBuilder()
    {
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER,
                                                  IID_ICaptureGraphBuilder2, (void **)&builder));
        ASSERT_HRESULT_SUCCEEDED(builder->SetFiltergraph(graph));
    }
    // Run and wait for the end of the run; the code that ended it
    LONG RunToEnd(DWORD ms)
    {
        LONG code = 0;
        control->Run();
        if (FAILED(events->WaitForCompletion(ms, &code))) return 0;
        return code;
    }

    IGraphBuilder *graph = nullptr;
    IMediaControl *control = nullptr;
    IMediaEventEx *events = nullptr;
    IMediaSeeking *seeking = nullptr;
    ICaptureGraphBuilder2 *builder = nullptr;
};

// ---- Conversions into AVI and WAV ----

TEST_F(Graph, ConverterAviThroughMotionJpegKeepsPictureAndSound)
{
    std::string out = out_dir() + "/converted.avi";
    IBaseFilter *src = nullptr, *mux = nullptr;
    Ptr<IBaseFilter> enc;
    MakeBuilder();
    enc.p = video_compressor(L"Motion JPEG");
    ASSERT_TRUE(enc.p != nullptr);
    ASSERT_HRESULT_SUCCEEDED(graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source Filter", &src));
    ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(enc, L"Video Compressor"));
    ASSERT_HRESULT_SUCCEEDED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(out)), &mux, NULL));
    EXPECT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, src, enc, mux));
    EXPECT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, src, NULL, mux));
    // nothing is left to connect: the third call fails and does no harm
    EXPECT_HRESULT_FAILED(builder->RenderStream(NULL, NULL, src, NULL, mux));
    mux->Release();
    src->Release();

    EXPECT_EQ(RunToEnd(30000), EC_COMPLETE);
    // the file is complete when the run is reported finished
    std::string v = probe(out, "v:0", "codec_name,codec_tag_string,width,height");
    EXPECT_EQ(value(v, "codec_tag_string"), "MJPG");
    EXPECT_EQ(value(v, "width"), "320");
    EXPECT_EQ(value(v, "height"), "240");
    EXPECT_EQ(decoded_frames(out), 45);
    EXPECT_EQ(value(probe(out, "a:0", "codec_name"), "codec_name"), "pcm_s16le");
    EXPECT_NEAR(audio_seconds(out), 3.0, 0.1);
}

// Every listed video compressor writes pictures that decode, fed from a file through the graph.
TEST_F(Graph, EveryVideoCompressorWritesDecodablePictures)
{
    const WCHAR *names[] = {L"Motion JPEG", L"MPEG-4 Video Codec V3", L"MPEG-4 Video Codec V2",
                            L"WMVideo8 Encoder DMO", L"Huffyuv", L"H.264", L"VP8"};
    for (const WCHAR *name : names) {
        ReleaseGraph();  // a fresh graph for each
        MakeGraph();
        Ptr<IBaseFilter> enc;
        enc.p = video_compressor(name);
        if (!enc.p) continue;  // not installed here
        std::string out = out_dir() + "/each.avi";
        IBaseFilter *src = nullptr, *mux = nullptr;
        MakeBuilder();
        ASSERT_HRESULT_SUCCEEDED(graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source Filter", &src));
        ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(enc, L"Video Compressor"));
        ASSERT_HRESULT_SUCCEEDED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(out)), &mux, NULL));
        EXPECT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, src, enc, mux));
        mux->Release();
        src->Release();
        EXPECT_EQ(RunToEnd(30000), EC_COMPLETE);
        char label[64];
        WideCharToMultiByte(CP_ACP, 0, name, -1, label, sizeof label, NULL, NULL);
        EXPECT_EQ(decoded_frames(out), 45) << label;
    }
}

TEST_F(Graph, DubbingTakesTheAviPictureAndTheWavSound)
{
    std::string out = out_dir() + "/dubbed.avi";
    IBaseFilter *avi = nullptr, *wav = nullptr, *mux = nullptr;
    Ptr<IBaseFilter> enc;
    MakeBuilder();
    enc.p = video_compressor(L"Motion JPEG");
    ASSERT_TRUE(enc.p != nullptr);
    ASSERT_HRESULT_SUCCEEDED(graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source Filter1", &avi));
    ASSERT_HRESULT_SUCCEEDED(graph->AddSourceFilter(W(dos_path(media("sound.wav"))), L"Source Filter2", &wav));
    ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(enc, L"Video Compressor"));
    ASSERT_HRESULT_SUCCEEDED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(out)), &mux, NULL));
    ASSERT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, avi, enc, mux));
    ASSERT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, wav, NULL, mux));

    // the AVI's own sound stays unconnected
    Ptr<IPin> avi_audio, peer;
    ASSERT_HRESULT_SUCCEEDED(avi->FindPin(L"Audio", &avi_audio));
    EXPECT_EQ(avi_audio->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    mux->Release();
    avi->Release();
    wav->Release();

    EXPECT_EQ(RunToEnd(30000), EC_COMPLETE);
    EXPECT_EQ(decoded_frames(out), 45);
    // sound.wav is 2 s of stereo; the movie's own sound is 3 s of mono
    std::string a = probe(out, "a:0", "channels");
    EXPECT_EQ(value(a, "channels"), "2");
    EXPECT_NEAR(audio_seconds(out), 2.0, 0.1);
}

TEST_F(Graph, WavChainWritesTheSoundOfAMovie)
{
    std::string out = out_dir() + "/sound-out.wav";
    IBaseFilter *src = nullptr;
    Ptr<IBaseFilter> wavdest, writer_filter;
    Ptr<IFileSinkFilter2> writer;
    const CLSID wavdest_clsid = {0x3c78b8e2, 0x6c4d, 0x11d1, {0xad, 0xe2, 0x00, 0x00, 0xf8, 0x75, 0x4b, 0x99}};
    MakeBuilder();
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(wavdest_clsid, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&wavdest));
    ASSERT_HRESULT_SUCCEEDED(graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source Filter", &src));
    ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(wavdest, L"WavDest"));
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_FileWriter, NULL, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2, (void **)&writer));
    ASSERT_HRESULT_SUCCEEDED(writer->SetMode(AM_FILE_OVERWRITE));
    DWORD mode = 0;
    EXPECT_HRESULT_SUCCEEDED(writer->GetMode(&mode));
    EXPECT_EQ(mode, (DWORD)AM_FILE_OVERWRITE);
    ASSERT_HRESULT_SUCCEEDED(writer->QueryInterface(IID_IBaseFilter, (void **)&writer_filter));
    ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(writer_filter, L"FileWriter"));
    ASSERT_HRESULT_SUCCEEDED(writer->SetFileName(W(dos_path(out)), NULL));
    LPOLESTR name = NULL;
    ASSERT_HRESULT_SUCCEEDED(writer->GetCurFile(&name, NULL));
    EXPECT_EQ(wstr(reinterpret_cast<const char16_t *>(name)), dos_path(out));
    CoTaskMemFree(name);
    // a stale, longer file of that name is replaced
    FILE *f = fopen(out.c_str(), "wb");
    std::vector<char> junk(2000000, 'x');
    fwrite(junk.data(), 1, junk.size(), f);
    fclose(f);

    ASSERT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, src, NULL, wavdest));
    ASSERT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, wavdest, NULL, writer_filter));
    src->Release();
    EXPECT_EQ(RunToEnd(30000), EC_COMPLETE);
    EXPECT_EQ(value(probe(out, "a:0", "codec_name"), "codec_name"), "pcm_s16le");
    EXPECT_NEAR(audio_seconds(out), 3.0, 0.1);
    EXPECT_LT(file_size(out), 1000000);
}

// ---- Playback ----

TEST_F(Graph, PlaybackPostsOneMessagePerEventAndCompletesInRealTime)
{
    EventWindow win;
    ASSERT_HRESULT_SUCCEEDED(graph->RenderFile(W(dos_path(media("movie.avi"))), NULL));
    LONGLONG duration = 0;
    ASSERT_HRESULT_SUCCEEDED(seeking->GetDuration(&duration));
    EXPECT_NEAR((double)duration, 30000000.0, 1000000.0);
    ASSERT_HRESULT_SUCCEEDED(events->SetNotifyWindow((OAHWND)win.hwnd, WM_APP + 1, 77));
    LONG code;
    LONG_PTR p1, p2;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);

    DWORD start = GetTickCount();
    ASSERT_HRESULT_SUCCEEDED(control->Run());
    pump(1000);
    LONGLONG pos1 = 0, pos2 = 0;
    seeking->GetCurrentPosition(&pos1);
    pump(500);
    seeking->GetCurrentPosition(&pos2);
    EXPECT_GT(pos1, 5000000);
    EXPECT_NEAR((double)(pos2 - pos1), 5000000.0, 2000000.0);
    std::vector<LONG> codes = win.wait(events, EC_COMPLETE, 15000);
    DWORD took = GetTickCount() - start;
    ASSERT_TRUE(has(codes, EC_COMPLETE));
    EXPECT_GE(took, 2700u);
    EXPECT_LT(took, 8000u);
    EXPECT_EQ(win.messages, (int)codes.size());
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    OAFilterState st;
    EXPECT_HRESULT_SUCCEEDED(control->GetState(1000, &st));
    EXPECT_EQ(st, State_Running);
}

TEST_F(Graph, StopPositionEndsPlaybackThere)
{
    EventWindow win;
    ASSERT_HRESULT_SUCCEEDED(graph->RenderFile(W(dos_path(media("movie.avi"))), NULL));
    ASSERT_HRESULT_SUCCEEDED(events->SetNotifyWindow((OAHWND)win.hwnd, WM_APP + 1, 77));
    ASSERT_HRESULT_SUCCEEDED(control->Pause());
    LONGLONG start = 10000000, stop = 20000000;
    ASSERT_HRESULT_SUCCEEDED(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                                   AM_SEEKING_AbsolutePositioning));
    LONGLONG pos = 0, got_stop = 0;
    EXPECT_HRESULT_SUCCEEDED(seeking->GetCurrentPosition(&pos));
    EXPECT_NEAR((double)pos, 10000000.0, 700000.0);
    EXPECT_HRESULT_SUCCEEDED(seeking->GetStopPosition(&got_stop));
    EXPECT_EQ(got_stop, stop);
    DWORD t0 = GetTickCount();
    ASSERT_HRESULT_SUCCEEDED(control->Run());
    std::vector<LONG> codes = win.wait(events, EC_COMPLETE, 10000);
    DWORD took = GetTickCount() - t0;
    ASSERT_TRUE(has(codes, EC_COMPLETE));
    EXPECT_GE(took, 800u);
    EXPECT_LT(took, 2500u);
    EXPECT_HRESULT_SUCCEEDED(seeking->GetCurrentPosition(&pos));
    EXPECT_NEAR((double)pos, 20000000.0, 1000000.0);

    // back to the start, as the cutter does after the end
    EXPECT_HRESULT_SUCCEEDED(control->StopWhenReady());
    LONGLONG zero = 0;
    EXPECT_HRESULT_SUCCEEDED(seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning));
    EXPECT_HRESULT_SUCCEEDED(seeking->GetCurrentPosition(&pos));
    EXPECT_LT(pos, 700000);
}

TEST_F(Graph, StepAdvancesExactlyOneFrame)
{
    ASSERT_HRESULT_SUCCEEDED(graph->RenderFile(W(dos_path(media("movie.avi"))), NULL));
    Ptr<IVideoFrameStep> step;
    ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IVideoFrameStep, (void **)&step));
    EXPECT_EQ(step->CanStep(0, NULL), S_OK);
    ASSERT_HRESULT_SUCCEEDED(control->Pause());
    OAFilterState st;
    control->GetState(5000, &st);
    LONGLONG t = 10000000;
    ASSERT_HRESULT_SUCCEEDED(seeking->SetPositions(&t, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning));
    LONGLONG before = 0, after = 0, again = 0;
    seeking->GetCurrentPosition(&before);
    ASSERT_HRESULT_SUCCEEDED(step->Step(1, NULL));
    seeking->GetCurrentPosition(&after);
    ASSERT_HRESULT_SUCCEEDED(step->Step(1, NULL));
    seeking->GetCurrentPosition(&again);
    // 15 frames a second: 666,667 units a frame
    EXPECT_NEAR((double)(after - before), 666667.0, 2000.0);
    EXPECT_NEAR((double)(again - after), 666667.0, 2000.0);
    LONG code;
    LONG_PTR p1, p2;
    bool stepped = false;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) stepped |= code == EC_STEP_COMPLETE;
    EXPECT_TRUE(stepped);
}

// the picture of testsrc is colourful: a frame painted into the window is not black
int coloured_pixels(HWND hwnd)
{
    RECT rc;
    GetClientRect(hwnd, &rc);
    HDC dc = GetDC(hwnd);
    int coloured = 0;
    for (int i = 1; i < 10; i++)
    {
        COLORREF c = GetPixel(dc, rc.right * i / 10, rc.bottom / 3);
        if (c != CLR_INVALID && (GetRValue(c) > 40 || GetGValue(c) > 40 || GetBValue(c) > 40)) coloured++;
    }
    ReleaseDC(hwnd, dc);
    return coloured;
}

TEST_F(Graph, VideoWindowIsAChildOfItsOwnerAndShowsFrames)
{
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                                 NULL, NULL, NULL, NULL);
    ASSERT_HRESULT_SUCCEEDED(graph->RenderFile(W(dos_path(media("movie.avi"))), NULL));
    Ptr<IVideoWindow> vw;
    Ptr<IBasicVideo> bv;
    ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IVideoWindow, (void **)&vw));
    EXPECT_HRESULT_SUCCEEDED(vw->put_MessageDrain((OAHWND)owner));
    ASSERT_HRESULT_SUCCEEDED(vw->put_Owner((OAHWND)owner));
    ASSERT_HRESULT_SUCCEEDED(vw->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS));
    ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IBasicVideo, (void **)&bv));
    LONG w = 0, h = 0;
    ASSERT_HRESULT_SUCCEEDED(bv->GetVideoSize(&w, &h));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    ASSERT_HRESULT_SUCCEEDED(vw->SetWindowPosition(20, 10, 160, 120));
    ASSERT_HRESULT_SUCCEEDED(control->Pause());
    pump(1500);

    HWND child = GetWindow(owner, GW_CHILD);
    ASSERT_TRUE(child != NULL);
    EXPECT_EQ(GetParent(child), owner);
    RECT rc;
    GetWindowRect(child, &rc);
    MapWindowPoints(NULL, owner, (POINT *)&rc, 2);
    EXPECT_EQ(rc.left, 20);
    EXPECT_EQ(rc.top, 10);
    EXPECT_EQ(rc.right - rc.left, 160);
    EXPECT_EQ(rc.bottom - rc.top, 120);
    LONG visible = OAFALSE;
    EXPECT_HRESULT_SUCCEEDED(vw->get_Visible(&visible));
    EXPECT_EQ(visible, OATRUE);
    EXPECT_GE(coloured_pixels(child), 5);

    EXPECT_HRESULT_SUCCEEDED(vw->put_Visible(OAFALSE));
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_HRESULT_SUCCEEDED(vw->put_Owner(0));
    EXPECT_EQ(GetWindow(owner, GW_CHILD), (HWND)NULL);
    control->Stop();
    DestroyWindow(owner);
}

TEST_F(Graph, ClosingTheOwnVideoWindowAbortsTheRun)
{
    EventWindow win;
    ASSERT_HRESULT_SUCCEEDED(graph->RenderFile(W(dos_path(media("movie.avi"))), NULL));
    ASSERT_HRESULT_SUCCEEDED(events->SetNotifyWindow((OAHWND)win.hwnd, WM_APP + 1, 77));
    Ptr<IVideoWindow> vw;
    ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IVideoWindow, (void **)&vw));
    ASSERT_HRESULT_SUCCEEDED(control->Run());
    pump(500);
    LONG visible = OAFALSE;
    EXPECT_HRESULT_SUCCEEDED(vw->get_Visible(&visible));
    ASSERT_EQ(visible, OATRUE);
    // the renderer's own top-level window
    HWND top = NULL;
    LONG l, t, w, h;
    ASSERT_HRESULT_SUCCEEDED(vw->GetWindowPosition(&l, &t, &w, &h));
    POINT pt = {l + w / 2, t + h / 2};
    top = WindowFromPoint(pt);
    ASSERT_TRUE(top != NULL);
    PostMessageW(GetAncestor(top, GA_ROOT), WM_CLOSE, 0, 0);
    std::vector<LONG> codes = win.wait(events, EC_USERABORT, 3000);
    EXPECT_TRUE(has(codes, EC_USERABORT));
    EXPECT_FALSE(has(codes, EC_COMPLETE));
}

TEST_F(Graph, SoundOnlyFileHasNoVideoWindowButPlays)
{
    ASSERT_HRESULT_SUCCEEDED(graph->RenderFile(W(dos_path(media("sound.wav"))), NULL));
    Ptr<IVideoWindow> vw;
    ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IVideoWindow, (void **)&vw));
    EXPECT_HRESULT_FAILED(vw->put_MessageDrain((OAHWND)GetDesktopWindow()));
    Ptr<IBasicVideo> bv;
    ASSERT_HRESULT_SUCCEEDED(graph->QueryInterface(IID_IBasicVideo, (void **)&bv));
    LONG w, h;
    EXPECT_HRESULT_FAILED(bv->GetVideoSize(&w, &h));
    LONGLONG duration = 0;
    ASSERT_HRESULT_SUCCEEDED(seeking->GetDuration(&duration));
    EXPECT_NEAR((double)duration, 20000000.0, 500000.0);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(RunToEnd(10000), EC_COMPLETE);
    // no sound device here: it still takes real time
    EXPECT_GE(GetTickCount() - t0, 1700u);
}

// ---- Broken input and output ----

TEST_F(Graph, MissingEmptyAndForeignFilesFailToOpen)
{
    IBaseFilter *src = nullptr;
    EXPECT_HRESULT_FAILED(graph->AddSourceFilter(W(dos_path(out_dir() + "/no-such.avi")), L"x", &src));
    EXPECT_EQ(src, nullptr);
    EXPECT_HRESULT_FAILED(graph->AddSourceFilter(W(dos_path(media("broken.avi"))), L"x", &src));
    std::string empty = out_dir() + "/empty.avi";
    fclose(fopen(empty.c_str(), "wb"));
    EXPECT_HRESULT_FAILED(graph->AddSourceFilter(W(dos_path(empty)), L"x", &src));
    EXPECT_HRESULT_FAILED(graph->RenderFile(W(dos_path(media("readme.txt"))), NULL));
    IEnumFilters *e;
    IBaseFilter *f;
    ASSERT_HRESULT_SUCCEEDED(graph->EnumFilters(&e));
    EXPECT_EQ(e->Next(1, &f, NULL), S_FALSE);
    e->Release();
}

TEST_F(Graph, TruncatedInputEndsWithinBoundedTime)
{
    std::string cut = out_dir() + "/truncated.avi";
    std::string data = run_text("head -c 60000 '" + media("movie.avi") + "'");
    FILE *f = fopen(cut.c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    std::string out = out_dir() + "/from-truncated.avi";
    IBaseFilter *src = nullptr, *mux = nullptr;
    MakeBuilder();
    if (FAILED(graph->AddSourceFilter(W(dos_path(cut)), L"Source Filter", &src))) return;   /* refused: fine */
    ASSERT_HRESULT_SUCCEEDED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(out)), &mux, NULL));
    builder->RenderStream(NULL, NULL, src, NULL, mux);
    builder->RenderStream(NULL, NULL, src, NULL, mux);
    mux->Release();
    src->Release();
    LONG code = RunToEnd(15000);
    EXPECT_TRUE(code == EC_COMPLETE || code == EC_ERRORABORT) << code;
}

TEST_F(Graph, UnwritableOutputAndOwnInputFail)
{
    IBaseFilter *src = nullptr, *mux = nullptr;
    MakeBuilder();
    ASSERT_HRESULT_SUCCEEDED(graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source Filter", &src));
    ASSERT_HRESULT_SUCCEEDED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi,
                                                        W(dos_path("/proc/graph-out.avi")), &mux, NULL));
    ASSERT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, src, NULL, mux));
    mux->Release();
    HRESULT hr = control->Run();
    LONG code = 0;
    if (SUCCEEDED(hr)) events->WaitForCompletion(10000, &code);
    EXPECT_TRUE(FAILED(hr) || code == EC_ERRORABORT);
    LONG ev;
    LONG_PTR p1, p2;
    bool aborted = false;
    while (events->GetEvent(&ev, &p1, &p2, 0) == S_OK) aborted |= ev == EC_ERRORABORT;
    EXPECT_TRUE(aborted);
    control->Stop();
    src->Release();

    // writing over the file being read is refused and leaves it whole
    std::string in = out_dir() + "/own.avi";
    run_text("cp '" + media("movie.avi") + "' '" + in + "'");
    long size = file_size(in);
    Ptr<IGraphBuilder> g2;
    Ptr<ICaptureGraphBuilder2> b2;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&g2));
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER,
                                              IID_ICaptureGraphBuilder2, (void **)&b2));
    ASSERT_HRESULT_SUCCEEDED(b2->SetFiltergraph(g2));
    ASSERT_HRESULT_SUCCEEDED(g2->AddSourceFilter(W(dos_path(in)), L"Source Filter", &src));
    ASSERT_HRESULT_SUCCEEDED(b2->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(in)), &mux, NULL));
    ASSERT_HRESULT_SUCCEEDED(b2->RenderStream(NULL, NULL, src, NULL, mux));
    mux->Release();
    src->Release();
    Ptr<IMediaControl> c2;
    ASSERT_HRESULT_SUCCEEDED(g2->QueryInterface(IID_IMediaControl, (void **)&c2));
    EXPECT_HRESULT_FAILED(c2->Run());
    c2->Stop();
    EXPECT_EQ(file_size(in), size);
    EXPECT_EQ(decoded_frames(in), 45);
}

// ---- A source filter whose streams come out of a ready-made GStreamer element ----

class ElementPin;

class ElementSource final : public IBaseFilter, public IPlatformSourceElement
{
public:
    ElementSource();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBaseFilter) || IsEqualIID(riid, IID_IMediaFilter)
                || IsEqualIID(riid, IID_IPersist))
            *out = static_cast<IBaseFilter *>(this);
        else if (IsEqualIID(riid, IID_IPlatformSourceElement))
            *out = static_cast<IPlatformSourceElement *>(this);
        else
        {
            *out = NULL;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *c) override { *c = GUID_NULL; return S_OK; }
    HRESULT STDMETHODCALLTYPE Stop() override { running = false; return S_OK; }
    HRESULT STDMETHODCALLTYPE Pause() override { running = true; return S_OK; }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { running = true; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE *s) override { *s = running ? State_Running : State_Stopped; return S_OK; }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **c) override { *c = NULL; return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin **out) override { *out = NULL; return VFW_E_NOT_FOUND; }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override
    {
        info->achName[0] = 0;
        if ((info->pGraph = graph)) graph->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *g, LPCWSTR) override { graph = g; return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *) override { return E_NOTIMPL; }

    int STDMETHODCALLTYPE GetStreamCount(void) override { return 2; }
    HRESULT STDMETHODCALLTYPE GetStreamType(int i, GUID *major) override
    {
        *major = i == 0 ? MEDIATYPE_Video : MEDIATYPE_Audio;
        return S_OK;
    }
    void *STDMETHODCALLTYPE CreateElement(unsigned converted) override;
    HRESULT STDMETHODCALLTYPE GetPadName(int i, char *name, int size) override
    {
        snprintf(name, size, "%s", i == 0 ? "video_out" : "audio_out");
        return S_OK;
    }

    ElementPin *pins[2];
    LONG ref = 1;
    bool running = false;
    IFilterGraph *graph = nullptr;
};

class ElementPin final : public IPin, public IPlatformPin
{
public:
    ElementPin(ElementSource *o, int i) : owner(o), index(i) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin)) *out = static_cast<IPin *>(this);
        else if (IsEqualIID(riid, IID_IPlatformPin)) *out = static_cast<IPlatformPin *>(this);
        else
        {
            *out = NULL;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner->Release(); }
    HRESULT STDMETHODCALLTYPE Connect(IPin *receiver, const AM_MEDIA_TYPE *) override
    {
        AM_MEDIA_TYPE mt;
        memset(&mt, 0, sizeof(mt));
        owner->GetStreamType(index, &mt.majortype);
        HRESULT hr = receiver->ReceiveConnection(this, &mt);
        if (SUCCEEDED(hr))
        {
            peer = receiver;
            peer->AddRef();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE Disconnect() override
    {
        if (!peer) return S_FALSE;
        peer->Release();
        peer = NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **out) override
    {
        if ((*out = peer)) peer->AddRef();
        return peer ? S_OK : VFW_E_NOT_CONNECTED;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *mt) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override
    {
        info->pFilter = owner;
        owner->AddRef();
        info->dir = PINDIR_OUTPUT;
        lstrcpyW(info->achName, index ? L"Audio" : L"Video");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *d) override { *d = PINDIR_OUTPUT; return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_UNEXPECTED; }
    IBaseFilter *STDMETHODCALLTYPE GetOwner(void) override { return owner; }
    int STDMETHODCALLTYPE GetStreamIndex(void) override { return index; }

    ElementSource *owner;
    int index;
    IPin *peer = nullptr;
};

ElementSource::ElementSource()
{
    pins[0] = new ElementPin(this, 0);
    pins[1] = new ElementPin(this, 1);
}

class ElementPinEnum final : public IEnumPins
{
public:
    explicit ElementPinEnum(ElementSource *o) : owner(o) { owner->AddRef(); }
    ~ElementPinEnum() { owner->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        *out = static_cast<IEnumPins *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG n, IPin **out, ULONG *fetched) override
    {
        ULONG got = 0;
        while (got < n && pos < 2)
        {
            out[got] = owner->pins[pos++];
            out[got++]->AddRef();
        }
        if (fetched) *fetched = got;
        return got == n ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG n) override { pos += n; return pos <= 2 ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Reset() override { pos = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **) override { return E_NOTIMPL; }

private:
    ElementSource *owner;
    LONG ref = 1;
    ULONG pos = 0;
};

HRESULT STDMETHODCALLTYPE ElementSource::EnumPins(IEnumPins **out)
{
    *out = new ElementPinEnum(this);
    return S_OK;
}

ULONG STDMETHODCALLTYPE ElementSource::Release()
{
    ULONG r = InterlockedDecrement(&ref);
    if (!r)
    {
        delete pins[0];
        delete pins[1];
        delete this;
    }
    return r;
}

// 2 s of test picture and tone in a bin with two named source pads, made with the GStreamer that the
// platform has loaded into this process.
// The streams the graph last said feed an encoder (CreateElement's argument).
static unsigned streams_converted = ~0u;

void *ElementSource::CreateElement(unsigned converted)
{
    streams_converted = converted;
    void *gst = dlopen("libgstreamer-1.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (!gst) return NULL;
    auto parse = (void *(*)(const char *, int, void **))dlsym(gst, "gst_parse_bin_from_description");
    auto by_name = (void *(*)(void *, const char *))dlsym(gst, "gst_bin_get_by_name");
    auto static_pad = (void *(*)(void *, const char *))dlsym(gst, "gst_element_get_static_pad");
    auto ghost = (void *(*)(const char *, void *))dlsym(gst, "gst_ghost_pad_new");
    auto add_pad = (int (*)(void *, void *))dlsym(gst, "gst_element_add_pad");
    auto unref = (void (*)(void *))dlsym(gst, "gst_object_unref");
    auto ref_sink = (void *(*)(void *))dlsym(gst, "gst_object_ref_sink");
    if (!parse || !by_name || !static_pad || !ghost || !add_pad || !unref || !ref_sink) return NULL;
    void *bin = parse("videotestsrc num-buffers=30 ! video/x-raw,width=160,height=120,framerate=15/1 ! "
                      "identity name=v  audiotestsrc num-buffers=86 samplesperbuffer=1024 ! "
                      "audio/x-raw,rate=44100,channels=1 ! identity name=a", 0, NULL);
    if (!bin) return NULL;
    const char *names[2][2] = {{"v", "video_out"}, {"a", "audio_out"}};
    for (auto &n : names)
    {
        void *e = by_name(bin, n[0]);
        void *pad = static_pad(e, "src");
        add_pad(bin, ghost(n[1], pad));
        unref(pad);
        unref(e);
    }
    return ref_sink(bin);
}

TEST_F(Graph, ReadyMadeElementStreamsGoThroughTheEncoderIntoAvi)
{
    std::string out = out_dir() + "/element.avi";
    ElementSource *src = new ElementSource();
    IBaseFilter *mux = nullptr;
    Ptr<IBaseFilter> enc;
    MakeBuilder();
    enc.p = video_compressor(L"Motion JPEG");
    ASSERT_TRUE(enc.p != nullptr);
    ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(src, L"Timeline"));
    ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(enc, L"Video Compressor"));
    ASSERT_HRESULT_SUCCEEDED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(out)), &mux, NULL));
    // the engine's group pins, as the output chain passes them: video first, then sound
    EXPECT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, &MEDIATYPE_Video, static_cast<IPin *>(src->pins[0]), enc, mux));
    EXPECT_HRESULT_FAILED(builder->RenderStream(NULL, &MEDIATYPE_Video, static_cast<IPin *>(src->pins[1]), enc, mux));
    EXPECT_HRESULT_SUCCEEDED(builder->RenderStream(NULL, NULL, static_cast<IPin *>(src->pins[1]), NULL, mux));
    EXPECT_HRESULT_FAILED(builder->RenderStream(NULL, NULL, static_cast<IPin *>(src->pins[0]), NULL, mux));
    mux->Release();
    src->Release();
    EXPECT_EQ(RunToEnd(30000), EC_COMPLETE);
    EXPECT_EQ(streams_converted, 1u);   // the picture goes through the encoder, the sound straight to the file
    std::string v = probe(out, "v:0", "codec_tag_string,width,height");
    EXPECT_EQ(value(v, "codec_tag_string"), "MJPG");
    EXPECT_EQ(value(v, "width"), "160");
    EXPECT_EQ(decoded_frames(out), 30);
    EXPECT_NEAR(audio_seconds(out), 2.0, 0.1);
}

}  // namespace
