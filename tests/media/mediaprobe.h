// What the tests read back from media files, through ffprobe and ffmpeg (Unix paths).
#pragma once
#include <string>

namespace probe {

// Runs a shell command and returns what it printed on standard output.
std::string Run(const std::string &command);

// "key=value" lines of ffprobe's stream entries for one stream ("v:0", "a:0"), and one value of them.
std::string Stream(const std::string &file, const char *stream, const char *entries);
std::string Value(const std::string &text, const char *key);

// Frames ffmpeg decodes from the first video stream, -1 when there is none.
int DecodedFrames(const std::string &file);
// Seconds of sound ffmpeg decodes from the first audio stream, -1 when there is none.
double AudioSeconds(const std::string &file);
// RMS level (0..1) of the first audio stream between two times in seconds, -1 when there is none.
double AudioLevel(const std::string &file, double from, double to);
// Mean of each colour channel (0..255) of the video frame shown at time t; false when there is none.
bool FrameColour(const std::string &file, double t, double rgb[3]);

}  // namespace probe
