#include "sequora_screen.h"

static ScreenImage FromBitmap(HDC dc, HBITMAP bitmap, int width, int height)
{
    ScreenImage image;
    image.width = width;
    image.height = height;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> raw(width * height);
    GetDIBits(dc, bitmap, 0, height, raw.data(), &info, DIB_RGB_COLORS);
    image.pixels.resize(raw.size());
    for (size_t i = 0; i < raw.size(); i++)
        image.pixels[i] = RGB((raw[i] >> 16) & 0xff, (raw[i] >> 8) & 0xff, raw[i] & 0xff);
    return image;
}

ScreenImage GrabClient(HWND wnd)
{
    RECT client;
    GetClientRect(wnd, &client);
    POINT origin = {0, 0};
    ClientToScreen(wnd, &origin);
    int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return ScreenImage();
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    ScreenImage image = FromBitmap(memory, bitmap, width, height);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return image;
}

BlockState StateOf(COLORREF colour)
{
    switch (colour) {
    case RGB(127, 127, 0): return PLAIN;
    case RGB(60, 60, 0): return HOVERED;
    case RGB(0, 127, 127): return SELECTED;
    case RGB(0, 80, 80): return HOVERED_SELECTED;
    }
    return NO_BLOCK;
}

int ViewRowHeight()
{
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    return metrics.tmHeight + 1;
}

std::vector<Row> ReadRows(HWND view)
{
    ScreenImage image = GrabClient(view);
    int rowHeight = ViewRowHeight();
    std::vector<Row> rows;
    for (int y = rowHeight - 1; y < image.height; y += rowHeight) {
        int left = 0;
        while (left < image.width && StateOf(image.at(left, y)) == NO_BLOCK) left++;
        if (left == image.width) break;
        BlockState state = StateOf(image.at(left, y));
        int right = left;
        while (right < image.width && StateOf(image.at(right, y)) == state) right++;
        rows.push_back({left, right - left, state});
    }
    return rows;
}

std::vector<int> RowWidths(HWND view)
{
    std::vector<int> widths;
    for (const Row &row : ReadRows(view)) widths.push_back(row.width);
    return widths;
}

ScreenImage RenderBlockText(const std::string &text, int width, int height)
{
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT block = {0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(RGB(127, 127, 0));
    FillRect(memory, &block, brush);
    DeleteObject(brush);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(255, 255, 255));
    HGDIOBJ oldFont = SelectObject(memory, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextA(memory, text.c_str(), -1, &block, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(memory, oldFont);
    SelectObject(memory, old);
    ScreenImage image = FromBitmap(memory, bitmap, width, height);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return image;
}

bool RowShows(HWND view, int row, const ScreenImage &expected)
{
    ScreenImage image = GrabClient(view);
    int top = row * ViewRowHeight();
    for (int y = 0; y < expected.height; y++)
        for (int x = 0; x < expected.width; x++)
            if (image.at(x, top + y) != expected.at(x, y)) return false;
    return true;
}
