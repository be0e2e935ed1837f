// Scanning ANSI (Shift-JIS) paths by whole characters: a trail byte may be 0x5C, the backslash.
#pragma once

// The last occurrence of the single-byte character c in s, stepping over double-byte characters;
// NULL when there is none.
const char *FindLastChar(const char *s, char c);

// The text after the last '\' of a path (the whole path when it has none).
const char *FileNamePart(const char *path);

// The text after the last '.' of a name; NULL when the name has no '.'.
const char *ExtensionPart(const char *name);

// Copies at most size-1 bytes of src into dst and terminates it, never cutting a double-byte
// character in half.
void CopyText(char *dst, const char *src, int size);
