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

