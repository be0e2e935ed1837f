// Where the new file goes, and whether two names are one file.
#include "dubrix.h"
#include <string.h>
#include "textpath.h"

// The start of the file name: after the last '\', '/' or the drive's ':', scanned by whole characters.
static const char *NamePart(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; p = CharNextA(p))
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    return name;
}

bool FormOutputPath(const char *avi, char *out, int size)
{
    static const char suffix[] = "_.avi";
    const char *dot = FindLastChar(NamePart(avi), '.');
    int keep = dot ? (int)(dot - avi) : (int)strlen(avi);
    if (keep + (int)sizeof suffix > size) {
        if (size > 0) out[0] = 0;
        return false;
    }
    memcpy(out, avi, keep);
    memcpy(out + keep, suffix, sizeof suffix);
    return true;
}

// Volume and file index of an existing file; false when it cannot be opened.
static bool FileIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return ok;
}

bool SameFile(const char *a, const char *b)
{
    char fullA[MAX_PATH], fullB[MAX_PATH];
    DWORD na = GetFullPathNameA(a, sizeof fullA, fullA, NULL);
    DWORD nb = GetFullPathNameA(b, sizeof fullB, fullB, NULL);
    if (na && na < sizeof fullA && nb && nb < sizeof fullB && lstrcmpiA(fullA, fullB) == 0) return true;
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    return FileIdentity(a, &infoA) && FileIdentity(b, &infoB) &&
           infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
}
