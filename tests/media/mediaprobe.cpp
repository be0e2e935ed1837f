#include "mediaprobe.h"
#include <stdio.h>
#include <stdlib.h>
#include <math.h>
#include <string.h>
#include <vector>

namespace probe {

std::string Run(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
    return out;
}

static std::string Quote(const std::string &file)
{
    std::string quoted = "'";
    for (char c : file) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Stream(const std::string &file, const char *stream, const char *entries)
{
    return Run("ffprobe -v error -select_streams " + std::string(stream) + " -show_entries stream=" + entries +
               " -of default=nw=1 " + Quote(file) + " 2>/dev/null");
}

std::string Value(const std::string &text, const char *key)
{
    std::string k = std::string(key) + "=";
    size_t at = text.find(k);
    if (at == std::string::npos) return "";
    size_t end = text.find('\n', at);
    return text.substr(at + k.size(), end == std::string::npos ? std::string::npos : end - at - k.size());
}

int DecodedFrames(const std::string &file)
{
    std::string t = Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                        "-of default=nw=1:nk=1 " + Quote(file) + " 2>/dev/null");
    return t.empty() ? -1 : atoi(t.c_str());
}

// Mono 8 kHz 16-bit samples of the first audio stream.
static std::vector<short> Samples(const std::string &file)
{
    std::string raw = Run("ffmpeg -v error -nostdin -i " + Quote(file) + " -map 0:a:0 -f s16le -ac 1 -ar 8000 - 2>/dev/null");
    std::vector<short> samples(raw.size() / 2);
    memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

double AudioSeconds(const std::string &file)
{
    std::vector<short> samples = Samples(file);
    return samples.empty() ? -1.0 : samples.size() / 8000.0;
}

double AudioLevel(const std::string &file, double from, double to)
{
    std::vector<short> samples = Samples(file);
    size_t a = (size_t)(from * 8000), b = (size_t)(to * 8000);
    if (samples.empty() || a >= b || b > samples.size()) return -1.0;
    double sum = 0;
    for (size_t i = a; i < b; i++) sum += (double)samples[i] * samples[i];
    return sqrt(sum / (b - a)) / 32768.0;
}

bool FrameColour(const std::string &file, double t, double rgb[3])
{
    char at[32];
    snprintf(at, sizeof at, "%.3f", t);
    std::string raw = Run("ffmpeg -v error -nostdin -ss " + std::string(at) + " -i " + Quote(file) +
                          " -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    if (raw.size() < 3) return false;
    double sum[3] = {0, 0, 0};
    size_t pixels = raw.size() / 3;
    for (size_t i = 0; i < pixels; i++)
        for (int c = 0; c < 3; c++) sum[c] += (unsigned char)raw[i * 3 + c];
    for (int c = 0; c < 3; c++) rgb[c] = sum[c] / pixels;
    return true;
}

}  // namespace probe
