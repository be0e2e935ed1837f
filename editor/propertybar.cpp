// The property bar: a rebar of four bands (zoom, effect, image time, fade), each a toolbar hosting a label
// and its controls, routing their notifications to the media list.
#include "sequora.h"
#include <string.h>

HWND propertyBar;
HWND zoomTrackbar, changeButton, effectCombo, effectSpanTrackbar, imageTimeEdit, fadeTrackbar;

enum { ZOOM_BAND, EFFECT_BAND, IMAGE_TIME_BAND, FADE_BAND, BAND_COUNT };
static WNDPROC toolbarProcs[BAND_COUNT];

static HFONT ControlFont()
{
    HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    return font ? font : (HFONT)GetStockObject(ANSI_VAR_FONT);
}

static SIZE TextSize(HWND window, const char *text)
{
    SIZE size = {0, 0};
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, ControlFont());
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return size;
}

static LRESULT PassOn(int band, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(toolbarProcs[band], window, message, wParam, lParam);
}

static LRESULT CALLBACK ZoomBandProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHOWWINDOW) {
        SendMessageA(zoomTrackbar, TBM_SETPOS, TRUE, zoom);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDC_CHANGEBUTTON) {
        ReplaceItemFile();
    } else if (message == WM_HSCROLL) {
        RelayOutAll();
    }
    return PassOn(ZOOM_BAND, window, message, wParam, lParam);
}

static LRESULT CALLBACK EffectBandProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && wParam == MAKEWPARAM(IDC_EFFECTCOMBO, CBN_SELCHANGE))
        SetSelectedEffect((int)SendMessageA(effectCombo, CB_GETCURSEL, 0, 0));
    else if (message == WM_HSCROLL)
        SetSelectedEffectSpan((int)SendMessageA(effectSpanTrackbar, TBM_GETPOS, 0, 0));
    return PassOn(EFFECT_BAND, window, message, wParam, lParam);
}

static LRESULT CALLBACK ImageTimeBandProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && wParam == MAKEWPARAM(IDC_IMAGETIMEEDIT, EN_CHANGE)) {
        char text[16] = "";
        GetWindowTextA(imageTimeEdit, text, sizeof text);
        SetSelectedImageTime(text);
    }
    return PassOn(IMAGE_TIME_BAND, window, message, wParam, lParam);
}

static LRESULT CALLBACK FadeBandProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HSCROLL) SetSelectedFadeStart((int)SendMessageA(fadeTrackbar, TBM_GETPOS, 0, 0));
    return PassOn(FADE_BAND, window, message, wParam, lParam);
}

static const WNDPROC bandProcs[BAND_COUNT] = {ZoomBandProc, EffectBandProc, ImageTimeBandProc, FadeBandProc};

// One band under construction: its toolbar, height and the controls laid out so far.
struct BandLayout {
    int band;
    HWND toolbar;
    int height;
    int labelLeft, right;
};

static bool BeginBand(BandLayout *layout, int band, const char *label)
{
    layout->band = band;
    layout->toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, NULL,
                                      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TBSTYLE_FLAT |
                                          TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE,
                                      0, 0, 0, 0, mainWindow, NULL, GetModuleHandleA(NULL), NULL);
    if (!layout->toolbar) return false;
    SendMessageA(layout->toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON) == 20 ? 20 : sizeof(TBBUTTON), 0);
    toolbarProcs[band] = (WNDPROC)SetWindowLongPtrA(layout->toolbar, GWLP_WNDPROC, (LONG_PTR)bandProcs[band]);
    layout->height = HIWORD(SendMessageA(layout->toolbar, TB_GETBUTTONSIZE, 0, 0));

    SIZE text = TextSize(layout->toolbar, label);
    int y = (layout->height - text.cy) / 2;
    HWND labelWindow = CreateWindowExA(0, "STATIC", label, WS_CHILD | WS_VISIBLE, 0, y < 0 ? 0 : y, text.cx,
                                       text.cy, layout->toolbar, NULL, GetModuleHandleA(NULL), NULL);
    if (!labelWindow) return false;
    SendMessageA(labelWindow, WM_SETFONT, (WPARAM)ControlFont(), FALSE);
    layout->labelLeft = 0;
    layout->right = text.cx;
    return true;
}

// The next control of a band, right of the previous one.
static HWND AddControl(BandLayout *layout, DWORD exStyle, const char *className, const char *text, DWORD style,
                       int width, int id, int height = 0)
{
    int x = layout->right - layout->labelLeft + 1;
    HWND control = CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, 0, width,
                                   height ? height : layout->height, layout->toolbar, (HMENU)(INT_PTR)id,
                                   GetModuleHandleA(NULL), NULL);
    if (!control) return NULL;
    layout->right = x + width;
    return control;
}

static void SetUpTrackbar(HWND trackbar, int low, int high, int tick)
{
    SendMessageA(trackbar, TBM_SETTICFREQ, tick, 0);
    SendMessageA(trackbar, TBM_SETRANGE, TRUE, MAKELPARAM(low, high));
}

static bool EndBand(BandLayout *layout)
{
    REBARBANDINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE;
    info.fStyle = RBBS_BREAK | RBBS_NOGRIPPER;
    info.hwndChild = layout->toolbar;
    info.cxMinChild = layout->right - layout->labelLeft;
    info.cyMinChild = layout->height;
    return SendMessageA(propertyBar, RB_INSERTBANDA, (WPARAM)-1, (LPARAM)&info) != 0;
}

static const DWORD trackbarStyle = WS_TABSTOP | TBS_AUTOTICKS;

static bool CreateZoomBand()
{
    BandLayout layout;
    if (!EnumerateEffects() || !BeginBand(&layout, ZOOM_BAND, "表示倍率：")) return false;
    zoomTrackbar = AddControl(&layout, 0, TRACKBAR_CLASSA, NULL, trackbarStyle, 200, 0);
    const char *caption = "変更...";
    changeButton = AddControl(&layout, 0, "BUTTON", caption, WS_TABSTOP,
                              TextSize(layout.toolbar, caption).cx + 10, IDC_CHANGEBUTTON);
    if (!zoomTrackbar || !changeButton) return false;
    SendMessageA(changeButton, WM_SETFONT, (WPARAM)ControlFont(), FALSE);
    SetUpTrackbar(zoomTrackbar, 1, 72, 36);
    SendMessageA(zoomTrackbar, TBM_SETPOS, TRUE, zoom);
    return EndBand(&layout);
}

static bool CreateEffectBand()
{
    BandLayout layout;
    if (!EnumerateEffects() || !BeginBand(&layout, EFFECT_BAND, "効果：")) return false;
    int widest = 0;
    for (int i = 0; i < effects.count; i++) {
        int width = TextSize(layout.toolbar, effects.names[i]).cx;
        if (width > widest) widest = width;
    }
    effectCombo = AddControl(&layout, 0, "COMBOBOX", NULL, WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST, widest + 30,
                             IDC_EFFECTCOMBO, 400);
    if (!effectCombo) return false;
    SendMessageA(effectCombo, WM_SETFONT, (WPARAM)ControlFont(), FALSE);
    for (int i = 0; i < effects.count; i++) SendMessageA(effectCombo, CB_ADDSTRING, 0, (LPARAM)effects.names[i]);
    SendMessageA(effectCombo, CB_SETCURSEL, 0, 0);
    effectSpanTrackbar = AddControl(&layout, 0, TRACKBAR_CLASSA, NULL, trackbarStyle, 100, 0);
    if (!effectSpanTrackbar) return false;
    SetUpTrackbar(effectSpanTrackbar, 0, 1000, 500);
    return EndBand(&layout);
}

static bool CreateImageTimeBand()
{
    BandLayout layout;
    if (!BeginBand(&layout, IMAGE_TIME_BAND, "画像表示時間：")) return false;
    imageTimeEdit = AddControl(&layout, WS_EX_CLIENTEDGE, "EDIT", NULL, WS_TABSTOP | ES_RIGHT | ES_NOHIDESEL, 103,
                               IDC_IMAGETIMEEDIT);
    if (!imageTimeEdit) return false;
    SendMessageA(imageTimeEdit, WM_SETFONT, (WPARAM)ControlFont(), FALSE);
    SendMessageA(imageTimeEdit, EM_LIMITTEXT, 16, 0);
    return EndBand(&layout);
}

static bool CreateFadeBand()
{
    BandLayout layout;
    if (!BeginBand(&layout, FADE_BAND, "音量減衰開始時間：")) return false;
    fadeTrackbar = AddControl(&layout, 0, TRACKBAR_CLASSA, NULL, trackbarStyle, 140, 0);
    if (!fadeTrackbar) return false;
    SetUpTrackbar(fadeTrackbar, 0, 1000, 500);
    return EndBand(&layout);
}

bool CreatePropertyBar()
{
    propertyBar = CreateWindowExA(WS_EX_TOOLWINDOW, REBARCLASSNAMEA, NULL,
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_BORDER |
                                      RBS_AUTOSIZE | RBS_FIXEDORDER | RBS_BANDBORDERS | CCS_NODIVIDER |
                                      CCS_NOPARENTALIGN,
                                  0, 0, 0, 0, mainWindow, (HMENU)IDC_PROPERTYBAR, GetModuleHandleA(NULL), NULL);
    return propertyBar && CreateZoomBand() && CreateEffectBand() && CreateImageTimeBand() && CreateFadeBand();
}
