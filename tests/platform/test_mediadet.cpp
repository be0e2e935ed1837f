// Media detector (CLSID_MediaDet) on real files that ffmpeg makes for this run: one file of every kind
// the programs accept, broken and missing files, and the paths the programs pass (Japanese names,
// 259 characters, drive Z:).
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <mmreg.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gtest_win.h"

namespace {

// ---- Wide strings (std::wstring is unusable under Winelib) ----

typedef std::u16string wstr;

const WCHAR *W(const wstr &s) { return reinterpret_cast<const WCHAR *>(s.c_str()); }

wstr from_codepage(UINT codepage, const char *text)
{
    int n = MultiByteToWideChar(codepage, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
    if (n <= 0) return wstr();
    std::vector<WCHAR> buf(n);
    MultiByteToWideChar(codepage, MB_ERR_INVALID_CHARS, text, -1, buf.data(), n);
    return wstr(reinterpret_cast<const char16_t *>(buf.data()));
}

std::string to_utf8(const wstr &s)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, W(s), -1, NULL, 0, NULL, NULL);
    if (n <= 0) return std::string();
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, W(s), -1, &out[0], n, NULL, NULL);
    out.resize(n - 1);
    return out;
}

wstr join(const wstr &folder, const char *name) { return folder + u"\\" + from_codepage(CP_UTF8, name); }

struct Bstr
{
    BSTR s;
    explicit Bstr(const wstr &text) : s(SysAllocStringLen(W(text), (UINT)text.size())) {}
    ~Bstr() { SysFreeString(s); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
};

std::string unix_name(const wstr &dos)
{
    char *u = wine_get_unix_file_name(W(dos));
    std::string out = u ? u : "";
    HeapFree(GetProcessHeap(), 0, u);
    return out;
}

bool copy_prefix(const wstr &from, const wstr &to, DWORD bytes)
{
    HANDLE in = CreateFileW(W(from), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (in == INVALID_HANDLE_VALUE) return false;
    std::vector<char> data(bytes);
    DWORD got = 0;
    BOOL ok = ReadFile(in, data.data(), bytes, &got, NULL);
    CloseHandle(in);
    if (!ok) return false;
    HANDLE out = CreateFileW(W(to), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    ok = WriteFile(out, data.data(), got, &put, NULL) && put == got;
    CloseHandle(out);
    return ok;
}

bool write_text(const wstr &path, const char *text)
{
    HANDLE out = CreateFileW(W(path), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = WriteFile(out, text, (DWORD)strlen(text), &put, NULL);
    CloseHandle(out);
    return ok;
}

void remove_tree(const wstr &folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(W(folder + u"\\*"), &found);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            wstr name(reinterpret_cast<const char16_t *>(found.cFileName));
            if (name == u"." || name == u"..") continue;
            wstr path = folder + u"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(path);
            else DeleteFileW(W(path));
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(W(folder));
}

// ---- The files of this run ----

enum Kind { VIDEO, AUDIO };

struct StreamWant
{
    Kind kind;
    int width, height;   // video
    double fps;          // video; 0 for a still image
    int channels, rate, bits;   // audio as decoded
};

struct Clip
{
    const char *name;
    const char *ffmpeg;   // ffmpeg arguments before the output file, split at spaces
    double seconds;       // length the file was made with
    double tolerance;     // how far the reported length may be off: a frame (video), a codec frame (audio)
    std::vector<StreamWant> streams;
};

// gtest names a failing clip by its file.
void PrintTo(const Clip &clip, std::ostream *out) { *out << clip.name; }

StreamWant V(int w, int h, double fps) { return StreamWant{VIDEO, w, h, fps, 0, 0, 0}; }
StreamWant A(int channels, int rate, int bits) { return StreamWant{AUDIO, 0, 0, 0, channels, rate, bits}; }

#define MOVIE(size, fps) "-f lavfi -i testsrc=size=" size ":rate=" fps
#define TONE(rate) "-f lavfi -i sine=f=440:sample_rate=" rate
#define PICTURE(size) "-f lavfi -i testsrc=size=" size " -frames:v 1"

const std::vector<Clip> &clips()
{
    static const std::vector<Clip> all = {
        // movies, 2 s
        {"movie.avi", MOVIE("320x240", "15") " " TONE("44100") " -t 2 -c:v mjpeg -c:a pcm_s16le", 2.0, 1 / 15.0,
         {V(320, 240, 15), A(1, 44100, 16)}},
        {"movie.mpg", MOVIE("320x240", "25") " " TONE("48000") " -t 2 -ac 2 -c:v mpeg1video -c:a mp2 -f mpeg", 2.0,
         1 / 25.0, {V(320, 240, 25), A(2, 48000, 16)}},
        {"movie.mpeg", MOVIE("352x240", "30000/1001") " " TONE("44100") " -t 2 -c:v mpeg2video -c:a mp2 -f vob",
         2.0, 1 / 29.97, {V(352, 240, 30000 / 1001.0), A(1, 44100, 16)}},
        // ASF keeps no frame rate: it has to come from the frames' times
        {"movie.wmv", MOVIE("176x144", "15") " " TONE("22050") " -t 2 -ac 2 -c:v wmv2 -c:a wmav2", 2.0, 1 / 15.0,
         {V(176, 144, 15), A(2, 22050, 16)}},
        {"movie.asf", MOVIE("160x120", "12.5") " " TONE("44100") " -t 2 -c:v wmv2 -c:a wmav2", 2.0, 1 / 12.5,
         {V(160, 120, 12.5), A(1, 44100, 16)}},
        // streams come in the order the container holds them
        {"soundfirst.avi", MOVIE("160x120", "10") " " TONE("32000") " -t 1 -map 1 -map 0 -c:v mjpeg -c:a pcm_s16le",
         1.0, 1 / 10.0, {A(1, 32000, 16), V(160, 120, 10)}},
        // sounds
        {"sound.wav", TONE("22050") " -t 2 -ac 2 -c:a pcm_u8", 2.0, 0.001, {A(2, 22050, 8)}},
        // 11025 one-byte samples: a data chunk of odd size
        {"odd.wav", TONE("11025") " -t 1 -c:a pcm_u8", 1.0, 0.001, {A(1, 11025, 8)}},
        {"sound.wma", TONE("44100") " -t 2 -ac 2 -c:a wmav2", 2.0, 2048 / 44100.0, {A(2, 44100, 16)}},
        {"sound.au", TONE("8000") " -t 2 -c:a pcm_s16be", 2.0, 0.001, {A(1, 8000, 16)}},
        {"mulaw.au", TONE("8000") " -t 1 -c:a pcm_mulaw", 1.0, 0.001, {A(1, 8000, 16)}},
        {"sound.aif", TONE("32000") " -t 2 -ac 2 -c:a pcm_s24be", 2.0, 0.001, {A(2, 32000, 24)}},
        // encoder delay and padding: up to two MP3 frames
        {"sound.mp3", TONE("44100") " -t 2 -c:a libmp3lame", 2.0, 2 * 1152 / 44100.0, {A(1, 44100, 16)}},
        // still images: one video stream of length 0
        {"still.bmp", PICTURE("160x120"), 0.0, 0.0, {V(160, 120, 0)}},
        {"still.gif", PICTURE("200x150"), 0.0, 0.0, {V(200, 150, 0)}},
        {"still.jpg", PICTURE("128x96"), 0.0, 0.0, {V(128, 96, 0)}},
        {"still.jpeg", PICTURE("240x180"), 0.0, 0.0, {V(240, 180, 0)}},
        {"still.tga", PICTURE("176x144"), 0.0, 0.0, {V(176, 144, 0)}},
    };
    return all;
}

bool run_ffmpeg(const char *args, const std::string &output)
{
    std::vector<std::string> words = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
    std::string rest = args;
    for (size_t at = 0; at < rest.size();)
    {
        size_t end = rest.find(' ', at);
        if (end == std::string::npos) end = rest.size();
        if (end > at) words.push_back(rest.substr(at, end - at));
        at = end + 1;
    }
    words.push_back(output);
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(&w[0]);
    argv.push_back(NULL);
    pid_t pid;
    if (posix_spawnp(&pid, "ffmpeg", NULL, NULL, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One folder of media for the whole run, under the Wine temp folder (drive C:).
class MediaFolder : public ::testing::Environment
{
public:
    static wstr path;              // DOS path, no trailing backslash
    static std::vector<std::string> missing;   // clips ffmpeg could not make

    void SetUp() override
    {
        CoInitializeEx(NULL, COINIT_MULTITHREADED);
        WCHAR temp[MAX_PATH];
        DWORD n = GetTempPathW(MAX_PATH, temp);
        ASSERT_GT(n, 0u);
        wstr base(reinterpret_cast<const char16_t *>(temp));
        if (!base.empty() && base.back() == u'\\') base.pop_back();
        char unique[64];
        snprintf(unique, sizeof(unique), "\\mediadet-%lu-%lu", (unsigned long)GetCurrentProcessId(),
                 (unsigned long)GetTickCount());
        path = base + from_codepage(CP_UTF8, unique);
        ASSERT_TRUE(CreateDirectoryW(W(path), NULL));
        std::string unix_folder = unix_name(path);
        ASSERT_FALSE(unix_folder.empty());
        for (const Clip &clip : clips())
            if (!run_ffmpeg(clip.ffmpeg, unix_folder + "/" + clip.name)) missing.push_back(clip.name);
    }

    void TearDown() override
    {
        if (!path.empty()) remove_tree(path);
        CoUninitialize();
    }
};

wstr MediaFolder::path;
std::vector<std::string> MediaFolder::missing;

::testing::Environment *const media_folder = ::testing::AddGlobalTestEnvironment(new MediaFolder);

bool made(const char *name)
{
    for (const std::string &m : MediaFolder::missing)
        if (m == name) return false;
    return true;
}

void free_media_type(AM_MEDIA_TYPE &mt)
{
    CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk) mt.pUnk->Release();
    ZeroMemory(&mt, sizeof(mt));
}

class MediaDetTest : public ::testing::Test
{
protected:
    IMediaDet *det = NULL;

    void SetUp() override
    {
        HRESULT hr = CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&det);
        ASSERT_EQ(S_OK, hr) << "the media platform is not registered for CLSID_MediaDet";
    }
    void TearDown() override
    {
        if (det) det->Release();
    }

    HRESULT open(const wstr &path)
    {
        Bstr name(path);
        return det->put_Filename(name.s);
    }
    HRESULT open(const char *clip) { return open(join(MediaFolder::path, clip)); }

    LONG streams()
    {
        LONG count = -1;
        EXPECT_EQ(S_OK, det->get_OutputStreams(&count));
        return count;
    }
};

// ---- Every kind of file the programs accept ----

class EveryFormat : public MediaDetTest, public ::testing::WithParamInterface<Clip>
{
};

void check_video_type(const AM_MEDIA_TYPE &mt, const StreamWant &want)
{
    EXPECT_TRUE(IsEqualGUID(mt.majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24));
    ASSERT_TRUE(IsEqualGUID(mt.formattype, FORMAT_VideoInfo));
    ASSERT_GE(mt.cbFormat, sizeof(VIDEOINFOHEADER));
    ASSERT_TRUE(mt.pbFormat != NULL);
    const VIDEOINFOHEADER *vih = reinterpret_cast<const VIDEOINFOHEADER *>(mt.pbFormat);
    EXPECT_EQ(want.width, vih->bmiHeader.biWidth);
    EXPECT_EQ(want.height, vih->bmiHeader.biHeight);
    EXPECT_EQ(24, vih->bmiHeader.biBitCount);
    EXPECT_EQ((DWORD)BI_RGB, vih->bmiHeader.biCompression);
    DWORD stride = (want.width * 3 + 3) & ~3;
    EXPECT_EQ(stride * want.height, vih->bmiHeader.biSizeImage);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, mt.lSampleSize);
    if (want.fps > 0)
    {
        EXPECT_NEAR(1e7 / want.fps, (double)vih->AvgTimePerFrame, 1.0);
    }
}

void check_audio_type(const AM_MEDIA_TYPE &mt, const StreamWant &want)
{
    EXPECT_TRUE(IsEqualGUID(mt.majortype, MEDIATYPE_Audio));
    EXPECT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_PCM));
    ASSERT_TRUE(IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx));
    ASSERT_GE(mt.cbFormat, sizeof(WAVEFORMATEX));
    ASSERT_TRUE(mt.pbFormat != NULL);
    const WAVEFORMATEX *wfx = reinterpret_cast<const WAVEFORMATEX *>(mt.pbFormat);
    EXPECT_EQ(WAVE_FORMAT_PCM, wfx->wFormatTag);
    EXPECT_EQ(want.channels, wfx->nChannels);
    EXPECT_EQ((DWORD)want.rate, wfx->nSamplesPerSec);
    EXPECT_EQ(want.bits, wfx->wBitsPerSample);
    EXPECT_EQ(want.channels * want.bits / 8, wfx->nBlockAlign);
    EXPECT_EQ(wfx->nSamplesPerSec * wfx->nBlockAlign, wfx->nAvgBytesPerSec);
}

TEST_P(EveryFormat, StreamsTypesLengthsAndFormats)
{
    const Clip &clip = GetParam();
    ASSERT_TRUE(made(clip.name)) << "ffmpeg could not make " << clip.name;
    ASSERT_EQ(S_OK, open(clip.name));
    ASSERT_EQ((LONG)clip.streams.size(), streams());

    for (LONG i = 0; i < (LONG)clip.streams.size(); i++)
    {
        const StreamWant &want = clip.streams[i];
        SCOPED_TRACE(::testing::Message() << clip.name << " stream " << i);
        ASSERT_EQ(S_OK, det->put_CurrentStream(i));
        LONG current = -1;
        EXPECT_EQ(S_OK, det->get_CurrentStream(&current));
        EXPECT_EQ(i, current);

        GUID major;
        ASSERT_EQ(S_OK, det->get_StreamType(&major));
        EXPECT_TRUE(IsEqualGUID(major, want.kind == VIDEO ? MEDIATYPE_Video : MEDIATYPE_Audio));
        BSTR text = NULL;
        ASSERT_EQ(S_OK, det->get_StreamTypeB(&text));
        GUID parsed = GUID_NULL;
        EXPECT_EQ(S_OK, CLSIDFromString(text, &parsed));
        EXPECT_TRUE(IsEqualGUID(major, parsed));
        SysFreeString(text);

        double length = -1;
        ASSERT_EQ(S_OK, det->get_StreamLength(&length));
        EXPECT_NEAR(clip.seconds, length, clip.tolerance);

        AM_MEDIA_TYPE mt;
        ASSERT_EQ(S_OK, det->get_StreamMediaType(&mt));
        if (want.kind == VIDEO) check_video_type(mt, want);
        else check_audio_type(mt, want);
        free_media_type(mt);

        double fps = -1;
        if (want.kind == VIDEO)
        {
            EXPECT_EQ(S_OK, det->get_FrameRate(&fps));
            if (want.fps > 0)
            {
                EXPECT_NEAR(want.fps, fps, 0.01);
            }
        }
        else
        {
            EXPECT_TRUE(FAILED(det->get_FrameRate(&fps)));
        }
    }

    // Past the last stream: refused, and the selection stays.
    EXPECT_EQ(E_INVALIDARG, det->put_CurrentStream((LONG)clip.streams.size()));
    EXPECT_EQ(E_INVALIDARG, det->put_CurrentStream(-1));
    LONG current = -1;
    EXPECT_EQ(S_OK, det->get_CurrentStream(&current));
    EXPECT_EQ((LONG)clip.streams.size() - 1, current);
}

std::string clip_name(const ::testing::TestParamInfo<Clip> &info)
{
    std::string name = info.param.name;
    for (char &c : name)
        if (!isalnum((unsigned char)c)) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, EveryFormat, ::testing::ValuesIn(clips()), clip_name);

// ---- Opening, reopening and failing ----

TEST_F(MediaDetTest, NothingOpenYet)
{
    LONG count = -1;
    EXPECT_EQ(E_INVALIDARG, det->get_OutputStreams(&count));
    EXPECT_EQ(E_INVALIDARG, det->put_CurrentStream(0));
    GUID major;
    EXPECT_EQ(E_INVALIDARG, det->get_StreamType(&major));
    double length;
    EXPECT_EQ(E_INVALIDARG, det->get_StreamLength(&length));
    BSTR name = (BSTR)1;
    EXPECT_EQ(S_OK, det->get_Filename(&name));
    EXPECT_TRUE(name == NULL);
}

TEST_F(MediaDetTest, NullArgumentsAreRefused)
{
    ASSERT_EQ(S_OK, open("movie.avi"));
    EXPECT_EQ(E_POINTER, det->get_OutputStreams(NULL));
    EXPECT_EQ(E_POINTER, det->get_CurrentStream(NULL));
    EXPECT_EQ(E_POINTER, det->get_StreamType(NULL));
    EXPECT_EQ(E_POINTER, det->get_StreamTypeB(NULL));
    EXPECT_EQ(E_POINTER, det->get_StreamLength(NULL));
    EXPECT_EQ(E_POINTER, det->get_StreamMediaType(NULL));
    EXPECT_EQ(E_POINTER, det->get_FrameRate(NULL));
    EXPECT_EQ(E_POINTER, det->get_Filename(NULL));
    EXPECT_TRUE(FAILED(det->put_Filename(NULL)));
}

TEST_F(MediaDetTest, FilenameComesBackAsGiven)
{
    wstr path = join(MediaFolder::path, "movie.avi");
    ASSERT_EQ(S_OK, open(path));
    BSTR name = NULL;
    ASSERT_EQ(S_OK, det->get_Filename(&name));
    ASSERT_TRUE(name != NULL);
    EXPECT_EQ(path, wstr(reinterpret_cast<const char16_t *>(name)));
    SysFreeString(name);
}

// Programs often pass a plain wide string where a BSTR belongs: the name ends at its terminator, whatever
// lies before it.
TEST_F(MediaDetTest, PlainWideStringForName)
{
    wstr path = join(MediaFolder::path, "sound.wav");
    std::vector<WCHAR> buf(path.size() + 3);
    const DWORD junk = 0x7ffffff0;
    memcpy(buf.data(), &junk, sizeof(junk));
    memcpy(buf.data() + 2, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    ASSERT_EQ(S_OK, det->put_Filename(buf.data() + 2));
    EXPECT_EQ(1, streams());
    BSTR name = NULL;
    ASSERT_EQ(S_OK, det->get_Filename(&name));
    ASSERT_TRUE(name != NULL);
    EXPECT_EQ(path, wstr(reinterpret_cast<const char16_t *>(name)));
    SysFreeString(name);
}

// Every put_Filename looks at the file again: another file, and the same name with new contents.
TEST_F(MediaDetTest, ReopeningDetectsAfresh)
{
    ASSERT_EQ(S_OK, open("movie.avi"));
    ASSERT_EQ(S_OK, det->put_CurrentStream(1));
    ASSERT_EQ(S_OK, open("sound.wav"));
    EXPECT_EQ(1, streams());
    LONG current = -1;
    EXPECT_EQ(S_OK, det->get_CurrentStream(&current));
    EXPECT_EQ(0, current);
    EXPECT_EQ(E_INVALIDARG, det->put_CurrentStream(1));

    wstr scratch = join(MediaFolder::path, "scratch.avi");
    ASSERT_TRUE(CopyFileW(W(join(MediaFolder::path, "movie.avi")), W(scratch), FALSE));
    ASSERT_EQ(S_OK, open(scratch));
    EXPECT_EQ(2, streams());
    ASSERT_TRUE(CopyFileW(W(join(MediaFolder::path, "sound.wav")), W(scratch), FALSE));
    ASSERT_EQ(S_OK, open(scratch));
    EXPECT_EQ(1, streams());
    GUID major;
    ASSERT_EQ(S_OK, det->get_StreamType(&major));
    EXPECT_TRUE(IsEqualGUID(major, MEDIATYPE_Audio));

    // New contents of exactly the same size: 1 s at 8 kHz, then 0.5 s at 16 kHz (16000 bytes of samples).
    std::string unix_scratch = unix_name(scratch);
    double length = 0;
    ASSERT_TRUE(run_ffmpeg("-f lavfi -i sine=sample_rate=8000:duration=1 -c:a pcm_s16le", unix_scratch));
    ASSERT_EQ(S_OK, open(scratch));
    ASSERT_EQ(S_OK, det->get_StreamLength(&length));
    EXPECT_NEAR(1.0, length, 0.01);
    ASSERT_TRUE(run_ffmpeg("-f lavfi -i sine=sample_rate=16000:duration=0.5 -c:a pcm_s16le", unix_scratch));
    ASSERT_EQ(S_OK, open(scratch));
    ASSERT_EQ(S_OK, det->get_StreamLength(&length));
    EXPECT_NEAR(0.5, length, 0.01);
}

// A file that cannot be read fails cleanly, and nothing of the file before it is reported afterwards.
TEST_F(MediaDetTest, UnreadableFilesFail)
{
    wstr folder = MediaFolder::path;
    wstr text = join(folder, "notes.avi");
    wstr empty = join(folder, "empty.wav");
    wstr cut = join(folder, "cut.avi");
    ASSERT_TRUE(write_text(text, "These are not moving pictures.\r\n"));
    ASSERT_TRUE(write_text(empty, ""));
    ASSERT_TRUE(copy_prefix(join(folder, "movie.avi"), cut, 2000));
    const wstr bad[] = {
        text, empty, cut, join(folder, "missing.avi"), join(folder, "no such folder\\movie.avi"), folder,
        u"Q:\\nowhere\\movie.avi", u"\\\\?\\", u"",
    };
    for (const wstr &path : bad)
    {
        SCOPED_TRACE(to_utf8(path));
        ASSERT_EQ(S_OK, open("movie.avi"));
        EXPECT_TRUE(FAILED(open(path)));
        LONG count = -1;
        EXPECT_EQ(E_INVALIDARG, det->get_OutputStreams(&count));
        GUID major;
        EXPECT_EQ(E_INVALIDARG, det->get_StreamType(&major));
        BSTR name = (BSTR)1;
        EXPECT_EQ(S_OK, det->get_Filename(&name));
        EXPECT_TRUE(name == NULL);
    }
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), open(join(folder, "missing.avi")));
}

// A damaged file must not hang the caller: the detector gives up after a few seconds.
TEST_F(MediaDetTest, DamagedFilesDoNotHang)
{
    wstr folder = MediaFolder::path;
    const struct { const char *from, *to; DWORD bytes; } cuts[] = {
        {"movie.wmv", "head.wmv", 300},
        {"movie.mpg", "head.mpg", 4000},
        {"sound.mp3", "head.mp3", 700},
        {"still.jpg", "head.jpg", 400},
    };
    for (const auto &c : cuts)
    {
        SCOPED_TRACE(c.to);
        wstr path = join(folder, c.to);
        ASSERT_TRUE(copy_prefix(join(folder, c.from), path, c.bytes));
        ULONGLONG start = GetTickCount64();
        HRESULT hr = open(path);
        EXPECT_LT(GetTickCount64() - start, 12000u);
        if (SUCCEEDED(hr))
        {
            LONG count = streams();
            EXPECT_GE(count, 1);
            for (LONG i = 0; i < count; i++)
            {
                double length = -1;
                ASSERT_EQ(S_OK, det->put_CurrentStream(i));
                EXPECT_EQ(S_OK, det->get_StreamLength(&length));
                EXPECT_GE(length, 0.0);
                EXPECT_LE(length, 3.0);
            }
        }
    }
}

// ---- Paths as the programs pass them ----

// A Shift-JIS name whose characters end in the byte 0x5C ('\'), converted as the programs convert it.
TEST_F(MediaDetTest, JapaneseNames)
{
    const char folder_sjis[] = "素材ソフト";
    const char file_sjis[] = "表示能力.avi";
    ASSERT_TRUE(strchr(folder_sjis, '\\') && strchr(file_sjis, '\\')) << "the names must hold 0x5C bytes";
    wstr folder = MediaFolder::path + u"\\" + from_codepage(932, folder_sjis);
    wstr path = folder + u"\\" + from_codepage(932, file_sjis);
    ASSERT_EQ(5u, from_codepage(932, folder_sjis).size());
    ASSERT_EQ(8u, from_codepage(932, file_sjis).size());
    ASSERT_TRUE(CreateDirectoryW(W(folder), NULL))
        << "error " << GetLastError() << ": Wine stores no Japanese file names unless the Unix locale it runs"
        << " in (LANG/LC_ALL) is installed";
    ASSERT_TRUE(CopyFileW(W(join(MediaFolder::path, "movie.avi")), W(path), TRUE)) << GetLastError();

    ASSERT_EQ(S_OK, open(path));
    EXPECT_EQ(2, streams());
    double length = 0;
    EXPECT_EQ(S_OK, det->get_StreamLength(&length));
    EXPECT_NEAR(2.0, length, 1 / 15.0);
    BSTR name = NULL;
    ASSERT_EQ(S_OK, det->get_Filename(&name));
    EXPECT_EQ(path, wstr(reinterpret_cast<const char16_t *>(name)));
    SysFreeString(name);
}

// The longest path a program's MAX_PATH buffer holds: 259 characters.
TEST_F(MediaDetTest, PathOf259Characters)
{
    const wstr file = u"\\long.wav";
    wstr path = MediaFolder::path;
    ASSERT_LT(path.size() + file.size() + 2, 259u);
    size_t room = 259 - path.size() - file.size();
    for (char16_t letter = u'a'; room > 0; letter++)
    {
        size_t n = room - 1;
        if (n > 120) n = room - 121 >= 2 ? 120 : room - 3;
        path += u"\\" + wstr(n, letter);
        room -= n + 1;
        ASSERT_TRUE(CreateDirectoryW(W(path), NULL)) << GetLastError();
    }
    path += file;
    ASSERT_EQ(259u, path.size());
    ASSERT_TRUE(CopyFileW(W(join(MediaFolder::path, "sound.wav")), W(path), TRUE));

    ASSERT_EQ(S_OK, open(path));
    EXPECT_EQ(1, streams());
    double length = 0;
    EXPECT_EQ(S_OK, det->get_StreamLength(&length));
    EXPECT_NEAR(2.0, length, 0.001);
}

// Drive Z: is the Unix root, as the file dialog returns it.
TEST_F(MediaDetTest, UnixRootDrive)
{
    std::string unix_path = unix_name(join(MediaFolder::path, "sound.mp3"));
    ASSERT_EQ('/', unix_path[0]);
    wstr path = u"Z:" + from_codepage(CP_UTF8, unix_path.c_str());
    for (char16_t &c : path)
        if (c == u'/') c = u'\\';
    ASSERT_EQ(S_OK, open(path));
    EXPECT_EQ(1, streams());
    GUID major;
    ASSERT_EQ(S_OK, det->get_StreamType(&major));
    EXPECT_TRUE(IsEqualGUID(major, MEDIATYPE_Audio));
}

} // namespace
