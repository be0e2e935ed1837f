// The file end of an editing-services render: the engine's group pins into an AVI or WAV file.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include "editing_services.h"
#include "compressors.h"

// Every group's pin into an AVI multiplexer and file writer for path; video through the selected
// compressor. secondType is the media type of the second connection of each pin (NULL for any,
// MEDIATYPE_Audio in the cutter). True once the multiplexer is set up.
bool BuildAviChain(IGraphBuilder *graph, IRenderEngine *engine, IAMTimeline *timeline, const char *path,
                   CompressorList *compressors, const GUID *secondType);

// Every group's pin through WavDest into a File Writer that overwrites path. True when the last pin
// connection succeeded.
bool BuildWavChain(IGraphBuilder *graph, IRenderEngine *engine, const char *path);
