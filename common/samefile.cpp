#include "samefile.h"

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
    if (lstrcmpiA(a, b) == 0) return true;
    char fullA[MAX_PATH], fullB[MAX_PATH];
    DWORD na = GetFullPathNameA(a, sizeof fullA, fullA, NULL);
    DWORD nb = GetFullPathNameA(b, sizeof fullB, fullB, NULL);
    if (na && na < sizeof fullA && nb && nb < sizeof fullB && lstrcmpiA(fullA, fullB) == 0) return true;
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    return FileIdentity(a, &infoA) && FileIdentity(b, &infoB) &&
           infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
}

bool OutputRefused(HRESULT hr)
{
    return hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
}
