// The timeline view: every item a coloured block on its own row, scrolled over a 10000-pixel-wide area.
#include "sequora.h"
#include <string.h>
#include "textpath.h"

struct ScrollAxis {
    int bar;          // SB_HORZ or SB_VERT
    int maximum, page, requested;
    int offset;       // what the bar reports
    int lastScrolled; // offset at which the content was last scrolled
};

static ScrollAxis horizontal = {SB_HORZ}, vertical = {SB_VERT};
static bool dragging;
static int dragAnchor;
static HCURSOR sizeCursor, savedCursor;
static int lastHover = -1;

void RepaintView(bool erase)
{
    if (timelineView) InvalidateRect(timelineView, NULL, erase);
}

// Applies range, page and position together and reads back the position the bar keeps.
static void ApplyAxis(ScrollAxis *axis)
{
    SCROLLINFO info = {sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS, 0, axis->maximum, (UINT)axis->page,
                       axis->requested};
    SetScrollInfo(timelineView, axis->bar, &info, TRUE);
    info.fMask = SIF_POS;
    GetScrollInfo(timelineView, axis->bar, &info);
    axis->offset = info.nPos;
}

// Moves the window content by what the offsets changed since the last scroll.
static void ScrollContent()
{
    int dx = horizontal.lastScrolled - horizontal.offset;
    int dy = vertical.lastScrolled - vertical.offset;
    if (dx || dy) ScrollWindowEx(timelineView, dx, dy, NULL, NULL, NULL, NULL, SW_INVALIDATE | SW_ERASE);
    horizontal.lastScrolled = horizontal.offset;
    vertical.lastScrolled = vertical.offset;
}

void SetScrollRanges(int horizontalMax, int verticalMax)
{
    if (!timelineView) return;
    horizontal.maximum = horizontalMax;
    vertical.maximum = verticalMax;
    ApplyAxis(&horizontal);
    ApplyAxis(&vertical);
    ScrollContent();
}

void RelayOutAll()
{
    zoom = (int)SendMessageA(zoomTrackbar, TBM_GETPOS, 0, 0);
    if (zoom < 1) zoom = 1;
    for (int i = 0; i < itemCount; i++) {
        MediaItem *item = &items[i];
        int left = (int)(item->start / 10000000.0 * 20 / zoom);
        SetRect(&item->block, left, i * rowHeight, left + BlockWidth(item), (i + 1) * rowHeight);
    }
    RepaintView(true);
}

HFONT ViewFont()
{
    // the dialog font: the default font of a device context here has no underscore at its size
    HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    return font ? font : (HFONT)GetStockObject(ANSI_VAR_FONT);
}

int TextRowHeight(HDC dc)
{
    HGDIOBJ old = SelectObject(dc, ViewFont());
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    return metrics.tmHeight + 1;
}

static void Paint(HWND view)
{
    static const COLORREF fills[2][2] = {
        // [hovered][selected]
        {RGB(127, 127, 0), RGB(0, 127, 127)},
        {RGB(60, 60, 0), RGB(0, 80, 80)},
    };
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(view, &ps);
    HBRUSH brushes[2][2];
    for (int h = 0; h < 2; h++)
        for (int s = 0; s < 2; s++) brushes[h][s] = CreateSolidBrush(fills[h][s]);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    HGDIOBJ oldFont = SelectObject(dc, ViewFont());
    for (int i = 0; i < itemCount; i++) {
        RECT block = items[i].block;
        OffsetRect(&block, -horizontal.offset, -vertical.offset);
        FillRect(dc, &block, brushes[i == hoverItem][i == selectedItem]);
        if (FindLastChar(items[i].path, '\\'))
            DrawTextA(dc, FileNamePart(items[i].path), -1, &block, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    SelectObject(dc, oldFont);
    for (int h = 0; h < 2; h++)
        for (int s = 0; s < 2; s++) DeleteObject(brushes[h][s]);
    EndPaint(view, &ps);
}

static void OnSize(int width, int height)
{
    horizontal.page = width + 1;
    if (horizontal.page >= horizontal.maximum) horizontal.requested = 0;
    vertical.page = height + 1;
    if (vertical.page >= vertical.maximum) vertical.requested = 0;
    ApplyAxis(&horizontal);
    ApplyAxis(&vertical);
    ScrollContent();
}

static void OnScroll(ScrollAxis *axis, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case SB_LINEUP:
        if (axis->requested != 0) axis->requested--;
        break;
    case SB_LINEDOWN:
        if (axis->requested < axis->maximum - 1) axis->requested++;
        break;
    case SB_PAGEUP:
        axis->requested -= axis->page;
        break;
    case SB_PAGEDOWN:
        axis->requested += axis->page;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        axis->requested = HIWORD(wParam);
        break;
    case SB_TOP:
        axis->requested = 0;
        break;
    case SB_BOTTOM:
        axis->requested = axis->maximum;
        break;
    }
    int before = axis->offset;
    ApplyAxis(axis);
    axis->requested = axis->offset;
    if (axis->offset != before) {
        int dx = axis == &horizontal ? before - axis->offset : 0;
        int dy = axis == &vertical ? before - axis->offset : 0;
        ScrollWindowEx(timelineView, dx, dy, NULL, NULL, NULL, NULL, SW_INVALIDATE | SW_ERASE);
        axis->lastScrolled = axis->offset;
    }
}

static void OnMouseMove(HWND view)
{
    POINT point;
    GetCursorPos(&point);
    POINT screen = point;
    ScreenToClient(view, &point);
    point.x += horizontal.offset;
    point.y += vertical.offset;

    if (!dragging) {
        hoverItem = -1;
        for (int i = 0; i < itemCount; i++)
            if (PtInRect(&items[i].block, point)) {
                hoverItem = i;
                break;
            }
        if (hoverItem != lastHover) {
            RepaintView(true);
            lastHover = hoverItem;
        }
    } else if (selectedItem >= 0 && selectedItem < itemCount) {
        RepaintView(true);
        MediaItem *item = &items[selectedItem];
        int left = item->block.left + (point.x - dragAnchor);
        if (left < 0) left = 0;
        item->block.left = left;
        item->block.right = left + BlockWidth(item);
        item->start = (LONGLONG)left * zoom * 500000;
        dragAnchor = point.x;
    }

    if (GetCapture() != view) return;
    RECT window;
    GetWindowRect(view, &window);
    MediaItem *item = selectedItem >= 0 && selectedItem < itemCount ? &items[selectedItem] : NULL;
    if (screen.x <= window.left) {
        horizontal.requested = horizontal.offset - 20;
        ApplyAxis(&horizontal);
        horizontal.requested = horizontal.offset;
        ScrollContent();
        if (item && item->block.left < 0) OffsetRect(&item->block, -item->block.left, 0);
    } else if (screen.x >= window.right) {
        horizontal.requested = horizontal.offset + 20;
        ApplyAxis(&horizontal);
        horizontal.requested = horizontal.offset;
        ScrollContent();
        if (item && item->block.right > CONTENT_WIDTH) item->block.left -= item->block.right - CONTENT_WIDTH;
    }
}

static void OnButtonDown(HWND view, LPARAM lParam)
{
    dragging = true;
    if (hoverItem >= 0) {
        selectedItem = hoverItem;
        savedCursor = SetCursor(sizeCursor);
    }
    ShowSelection();
    dragAnchor = (short)LOWORD(lParam) + horizontal.offset;
    SetCapture(view);
}

static LRESULT CALLBACK TimelineViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        SCROLLINFO info = {sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0};
        SetScrollInfo(view, SB_HORZ, &info, TRUE);
        SetScrollInfo(view, SB_VERT, &info, TRUE);
        sizeCursor = LoadCursorA(NULL, (LPCSTR)IDC_SIZEWE);
        return 0;
    }
    case WM_SIZE:
        if (timelineView) OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT:
        Paint(view);
        return 0;
    case WM_HSCROLL:
        OnScroll(&horizontal, wParam);
        return 0;
    case WM_VSCROLL:
        OnScroll(&vertical, wParam);
        return 0;
    case WM_MOUSEMOVE:
        OnMouseMove(view);
        return 0;
    case WM_LBUTTONDOWN:
        OnButtonDown(view, lParam);
        return 0;
    case WM_LBUTTONUP:
        dragging = false;
        if (GetCursor() == sizeCursor) SetCursor(savedCursor);
        ReleaseCapture();
        return 0;
    }
    return DefWindowProcA(view, message, wParam, lParam);
}

bool RegisterTimelineViewClass(HINSTANCE instance)
{
    WNDCLASSA viewClass = {};
    viewClass.lpfnWndProc = TimelineViewProc;
    viewClass.hInstance = instance;
    viewClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    viewClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    viewClass.lpszClassName = "CHILDCLASS_Sequora";
    return RegisterClassA(&viewClass) != 0;
}
