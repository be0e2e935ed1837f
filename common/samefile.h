// One file under any of its names, for every program: an output must never be one of its inputs.
#pragma once
#include <windows.h>

// Whether two paths name one file: the same text or full name without regard to case, or, when both
// exist, the same file (volume and file index) reached by another spelling: links, short names, "..".
bool SameFile(const char *a, const char *b);

// Whether a graph's run was refused because its output is a file being read (the writer's sharing
// violation), to be reported as the program's "output is the input" message.
bool OutputRefused(HRESULT hr);
