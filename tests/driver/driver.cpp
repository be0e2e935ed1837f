// UI driver for end-to-end tests (see driver.h).
//
// Starting programs: the build makes NAME.exe (a shell launcher) and NAME.exe.so (the Winelib module).
// CreateProcess on the launcher, or start.exe /unix, runs it as a Unix script: no handle to the
// program, no exit code, no job. A placeholder PE made by winebuild --fake-module is loaded as the
// main program only from system32. CreateProcess on NAME.exe.so itself loads the module in a new Wine
// process and gives a real handle, pid and exit code (first window after 50-170 ms with the wineserver
// running). So the driver starts NAME.exe.so, with the launcher's path as argv[0] and the module's
// folder put in front of WINEDLLPATH, as the launcher does. GetModuleFileName in the program then
// ends in ".exe.so". A Windows executable (the mingw-w64 build, a PE file) is started as it is.
//
// Dropping files: Wine does not carry an HDROP across processes; one made here reads as garbage in
// the program. The driver writes the DROPFILES block into the program's own memory (VirtualAllocEx +
// WriteProcessMemory) and posts WM_DROPFILES with that address. DragQueryFile and DragQueryPoint lock
// it as fixed memory; DragFinish's free of it fails quietly, leaving one small block per drop.
#include "driver.h"

#include <commctrl.h>
#include <shlobj.h>

#include <zlib.h>

#include <algorithm>
#include <string.h>

#ifndef SUITE_DRIVER_BUILD_DIR
#define SUITE_DRIVER_BUILD_DIR ""
#endif

namespace drv {

namespace {

typedef std::u16string wstr;

const WCHAR *W(const wstr &s) { return reinterpret_cast<const WCHAR *>(s.c_str()); }

wstr widen(const std::string &s, UINT cp = CP_ACP)
{
    if (s.empty()) return wstr();
    int n = MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), NULL, 0);
    wstr out(n, 0);
    MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), reinterpret_cast<WCHAR *>(&out[0]), n);
    return out;
}

std::string narrow(const WCHAR *s, int len = -1, UINT cp = CP_ACP)
{
    if (!s) return std::string();
    if (len < 0) len = lstrlenW(s);
    if (!len) return std::string();
    int n = WideCharToMultiByte(cp, 0, s, len, NULL, 0, NULL, NULL);
    std::string out(n, 0);
    WideCharToMultiByte(cp, 0, s, len, &out[0], n, NULL, NULL);
    return out;
}

std::string narrow(const wstr &s, UINT cp = CP_ACP) { return narrow(W(s), (int)s.size(), cp); }

bool isUnix(const std::string &path) { return !path.empty() && path[0] == '/'; }

// The variable through the wide call: GetEnvironmentVariableA cuts Japanese values short in Wine 8.
std::string envVar(const char *name)
{
    WCHAR buf[4096];
    DWORD n = GetEnvironmentVariableW(W(widen(name)), buf, 4096);
    return n && n < 4096 ? narrow(buf, (int)n) : std::string();
}

// Unix path in the file system's own encoding (UTF-8) for DOS or CP932 Unix PATH.
std::string unixBytes(const std::string &path)
{
    if (isUnix(path)) return narrow(widen(path), CP_UTF8);
    char *u = wine_get_unix_file_name(W(widen(path)));
    if (!u) return std::string();
    std::string out = u;
    HeapFree(GetProcessHeap(), 0, u);
    return out;
}

// The last '\\' of a CP932 DOS path, stepping over whole characters.
size_t lastSeparator(const std::string &path)
{
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); i++) {
        if (IsDBCSLeadByte((BYTE)path[i]) && i + 1 < path.size()) { i++; continue; }
        if (path[i] == '\\' || path[i] == '/') last = i;
    }
    return last;
}

// '*' in PATTERN matches any run of bytes ('*' is never part of a CP932 character).
bool matches(const char *pattern, const char *s)
{
    if (*pattern == '*') {
        for (const char *p = s;; p++) {
            if (matches(pattern + 1, p)) return true;
            if (!*p) return false;
        }
    }
    if (!*pattern) return !*s;
    return *pattern == *s && matches(pattern + 1, s + 1);
}

// Wine shows a dialog when a program crashes and keeps the program until someone clicks it; a test
// wants the exit code (0xC0000005 ...) and the backtrace on stderr instead. The setting lives in the
// prefix's registry, so the driver makes it before its first start.
void noCrashDialog()
{
    static bool done;
    if (done) return;
    done = true;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineDbg", 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL))
        return;
    DWORD off = 0;
    RegSetValueExA(key, "ShowCrashDialog", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&off), sizeof off);
    RegCloseKey(key);
}

HANDLE theJob()
{
    static HANDLE job = [] {
        HANDLE j = CreateJobObjectA(NULL, NULL);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (j) SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return j;
    }();
    return job;
}

std::vector<HANDLE> &started()
{
    static std::vector<HANDLE> list;
    return list;
}

// One argument, quoted so that CommandLineToArgvW and the C runtime read it back unchanged.
wstr quoteArg(const wstr &arg)
{
    if (!arg.empty() && arg.find_first_of(u" \t\"") == wstr::npos) return arg;
    wstr out = u"\"";
    size_t slashes = 0;
    for (char16_t c : arg) {
        if (c == u'\\') { slashes++; continue; }
        if (c == u'"') out.append(slashes * 2 + 1, u'\\');
        else out.append(slashes, u'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, u'\\');
    out += u'"';
    return out;
}

// The test's environment with WINEDLLPATH led by DLLDIR (when there is one) and the EXTRA entries set.
std::vector<char16_t> environmentBlock(const std::string &dlldir, const std::vector<std::string> &extra)
{
    std::vector<wstr> vars;
    WCHAR *env = GetEnvironmentStringsW();
    for (WCHAR *p = env; *p; p += lstrlenW(p) + 1) vars.push_back(wstr(reinterpret_cast<char16_t *>(p)));
    FreeEnvironmentStringsW(env);

    auto set = [&vars](const wstr &name, const wstr &value) {
        wstr key = name + u"=";
        for (auto &v : vars) {
            if (v.size() >= key.size() && CompareStringOrdinal(W(v), (int)key.size(), W(key),
                                                               (int)key.size(), TRUE) == CSTR_EQUAL) {
                v = key + value;
                return;
            }
        }
        vars.push_back(key + value);
    };
    auto get = [&vars](const wstr &name) {
        wstr key = name + u"=";
        for (auto &v : vars)
            if (v.compare(0, key.size(), key) == 0) return v.substr(key.size());
        return wstr();
    };
    wstr old = get(u"WINEDLLPATH");
    if (!dlldir.empty()) set(u"WINEDLLPATH", widen(dlldir, CP_UTF8) + (old.empty() ? u"" : u":" + old));
    for (const auto &e : extra) {
        size_t eq = e.find('=', 1);
        if (eq == std::string::npos) continue;
        set(widen(e.substr(0, eq)), widen(e.substr(eq + 1)));
    }
    std::vector<char16_t> block;
    for (auto &v : vars) {
        block.insert(block.end(), v.begin(), v.end());
        block.push_back(0);
    }
    block.push_back(0);
    return block;
}

struct FindData {
    DWORD pid;
    const char *cls, *title;
    std::vector<HWND> found;
};

BOOL CALLBACK collectTop(HWND wnd, LPARAM lp)
{
    FindData *d = reinterpret_cast<FindData *>(lp);
    if (!IsWindowVisible(wnd)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (d->pid && pid != d->pid) return TRUE;
    if (d->cls && className(wnd) != d->cls) return TRUE;
    if (d->title) {
        char title[1024] = "";
        GetWindowTextA(wnd, title, sizeof title);
        if (!matches(d->title, title)) return TRUE;
    }
    d->found.push_back(wnd);
    return TRUE;
}

struct ChildSearch {
    const char *cls, *text;
    HWND found;
};

BOOL CALLBACK searchChild(HWND wnd, LPARAM lp)
{
    ChildSearch *s = reinterpret_cast<ChildSearch *>(lp);
    if (s->cls && className(wnd) != s->cls) return TRUE;
    if (s->text && !matches(s->text, text(wnd).c_str())) return TRUE;
    s->found = wnd;
    return FALSE;
}

const int kMessageTextId = 0xFFFF;   // the message text of a message box
const int kFileNameId = 0x47c;       // the file name field of the common file dialogs
const int kFileNameEditId = 0x480;   // the same field in dialogs that use a plain edit

HWND fileNameField(HWND dlg)
{
    HWND field = GetDlgItem(dlg, kFileNameId);
    if (!field) field = GetDlgItem(dlg, kFileNameEditId);
    return field;
}

// The edit the user types the name into: the field itself, or the edit inside its combo box.
HWND fileNameEdit(HWND dlg)
{
    HWND field = fileNameField(dlg);
    if (!field || className(field) == "Edit") return field;
    ChildSearch s = {"Edit", NULL, NULL};
    EnumChildWindows(field, searchChild, reinterpret_cast<LPARAM>(&s));
    return s.found ? s.found : field;
}

// ---- image files

void put16(std::string &s, unsigned v) { s += char(v & 255); s += char(v >> 8 & 255); }
void put32(std::string &s, unsigned v) { put16(s, v & 0xffff); put16(s, v >> 16); }
void put32be(std::string &s, unsigned v)
{
    s += char(v >> 24 & 255); s += char(v >> 16 & 255); s += char(v >> 8 & 255); s += char(v & 255);
}

// RGB rows, top row first, 3 bytes a pixel.
std::string encodeBmp(const std::vector<unsigned char> &rgb, int w, int h)
{
    int stride = (w * 3 + 3) & ~3;
    std::string s = "BM";
    put32(s, 54 + stride * h); put32(s, 0); put32(s, 54);
    put32(s, 40); put32(s, w); put32(s, h); put16(s, 1); put16(s, 24); put32(s, BI_RGB);
    put32(s, stride * h); put32(s, 2835); put32(s, 2835); put32(s, 0); put32(s, 0);
    std::string row(stride, 0);
    for (int y = h - 1; y >= 0; y--) {
        const unsigned char *src = &rgb[(size_t)y * w * 3];
        for (int x = 0; x < w; x++) {
            row[x * 3] = src[x * 3 + 2]; row[x * 3 + 1] = src[x * 3 + 1]; row[x * 3 + 2] = src[x * 3];
        }
        s += row;
    }
    return s;
}

void pngChunk(std::string &out, const char *type, const std::string &data)
{
    put32be(out, (unsigned)data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    put32be(out, (unsigned)crc32(0, reinterpret_cast<const Bytef *>(body.data()), (uInt)body.size()));
}

std::string encodePng(const std::vector<unsigned char> &rgb, int w, int h)
{
    std::string raw;
    raw.reserve((size_t)(w * 3 + 1) * h);
    for (int y = 0; y < h; y++) {
        raw += '\0';
        raw.append(reinterpret_cast<const char *>(&rgb[(size_t)y * w * 3]), (size_t)w * 3);
    }
    uLongf size = compressBound(raw.size());
    std::string packed(size, 0);
    if (compress2(reinterpret_cast<Bytef *>(&packed[0]), &size, reinterpret_cast<const Bytef *>(raw.data()),
                  raw.size(), 6) != Z_OK)
        return std::string();
    packed.resize(size);
    std::string out = "\x89PNG\r\n\x1a\n";
    std::string head;
    put32be(head, w); put32be(head, h);
    head += char(8); head += char(2); head += char(0); head += char(0); head += char(0);
    pngChunk(out, "IHDR", head);
    pngChunk(out, "IDAT", packed);
    pngChunk(out, "IEND", std::string());
    return out;
}

} // namespace

// ---- paths and files -------------------------------------------------------------------------

std::string buildDir()
{
    std::string dir = envVar("SUITE_BUILD_DIR");
    return dir.empty() ? std::string(SUITE_DRIVER_BUILD_DIR) : dir;
}

namespace {

// True when FILE (Unix path) begins as a PE executable does.
bool isPortableExecutable(const std::string &file)
{
    HANDLE f = CreateFileA(dosPath(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    char magic[2] = {};
    DWORD got = 0;
    BOOL ok = ReadFile(f, magic, sizeof magic, &got, NULL);
    CloseHandle(f);
    return ok && got == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

} // namespace

std::string programPath(const std::string &name)
{
    // The programs of another build (the Windows executables) when SUITE_PROGRAMS_DIR names its folder.
    std::string programs = envVar("SUITE_PROGRAMS_DIR");
    std::string root = programs.empty() ? buildDir() : programs;
    if (root.empty()) return std::string();
    std::vector<std::string> dirs = {root + "/" + name, root + "/tests/" + name, root};
    // Every folder one and two levels down, for programs whose target sits elsewhere.
    std::vector<std::string> level = {root};
    for (int depth = 0; depth < 2; depth++) {
        std::vector<std::string> next;
        for (const auto &d : level) {
            WIN32_FIND_DATAA fd;
            HANDLE h = FindFirstFileA((dosPath(d) + "\\*").c_str(), &fd);
            if (h == INVALID_HANDLE_VALUE) continue;
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || fd.cFileName[0] == '.') continue;
                if (!strcmp(fd.cFileName, "CMakeFiles")) continue;
                next.push_back(d + "/" + fd.cFileName);
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        std::sort(next.begin(), next.end());
        dirs.insert(dirs.end(), next.begin(), next.end());
        level = next;
    }
    for (const auto &d : dirs) {
        std::string exe = d + "/" + name + ".exe";
        if (fileExists(exe + ".so")) return fileExists(exe) ? exe : exe + ".so";
        if (isPortableExecutable(exe)) return exe;
    }
    return std::string();
}

std::string dosPath(const std::string &path)
{
    if (!isUnix(path)) return path;
    WCHAR *dos = wine_get_dos_file_name(narrow(widen(path), CP_UTF8).c_str());
    if (!dos) return std::string();
    std::string out = narrow(dos);
    HeapFree(GetProcessHeap(), 0, dos);
    return out;
}

std::string unixPath(const std::string &path)
{
    if (path.empty() || isUnix(path)) return path;
    std::string bytes = unixBytes(path);
    return bytes.empty() ? bytes : narrow(widen(bytes, CP_UTF8));
}

bool fileExists(const std::string &path)
{
    return GetFileAttributesA(dosPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

long long fileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(dosPath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

std::string readFile(const std::string &path)
{
    HANDLE f = CreateFileA(dosPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string data;
    char buf[65536];
    DWORD got;
    while (ReadFile(f, buf, sizeof buf, &got, NULL) && got) data.append(buf, got);
    CloseHandle(f);
    return data;
}

bool writeFile(const std::string &path, const std::string &data)
{
    HANDLE f = CreateFileA(dosPath(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = data.empty() || WriteFile(f, data.data(), (DWORD)data.size(), &done, NULL);
    CloseHandle(f);
    return ok && done == data.size();
}

std::vector<std::string> readLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::string data = readFile(path);
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

namespace {

void removeTree(const std::string &dos)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dos + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
            std::string item = dos + "\\" + fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(item);
            } else {
                SetFileAttributesA(item.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(item.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dos.c_str());
}

} // namespace

TempDir::TempDir(const std::string &tag)
{
    static unsigned counter;
    for (int attempt = 0; attempt < 100; attempt++) {
        char name[MAX_PATH];
        wsprintfA(name, "/tmp/suite-%s-%lu-%u", tag.c_str(), GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(dosPath(name).c_str(), NULL)) {
            path_ = name;
            return;
        }
    }
}

TempDir::~TempDir()
{
    if (path_.empty() || !envVar("SUITE_KEEP_TMP").empty()) return;
    removeTree(dosPath(path_));
}

std::string TempDir::dos() const { return dosPath(path_); }
std::string TempDir::file(const std::string &name) const { return path_ + "/" + name; }
std::string TempDir::dos(const std::string &name) const { return dos() + "\\" + name; }

// ---- processes -------------------------------------------------------------------------------

Process::Process(const std::string &program, const std::vector<std::string> &args,
                 const LaunchOptions &options)
{
    start(program, args, options);
}

Process::~Process()
{
    close();
}

Process::Process(Process &&other) noexcept
    : process_(other.process_), pid_(other.pid_), error_(std::move(other.error_)),
      command_line_(std::move(other.command_line_))
{
    other.process_ = NULL;
    other.pid_ = 0;
}

Process &Process::operator=(Process &&other) noexcept
{
    if (this != &other) {
        close();
        process_ = other.process_;
        pid_ = other.pid_;
        error_ = std::move(other.error_);
        command_line_ = std::move(other.command_line_);
        other.process_ = NULL;
        other.pid_ = 0;
    }
    return *this;
}

bool Process::start(const std::string &program, const std::vector<std::string> &args,
                    const LaunchOptions &options)
{
    close();
    error_.clear();
    std::string dos = dosPath(program);
    if (dos.empty()) {
        error_ = "no DOS path for " + program;
        return false;
    }
    // A Winelib program runs as its module NAME.exe.so; a Windows executable runs as it is.
    std::string exe = dos, module = dos, dir;
    if (dos.size() > 3 && !lstrcmpiA(dos.c_str() + dos.size() - 3, ".so")) exe.resize(dos.size() - 3);
    else if (!isPortableExecutable(dos)) module += ".so";
    if (!fileExists(module)) {
        error_ = "no program module " + module;
        return false;
    }
    if (module != exe) {
        dir = unixBytes(module);
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? std::string() : dir.substr(0, slash);
    }

    wstr cmd = quoteArg(widen(exe));
    for (const auto &a : args) cmd += u" " + quoteArg(widen(a));
    command_line_ = narrow(cmd);
    std::vector<char16_t> env = environmentBlock(dir, options.env);
    wstr cwd = options.cwd.empty() ? wstr() : widen(dosPath(options.cwd));

    noCrashDialog();
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi = {};
    wstr app = widen(module);
    std::vector<char16_t> cmdbuf(cmd.begin(), cmd.end());
    cmdbuf.push_back(0);
    if (!CreateProcessW(W(app), reinterpret_cast<WCHAR *>(cmdbuf.data()), NULL, NULL, FALSE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, env.data(),
                        cwd.empty() ? NULL : W(cwd), &si, &pi)) {
        char msg[64];
        wsprintfA(msg, " failed, error %lu", GetLastError());
        error_ = "CreateProcess " + module + msg;
        return false;
    }
    if (HANDLE job = theJob()) AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    HANDLE copy;
    if (DuplicateHandle(GetCurrentProcess(), process_, GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS))
        started().push_back(copy);
    return true;
}

bool Process::running() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Process::wait(DWORD ms)
{
    return process_ && WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
}

long long Process::exitCode(DWORD ms)
{
    if (!wait(ms)) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

void Process::kill()
{
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
}

void Process::close()
{
    kill();
    if (process_) CloseHandle(process_);
    process_ = NULL;
    pid_ = 0;
}

HWND Process::window(const char *cls, const char *title, DWORD ms) const
{
    return pid_ ? waitWindow(pid_, cls, title, ms) : NULL;
}

MessageBoxInfo Process::messageBox(DWORD ms) const
{
    return pid_ ? waitMessageBox(pid_, ms) : MessageBoxInfo();
}

HWND Process::fileDialog(DWORD ms) const
{
    return pid_ ? waitFileDialog(pid_, ms) : NULL;
}

void killAll()
{
    if (HANDLE job = theJob()) TerminateJobObject(job, 1);
    for (HANDLE h : started()) {
        if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
    started().clear();
}

// ---- windows ---------------------------------------------------------------------------------

bool waitUntil(const std::function<bool()> &cond, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (GetTickCount() - start >= ms) return false;
        // Keep our own queue moving: windows of this process may be waiting on us.
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(15);
    }
}

std::vector<HWND> topWindows(DWORD pid, const char *cls, const char *title)
{
    FindData d = {pid, cls, title, {}};
    EnumWindows(collectTop, reinterpret_cast<LPARAM>(&d));
    return d.found;
}

HWND findWindow(DWORD pid, const char *cls, const char *title)
{
    std::vector<HWND> found = topWindows(pid, cls, title);
    return found.empty() ? NULL : found.front();
}

HWND waitWindow(DWORD pid, const char *cls, const char *title, DWORD ms)
{
    HWND found = NULL;
    waitUntil([&] { return (found = findWindow(pid, cls, title)) != NULL; }, ms);
    return found;
}

bool waitGone(HWND wnd, DWORD ms)
{
    return waitUntil([wnd] { return !IsWindow(wnd) || !IsWindowVisible(wnd); }, ms);
}

std::string describeWindows(DWORD pid)
{
    std::string out;
    for (HWND w : topWindows(pid)) {
        char line[1400], title[1024] = "";
        GetWindowTextA(w, title, sizeof title);
        wsprintfA(line, "%p %s \"%s\" owner %p\n", w, className(w).c_str(), title, GetWindow(w, GW_OWNER));
        out += line;
    }
    return out.empty() ? "(no visible windows)\n" : out;
}

namespace {

struct IdSearch {
    int id;
    HWND found;
};

BOOL CALLBACK searchId(HWND wnd, LPARAM lp)
{
    IdSearch *s = reinterpret_cast<IdSearch *>(lp);
    if (GetDlgCtrlID(wnd) != s->id) return TRUE;
    s->found = wnd;
    return FALSE;
}

} // namespace

HWND child(HWND parent, int id)
{
    if (!parent) return NULL;
    if (HWND direct = GetDlgItem(parent, id)) return direct;
    IdSearch s = {id, NULL};
    EnumChildWindows(parent, searchId, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND findChild(HWND parent, const char *cls, const char *txt)
{
    ChildSearch s = {cls, txt, NULL};
    if (parent) EnumChildWindows(parent, searchChild, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string className(HWND wnd)
{
    char name[256] = "";
    if (wnd) GetClassNameA(wnd, name, sizeof name);
    return name;
}

std::string text(HWND wnd)
{
    if (!wnd) return std::string();
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kWait, &len)) return std::string();
    std::vector<char> buf(len * 2 + 2, 0);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             kWait, &got))
        return std::string();
    return std::string(buf.data(), std::min<size_t>(got, strlen(buf.data())));
}

std::string text(HWND parent, int id) { return text(child(parent, id)); }

bool setText(HWND wnd, const std::string &value)
{
    DWORD_PTR res = 0;
    return wnd && SendMessageTimeoutA(wnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()), SMTO_ABORTIFHUNG,
                                      kWait, &res) && res;
}

bool setText(HWND parent, int id, const std::string &value) { return setText(child(parent, id), value); }

bool enabled(HWND wnd) { return wnd && IsWindowEnabled(wnd); }
bool visible(HWND wnd) { return wnd && IsWindowVisible(wnd); }

bool command(HWND wnd, int id)
{
    return wnd && PostMessageA(wnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool click(HWND parent, int id)
{
    HWND button = child(parent, id);
    if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button)) return false;
    return PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

LRESULT send(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, DWORD ms)
{
    DWORD_PTR res = 0;
    if (!SendMessageTimeoutA(wnd, msg, wp, lp, SMTO_NORMAL, ms, &res)) return -1;
    return (LRESULT)res;
}

bool post(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return PostMessageA(wnd, msg, wp, lp);
}

bool sync(HWND wnd, DWORD ms)
{
    // A sent message is handled before the posted ones still waiting, so one round trip can come back
    // while an earlier posted command is yet to run. Round trips go on until two in a row come back at
    // once: a thread that is still working through posted commands holds one of them up.
    DWORD start = GetTickCount();
    int quick = 0;
    while (quick < 2) {
        DWORD used = GetTickCount() - start;
        DWORD_PTR res;
        if (used >= ms || !SendMessageTimeoutA(wnd, WM_NULL, 0, 0, SMTO_NORMAL, ms - used, &res)) return false;
        quick = GetTickCount() - start - used < 20 ? quick + 1 : 0;
        Sleep(5);
    }
    return true;
}

// ---- combo boxes, list boxes, buttons, track bars ----------------------------------------------

int comboCount(HWND combo) { return (int)send(combo, CB_GETCOUNT); }
int comboSelection(HWND combo) { return (int)send(combo, CB_GETCURSEL); }

std::string comboItem(HWND combo, int index)
{
    // CB_GETLBTEXT through the ANSI message comes back as UTF-16 across processes in Wine: ask in UTF-16.
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, index, 0, SMTO_ABORTIFHUNG, kWait, &len) || (LONG_PTR)len < 0)
        return std::string();
    std::vector<WCHAR> buf(len + 1, 0);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             kWait, &got) || (LONG_PTR)got < 0)
        return std::string();
    return narrow(buf.data(), (int)std::min<DWORD_PTR>(got, len));
}

std::vector<std::string> comboItems(HWND combo)
{
    std::vector<std::string> items;
    int n = comboCount(combo);
    for (int i = 0; i < n; i++) items.push_back(comboItem(combo, i));
    return items;
}

bool comboSelect(HWND combo, int index)
{
    if (!combo || index < 0 || index >= comboCount(combo)) return false;
    if (send(combo, CB_SETCURSEL, index) != index) return false;
    HWND parent = GetParent(combo);
    return PostMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(combo));
}

bool comboSelect(HWND combo, const std::string &item)
{
    std::vector<std::string> items = comboItems(combo);
    auto it = std::find(items.begin(), items.end(), item);
    return it != items.end() && comboSelect(combo, (int)(it - items.begin()));
}

int listCount(HWND list) { return (int)send(list, LB_GETCOUNT); }
int listSelection(HWND list) { return (int)send(list, LB_GETCURSEL); }

std::string listItem(HWND list, int index)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, index, 0, SMTO_ABORTIFHUNG, kWait, &len) || (LONG_PTR)len < 0)
        return std::string();
    std::vector<WCHAR> buf(len + 1, 0);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, kWait,
                             &got) || (LONG_PTR)got < 0)
        return std::string();
    return narrow(buf.data(), (int)std::min<DWORD_PTR>(got, len));
}

std::vector<std::string> listItems(HWND list)
{
    std::vector<std::string> items;
    int n = listCount(list);
    for (int i = 0; i < n; i++) items.push_back(listItem(list, i));
    return items;
}

bool checked(HWND button) { return send(button, BM_GETCHECK) == BST_CHECKED; }

int trackPos(HWND track) { return (int)send(track, TBM_GETPOS); }

bool setTrackPos(HWND track, int pos)
{
    if (!track || send(track, TBM_SETPOS, TRUE, pos) == -1) return false;
    pos = trackPos(track);
    UINT msg = GetWindowLongA(track, GWL_STYLE) & TBS_VERT ? WM_VSCROLL : WM_HSCROLL;
    HWND parent = GetParent(track);
    return PostMessageA(parent, msg, MAKEWPARAM(TB_THUMBPOSITION, pos), reinterpret_cast<LPARAM>(track)) &&
           PostMessageA(parent, msg, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(track));
}

// ---- message boxes ---------------------------------------------------------------------------

HWND findMessageBox(DWORD pid)
{
    // Dialogs of the programs' own may have labels with the same id; a message box has no input fields.
    for (HWND w : topWindows(pid, "#32770"))
        if (GetDlgItem(w, kMessageTextId) && !fileNameField(w) && !findChild(w, "Edit") && !findChild(w, "ComboBox"))
            return w;
    return NULL;
}

MessageBoxInfo waitMessageBox(DWORD pid, DWORD ms)
{
    MessageBoxInfo info;
    waitUntil([&] { return (info.hwnd = findMessageBox(pid)) != NULL; }, ms);
    if (info.hwnd) {
        info.caption = text(info.hwnd);
        info.text = messageText(info.hwnd);
    }
    return info;
}

std::string messageText(HWND box) { return text(box, kMessageTextId); }

bool answer(HWND box, int id, DWORD ms)
{
    return click(box, id) && waitGone(box, ms);
}

// ---- common file dialogs ---------------------------------------------------------------------

HWND findFileDialog(DWORD pid)
{
    for (HWND w : topWindows(pid, "#32770")) {
        HWND field = fileNameField(w);
        if (field && IsWindowVisible(field) && GetDlgItem(w, IDOK)) return w;
    }
    return NULL;
}

HWND waitFileDialog(DWORD pid, DWORD ms)
{
    HWND found = NULL;
    waitUntil([&] { return (found = findFileDialog(pid)) != NULL; }, ms);
    return found;
}

bool chooseFile(HWND dlg, const std::string &path, bool wait, DWORD ms)
{
    HWND field = fileNameEdit(dlg);
    std::string dos = dosPath(path);
    if (!field || dos.empty() || !setText(field, dos) || !click(dlg, IDOK)) return false;
    return !wait || waitGone(dlg, ms);
}

bool chooseFiles(HWND dlg, const std::vector<std::string> &paths, bool wait, DWORD ms)
{
    if (paths.empty()) return false;
    if (paths.size() == 1) return chooseFile(dlg, paths[0], wait, ms);
    HWND field = fileNameEdit(dlg);
    if (!field) return false;
    std::string folder, names;
    for (const auto &p : paths) {
        std::string dos = dosPath(p);
        size_t cut = lastSeparator(dos);
        if (cut == std::string::npos) return false;
        std::string dir = dos.substr(0, cut);
        if (folder.empty()) folder = dir;
        else if (lstrcmpiA(folder.c_str(), dir.c_str())) return false;   // one folder only
        if (!names.empty()) names += ' ';
        names += '"' + dos.substr(cut + 1) + '"';
    }
    // A folder typed in the name field and confirmed makes the dialog go there and clear the field.
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES || !setText(field, folder + "\\"))
        return false;
    HWND ok = child(dlg, IDOK);
    if (send(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok), ms) == -1 ||
        !IsWindowVisible(dlg))
        return false;
    if (!setText(field, names) || !click(dlg, IDOK)) return false;
    return !wait || waitGone(dlg, ms);
}

bool cancelDialog(HWND dlg, DWORD ms)
{
    return dlg && PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                               reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL))) &&
           waitGone(dlg, ms);
}

// ---- drag and drop ---------------------------------------------------------------------------

bool dropFiles(HWND wnd, const std::vector<std::string> &paths, POINT at, bool wide)
{
    if (!wnd || paths.empty()) return false;
    std::string block(sizeof(DROPFILES), 0);
    DROPFILES *head = reinterpret_cast<DROPFILES *>(&block[0]);
    head->pFiles = sizeof(DROPFILES);
    head->pt = at;
    head->fNC = FALSE;
    head->fWide = wide;
    for (const auto &p : paths) {
        std::string dos = dosPath(p);
        if (dos.empty()) return false;
        if (wide) {
            wstr w = widen(dos);
            block.append(reinterpret_cast<const char *>(w.c_str()), (w.size() + 1) * 2);
        } else {
            block.append(dos.c_str(), dos.size() + 1);
        }
    }
    block.append(wide ? 2 : 1, '\0');

    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!proc) return false;
    void *remote = VirtualAllocEx(proc, NULL, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    SIZE_T done = 0;
    bool ok = remote && WriteProcessMemory(proc, remote, block.data(), block.size(), &done) &&
              done == block.size() && PostMessageA(wnd, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    if (!ok && remote) VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    CloseHandle(proc);
    return ok;
}

// ---- screenshots -----------------------------------------------------------------------------

bool screenshot(const std::string &path, HWND wnd)
{
    RECT r = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
    r.right = r.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    r.bottom = r.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (wnd) {
        RECT w;
        if (!GetWindowRect(wnd, &w) || !IntersectRect(&r, &r, &w)) return false;
    }
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;

    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    bool ok = false;
    std::vector<unsigned char> rgb;
    if (bmp) {
        HGDIOBJ old = SelectObject(mem, bmp);
        ok = BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        if (ok) {
            rgb.resize((size_t)width * height * 3);
            const unsigned char *src = static_cast<const unsigned char *>(bits);
            for (size_t i = 0; i < (size_t)width * height; i++) {
                rgb[i * 3] = src[i * 4 + 2];
                rgb[i * 3 + 1] = src[i * 4 + 1];
                rgb[i * 3 + 2] = src[i * 4];
            }
        }
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    if (!ok) return false;

    bool png = path.size() > 4 && !lstrcmpiA(path.c_str() + path.size() - 4, ".png");
    std::string data = png ? encodePng(rgb, width, height) : encodeBmp(rgb, width, height);
    return !data.empty() && writeFile(path, data);
}

} // namespace drv
