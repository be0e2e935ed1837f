// The media list: how names arrive and are checked, stream detection, edits and the selection.
#include "sequora.h"
#include <stdio.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include "textpath.h"

static const char *const acceptedExtensions[] = {
    "wav", "wma", "au", "aif", "mp3", "avi", "mpg", "mpeg", "bmp", "gif", "jpg", "jpeg", "tga",
};

void SetItemDefaults(MediaItem *item)
{
    char incoming[MAX_PATH];
    memcpy(incoming, item->incoming, sizeof incoming);
    memset(item, 0, sizeof *item);
    memcpy(item->incoming, incoming, sizeof incoming);  // the scratch slot keeps what was placed there
    item->effectSpan = 300;
    item->fadeStart = 1000;
    item->imageTime = 5.0;
}

double ItemLength(const MediaItem *item)
{
    return item->streams[0].length != 0 ? item->streams[0].length : item->imageTime;
}

int BlockWidth(const MediaItem *item)
{
    return (int)(ItemLength(item) * 20) / zoom;
}

// Puts a name into the next incoming slot, cut to 259 bytes by whole characters.
static void PlaceIncoming(int slot, const char *name)
{
    CopyText(items[slot].incoming, name, MAX_PATH);
}

static bool IsAcceptedExtension(const char *ext)
{
    for (const char *accepted : acceptedExtensions)
        if (lstrcmpiA(ext, accepted) == 0) return true;
    return false;
}

int AddIncomingNames(int offered)
{
    if (offered <= 0) return ADD_NOTHING;
    const char *first = ExtensionPart(items[0].incoming);
    if (first && lstrcmpiA(first, "sqp") == 0)
        return OpenProject(items[0].incoming) ? ADD_PROJECT_OPENED : ADD_NOTHING;

    firstNewItem = itemCount;
    for (int i = 0; i < offered; i++) {
        if (firstNewItem + i >= MAX_ITEMS) {
            MessageBoxA(mainWindow, "ファイル数が制限を越えました", appName, MB_OK | MB_SETFOREGROUND);
            break;
        }
        const char *name = items[i].incoming;
        const char *ext = ExtensionPart(name);
        if (!ext || !IsAcceptedExtension(ext)) continue;
        // A folder is no media file, whatever its name looks like.
        DWORD attributes = GetFileAttributesA(name);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        CopyText(items[itemCount].path, name, MAX_PATH);
        itemCount++;
    }
    return itemCount > firstNewItem ? ADD_ITEMS_APPENDED : ADD_NOTHING;
}

// The process's own arguments, split as Windows splits a command line (blanks separate, quotation
// marks group), into the incoming slots; returns the number of arguments.
int SplitCommandLine(const char *arguments)
{
    int count = 0;
    const char *p = arguments;
    for (;;) {
        while (*p == ' ' || *p == '\t') p++;
        if (!*p) break;
        char name[MAX_PATH * 4] = "";  // an over-long argument is cut when it is placed
        int n = 0;
        bool quoted = false;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++) {
            if (*p == '"') {
                quoted = !quoted;
                continue;
            }
            if (n < (int)sizeof name - 1) name[n++] = *p;
        }
        name[n] = 0;
        if (count < MAX_ITEMS) PlaceIncoming(count, name);
        count++;
    }
    return count;
}

// A second instance's command line, split from its end into the incoming slots: the last argument goes
// to slot 0. Returns the number of names to offer, 257 when there are more than 256, and 0 when nothing
// is to be added.
int SplitForwardedCommandLine(char *text)
{
    int placed = 0;
    int length = (int)strlen(text);
    while (length > 0) {
        if (placed == MAX_ITEMS) {
            placed++;  // more names than slots: the add stops with the limit message
            break;
        }
        bool last = false;
        char *token;
        if (text[length - 1] != '"') {
            char *blank = NULL;
            for (char *p = text; p < text + length; p = CharNextA(p))
                if (*p == ' ') blank = p;
            if (blank) {
                token = blank + 1;
                *blank = 0;
                length = (int)(blank - text);
            } else {
                token = text;
                last = true;
            }
        } else {
            text[--length] = 0;
            char *mark = NULL;
            for (char *p = text; p < text + length; p = CharNextA(p))
                if (*p == '"') mark = p;
            if (!mark) {
                token = text;
                last = true;
            } else {
                token = mark + 1;
                *mark = 0;
                length = (int)(mark - text);
                if (length == 0) last = true;
                else text[--length] = 0;  // the blank before the opening mark
            }
        }
        PlaceIncoming(placed++, token);
        if (last) break;
    }
    if (placed == 0 || items[0].incoming[0] == 0) return 0;
    return placed;
}

int TakeDroppedFiles(HDROP drop)
{
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0);
    UINT placed = count < MAX_ITEMS ? count : MAX_ITEMS;
    for (UINT i = 0; i < placed; i++) {
        char name[MAX_PATH * 2] = "";
        DragQueryFileA(drop, i, name, sizeof name);
        PlaceIncoming(i, name);
    }
    DragFinish(drop);
    SetForegroundWindow(mainWindow);
    return AddIncomingNames((int)count);
}

static const char mediaFilter[] =
    "ﾒﾃﾞｨｱﾌｧｲﾙ\0*.avi;*.mpg;*.mpeg;*.wav;*.wma;*.au;*.aif;*.mp3;*.bmp;*.gif;*.jpg;*.jpeg;*.tga\0"
    "ﾑｰﾋﾞｰﾌｧｲﾙ (*.avi; *.mpg)\0*.avi;*.mpg\0"
    "ｵｰﾃﾞｨｵﾌｧｲﾙ (*.wav; *.wma; *.au; *.aif; *.mp3)\0*.wav;*.wma;*.au;*.aif;*.mp3\0"
    "ｲﾒｰｼﾞﾌｧｲﾙ (*.bmp; *.gif; *.jpg; *.tga)\0*.bmp;*.gif;*.jpg;*.tga\0";

static char dialogBuffer[16640];

// Runs the open dialog over the main window and places the chosen names into the incoming slots;
// returns how many, 0 on cancel.
static int RunOpenDialog(bool multiple)
{
    memset(dialogBuffer, 0, sizeof dialogBuffer);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainWindow;
    ofn.lpstrFilter = mediaFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = dialogBuffer;
    ofn.nMaxFile = sizeof dialogBuffer;
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (multiple) ofn.Flags |= OFN_ALLOWMULTISELECT | OFN_EXPLORER;
    if (!GetOpenFileNameA(&ofn)) return 0;
    if (!multiple || ofn.nFileOffset <= strlen(dialogBuffer)) {
        PlaceIncoming(0, dialogBuffer);
        return 1;
    }
    // The folder, then the names, each ended by NUL, the list by an empty name.
    const char *folder = dialogBuffer;
    const char *sep = FindLastChar(folder, '\\');
    const char *joint = sep && sep[1] == 0 ? "" : "\\";   // a drive root already ends in '\'
    int count = 0;
    for (const char *name = folder + strlen(folder) + 1; *name && count < MAX_ITEMS;
         name += strlen(name) + 1) {
        char joined[sizeof dialogBuffer];
        snprintf(joined, sizeof joined, "%s%s%s", folder, joint, name);
        PlaceIncoming(count++, joined);
    }
    return count;
}

int AddFromOpenDialog()
{
    int count = RunOpenDialog(true);
    return count ? AddIncomingNames(count) : ADD_NOTHING;
}

void LayOutNewItems()
{
    for (int row = firstNewItem; row < itemCount; row++) {
        MediaItem *item = &items[row];
        DetectStreams(item);
        item->start = 0;
        SetRect(&item->block, 0, row * rowHeight, BlockWidth(item), (row + 1) * rowHeight);
    }
    SetScrollRanges(CONTENT_WIDTH, itemCount ? items[itemCount - 1].block.bottom : 0);
    RepaintView(false);
    LayOutMainWindow();
}

void DetectStreams(MediaItem *item)
{
    IMediaDet *detector = NULL;
    if (FAILED(CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&detector)))
        return;
    WCHAR widePath[MAX_PATH * 2] = {0};
    MultiByteToWideChar(CP_ACP, 0, item->path, -1, widePath, MAX_PATH * 2 - 1);
    BSTR name = SysAllocString(widePath);
    HRESULT hr = detector->put_Filename(name);
    SysFreeString(name);
    if (FAILED(hr)) {
        detector->Release();
        return;
    }
    LONG count = 0;
    item->streamCount = 0;
    if (SUCCEEDED(detector->get_OutputStreams(&count)) && count > 0) {
        item->streamCount = count > 2 ? 2 : (int)count;
        for (int i = 0; i < item->streamCount; i++) {
            if (FAILED(detector->put_CurrentStream(i))) continue;
            double length = 0;
            if (FAILED(detector->get_StreamLength(&length))) length = 0;
            item->streams[i].length = length;
            memset(&item->streams[i].majorType, 0, sizeof(GUID));
            detector->get_StreamType(&item->streams[i].majorType);
        }
    }
    detector->Release();
}

void DeleteSelectedItem()
{
    if (selectedItem < 0 || selectedItem >= itemCount || itemCount == 0) return;
    for (int i = selectedItem; i < itemCount - 1; i++) {
        items[i] = items[i + 1];
        items[i].block.top -= rowHeight;
        items[i].block.bottom -= rowHeight;
    }
    SetItemDefaults(&items[itemCount - 1]);
    itemCount--;
    if (selectedItem >= itemCount) selectedItem = -1;
    SetScrollRanges(CONTENT_WIDTH, itemCount ? items[itemCount - 1].block.bottom : 0);
    ShowSelection();
}

// Exchanges two neighbouring records; the one at `upper` moves down a row, the other up.
static void SwapWithNext(int upper)
{
    MediaItem moved = items[upper];
    items[upper] = items[upper + 1];
    items[upper + 1] = moved;
    items[upper].block.top -= rowHeight;
    items[upper].block.bottom -= rowHeight;
    items[upper + 1].block.top += rowHeight;
    items[upper + 1].block.bottom += rowHeight;
}

void MoveSelectedItemUp()
{
    if (selectedItem < 1 || selectedItem >= itemCount || itemCount < 2) return;
    SwapWithNext(selectedItem - 1);
    selectedItem--;
    RepaintView(true);
}

void MoveSelectedItemDown()
{
    if (selectedItem < 0 || selectedItem >= itemCount - 1 || itemCount < 2) return;
    SwapWithNext(selectedItem);
    selectedItem++;
    RepaintView(true);
}

void ReplaceItemFile()
{
    if (selectedItem < 0 || selectedItem >= itemCount) return;
    if (!RunOpenDialog(false)) return;
    MediaItem *item = &items[selectedItem];
    CopyText(item->path, items[0].incoming, MAX_PATH);
    DetectStreams(item);
    item->block.right = item->block.left + BlockWidth(item);
    RepaintView(true);
    ShowSelection();   // the bar shows the new file's kind: a still's time, or none
}

static bool HasOnly(const MediaItem *item, REFGUID majorType)
{
    return item->streamCount == 1 && IsEqualGUID(item->streams[0].majorType, majorType);
}

void ShowSelection()
{
    bool selected = selectedItem >= 0 && selectedItem < itemCount;
    if (selected) {
        const MediaItem *item = &items[selectedItem];
        SendMessageA(effectCombo, CB_SETCURSEL, item->effect, 0);
        SendMessageA(effectSpanTrackbar, TBM_SETPOS, TRUE, item->effectSpan);
        SendMessageA(fadeTrackbar, TBM_SETPOS, TRUE, item->fadeStart);
        SendMessageA(propertyBar, RB_SHOWBAND, 3, !HasOnly(item, MEDIATYPE_Video));
        SendMessageA(propertyBar, RB_SHOWBAND, 1, !HasOnly(item, MEDIATYPE_Audio));
        if (item->streams[0].length != 0) {
            SendMessageA(propertyBar, RB_SHOWBAND, 2, FALSE);
        } else {
            SendMessageA(propertyBar, RB_SHOWBAND, 2, TRUE);
            char text[64];
            snprintf(text, sizeof text, "%f", item->imageTime);
            SetWindowTextA(imageTimeEdit, text);
            SendMessageA(imageTimeEdit, EM_SETSEL, 0, -1);
        }
        EnableWindow(changeButton, TRUE);
    } else {
        for (int band = 1; band <= 3; band++) SendMessageA(propertyBar, RB_SHOWBAND, band, FALSE);
        EnableWindow(changeButton, FALSE);
    }
    LayOutMainWindow();
    RepaintView(true);
}

static MediaItem *SelectedItem()
{
    return selectedItem >= 0 && selectedItem < itemCount ? &items[selectedItem] : NULL;
}

void SetSelectedEffect(int effect)
{
    if (MediaItem *item = SelectedItem()) item->effect = effect;
}

void SetSelectedEffectSpan(int span)
{
    if (MediaItem *item = SelectedItem()) item->effectSpan = span;
}

void SetSelectedFadeStart(int fadeStart)
{
    if (MediaItem *item = SelectedItem()) item->fadeStart = fadeStart;
}

void SetSelectedImageTime(const char *text)
{
    MediaItem *item = SelectedItem();
    if (!item) return;
    char buffer[16];
    lstrcpynA(buffer, text, sizeof buffer);
    double value = atof(buffer);
    if (!(value > 0) || !isfinite(value)) return;   // no number, 0 or less, or past any number (1e400)
    if (value > MAX_ITEM_SECONDS) {
        // the edit box shows what is stored
        value = MAX_ITEM_SECONDS;
        snprintf(buffer, sizeof buffer, "%f", value);
        SetWindowTextA(imageTimeEdit, buffer);
    }
    item->imageTime = value;
    if (item->streams[0].length == 0) {
        item->block.right = item->block.left + (int)(item->imageTime * 20 / zoom);
        RepaintView(true);
    }
}
