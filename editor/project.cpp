// Project files: the settings and the whole item table saved and opened as one binary image.
#include "sequora.h"
#include <stdio.h>
#include <string.h>
#include "projectimage.h"
#include "textpath.h"

static const char projectFilter[] = "SQPﾌｧｲﾙ (*.sqp)\0*.sqp\0";

bool SaveProject(const char *name)
{
    HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written;
    bool ok = WriteFile(file, &settings, sizeof settings, &written, NULL) && written == sizeof settings &&
              WriteFile(file, &itemCount, sizeof itemCount, &written, NULL) && written == sizeof itemCount &&
              WriteFile(file, items, sizeof items, &written, NULL) && written == sizeof items;
    CloseHandle(file);
    return ok;
}

// Reads the whole file, at most one project's size; false when it cannot be opened.
static bool ReadWholeFile(const char *name, unsigned char *data, DWORD *size)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = ReadFile(file, data, PROJECT_FILE_SIZE, size, NULL) != 0;
    CloseHandle(file);
    return ok;
}

// Tells which media files of the list no longer exist.
static void ReportMissingFiles()
{
    char text[512] = "";
    int missing = 0;
    for (int i = 0; i < itemCount; i++) {
        if (GetFileAttributesA(items[i].path) != INVALID_FILE_ATTRIBUTES) continue;
        missing++;
        size_t used = strlen(text);
        snprintf(text + used, sizeof text - used, " %s\n", FileNamePart(items[i].path));
    }
    if (!missing) return;
    char caption[64];
    snprintf(caption, sizeof caption, "%d 個のファイルが見つかりません", missing);
    MessageBoxA(mainWindow, text, caption, MB_OK | MB_ICONINFORMATION);
}

bool OpenProject(const char *name)
{
    if (itemCount > 0 &&
        MessageBoxA(mainWindow, "編集中のデータを破棄しますか？", appName, MB_YESNO | MB_ICONINFORMATION) == IDNO)
        return false;
    static unsigned char data[PROJECT_FILE_SIZE];
    DWORD size = 0;
    if (!ReadWholeFile(name, data, &size)) return false;

    // A damaged file must not be loaded as garbage: the document stays as it was.
    static MediaItem loaded[MAX_ITEMS];
    memcpy(loaded, items, sizeof items);
    OutputSettings loadedSettings;
    int count;
    if (!ReadProjectImage(data, size, &loadedSettings, &count, loaded)) {
        MessageBoxA(mainWindow, "ﾌﾟﾛｼﾞｪｸﾄﾌｧｲﾙが壊れているため読み込めません", appName, MB_OK | MB_ICONWARNING);
        return false;
    }
    settings = loadedSettings;
    itemCount = count;
    memcpy(items, loaded, sizeof items);
    for (int i = itemCount; i < MAX_ITEMS; i++) SetItemDefaults(&items[i]);

    if (selectedItem >= itemCount) selectedItem = -1;
    ShowSelection();
    if (itemCount == 0) {
        SetScrollRanges(CONTENT_WIDTH, 0);
        return false;
    }
    ReportMissingFiles();
    return true;
}

// The project dialogs over the main window; false on cancel.
static bool RunProjectDialog(bool save, char *name)
{
    name[0] = 0;
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainWindow;
    ofn.lpstrFilter = projectFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = MAX_PATH;
    if (save) {
        ofn.Flags = OFN_OVERWRITEPROMPT;
        return GetSaveFileNameA(&ofn) != 0;
    }
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return GetOpenFileNameA(&ofn) != 0;
}

void SaveProjectCommand()
{
    char name[MAX_PATH];
    if (!RunProjectDialog(true, name)) return;
    if (!strchr(name, '.')) {
        if (strlen(name) + 4 >= sizeof name) return;  // no room for the extension: nothing is written
        strcat(name, ".sqp");
    }
    SaveProject(name);
}

bool OpenProjectCommand()
{
    char name[MAX_PATH];
    return RunProjectDialog(false, name) && OpenProject(name);
}
