// What the fuzzed editor code calls of Win32, for a process without Wine: Shift-JIS character steps,
// case-blind comparison, and windows, dialogs and COM that are not there. The editor's own state lives
// here too, as the program defines it elsewhere.
#include "sequora.h"
#include <commdlg.h>
#include <shellapi.h>
#include <strings.h>

MediaItem items[MAX_ITEMS];
int itemCount, selectedItem = -1, hoverItem = -1, zoom = 2, rowHeight = 16, firstNewItem;
OutputSettings settings;
HWND mainWindow, propertyBar, zoomTrackbar, changeButton, effectCombo, effectSpanTrackbar, imageTimeEdit,
    fadeTrackbar;
const char appName[] = "Sequora";
const GUID CLSID_MediaDet = {}, IID_IMediaDet = {}, MEDIATYPE_Audio = {1}, MEDIATYPE_Video = {2};

static bool LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); }

extern "C" {
LPSTR WINAPI CharNextA(LPCSTR p)
{
    if (!*p) return (LPSTR)p;
    return (LPSTR)(LeadByte(*p) && p[1] ? p + 2 : p + 1);
}
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }
DWORD WINAPI GetFileAttributesA(LPCSTR) { return INVALID_FILE_ATTRIBUTES; }
LRESULT WINAPI SendMessageA(HWND, UINT, WPARAM, LPARAM) { return 0; }
LRESULT WINAPI SendDlgItemMessageA(HWND, INT, UINT, WPARAM, LPARAM) { return 0; }
BOOL WINAPI SetWindowTextA(HWND, LPCSTR) { return TRUE; }
BOOL WINAPI EnableWindow(HWND, BOOL) { return FALSE; }
BOOL WINAPI SetForegroundWindow(HWND) { return TRUE; }
INT WINAPI MessageBoxA(HWND, LPCSTR, LPCSTR, UINT) { return IDOK; }
INT WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR, INT, LPWSTR, INT) { return 0; }
HRESULT WINAPI CoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *out) { *out = NULL; return E_FAIL; }
BSTR WINAPI SysAllocString(LPCOLESTR) { return NULL; }
void WINAPI SysFreeString(BSTR) {}
void WINAPI DragFinish(HDROP) {}
UINT WINAPI DragQueryFileA(HDROP, UINT, LPSTR, UINT) { return 0; }
BOOL WINAPI GetOpenFileNameA(OPENFILENAMEA *) { return FALSE; }
UINT WINAPI GetDlgItemTextA(HWND, INT, LPSTR text, INT size) { if (size > 0) text[0] = 0; return 0; }
BOOL WINAPI SetDlgItemTextA(HWND, INT, LPCSTR) { return TRUE; }
HWND WINAPI GetDlgItem(HWND, INT) { return NULL; }
BOOL WINAPI EndDialog(HWND, INT_PTR) { return TRUE; }
INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM) { return 0; }
HMODULE WINAPI GetModuleHandleA(LPCSTR) { return NULL; }
}

void LayOutMainWindow() {}
bool OpenProject(const char *) { return false; }
void RepaintView(bool) {}
void SetScrollRanges(int, int) {}
