// Reading Sequora's timeline view off the screen, as a user sees it: each item is a block on its own row,
// as wide as its length (20 pixels a second at zoom 2), in one of four colours.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct ScreenImage {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height ? pixels[y * width + x] : CLR_INVALID;
    }
};

// The client area of WND as it shows on the screen.
ScreenImage GrabClient(HWND wnd);

enum BlockState { NO_BLOCK, PLAIN, HOVERED, SELECTED, HOVERED_SELECTED };
BlockState StateOf(COLORREF colour);

// Row height of the view: the height of the default font plus one.
int ViewRowHeight();

// Left edge, width and state of each row's block, read along the row's last pixel line, which no text
// covers; stops at the first empty row.
struct Row {
    int left;
    int width;
    BlockState state;
};
std::vector<Row> ReadRows(HWND view);
std::vector<int> RowWidths(HWND view);

// An image of TEXT as the view draws it on a plain block of the given size.
ScreenImage RenderBlockText(const std::string &text, int width, int height);
// True when the block of row ROW shows exactly the image.
bool RowShows(HWND view, int row, const ScreenImage &expected);
