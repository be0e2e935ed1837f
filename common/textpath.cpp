#include <windows.h>
#include "textpath.h"

const char *FindLastChar(const char *s, char c)
{
    const char *found = NULL;
    for (const char *p = s; *p; p = CharNextA(p))
        if (*p == c) found = p;
    return found;
}

const char *FileNamePart(const char *path)
{
    const char *sep = FindLastChar(path, '\\');
    return sep ? sep + 1 : path;
}

const char *ExtensionPart(const char *name)
{
    const char *dot = FindLastChar(name, '.');
    return dot ? dot + 1 : NULL;
}

void CopyText(char *dst, const char *src, int size)
{
    if (size <= 0) return;
    int n = 0;
    for (const char *p = src; *p;) {
        const char *next = CharNextA(p);
        if (next == p) break;
        if (n + (next - p) > size - 1) break;
        while (p < next) dst[n++] = *p++;
    }
    dst[n] = 0;
}
