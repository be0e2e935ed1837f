/* What a file's header says of its length. A demuxer reads a file cut short to its end and stops there
 * as if it were whole; held against the header, the end tells whether it is. */
#include "glue/statedlength.h"

#include <glib/gstdio.h>
#include <stdio.h>
#include <string.h>

static uint32_t rd32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
static uint16_t rd16(const uint8_t *p) { return p[0] | p[1] << 8; }

/* The main header comes first, within the first few hundred bytes. */
static int64_t avi_length(const uint8_t *head, size_t n, int64_t *slack_ns)
{
    for (size_t q = 12; q + 8 + 56 <= n; q++)
        if (!memcmp(head + q, "avih", 4) && rd32(head + q + 4) >= 56) {
            uint32_t us = rd32(head + q + 8), frames = rd32(head + q + 8 + 16);
            if (!us || !frames) return -1;
            *slack_ns = 3 * (int64_t)us * 1000;
            return (int64_t)us * 1000 * frames;
        }
    return -1;
}

/* Chunks up to 'data'; only PCM and float sound, whose bytes per second are exact. */
static int64_t wav_length(const uint8_t *head, size_t n, int64_t *slack_ns)
{
    uint32_t bytes_per_second = 0;
    for (size_t q = 12; q + 8 <= n;) {
        uint32_t size = rd32(head + q + 4);
        if (!memcmp(head + q, "fmt ", 4) && size >= 16 && q + 8 + 16 <= n) {
            uint16_t tag = rd16(head + q + 8);
            if (tag == 1 || tag == 3 || tag == 0xfffe) bytes_per_second = rd32(head + q + 8 + 8);
        }
        if (!memcmp(head + q, "data", 4)) {
            /* 0 and 0xffffffff: a writer that streamed and never came back to say */
            if (!bytes_per_second || !size || size == 0xffffffff) return -1;
            *slack_ns = 100000000;
            return (int64_t)size * 1000000000 / bytes_per_second;
        }
        q += 8 + (size_t)size + (size & 1);
    }
    return -1;
}

int64_t stated_length(const char *path, enum stated_kind *kind, int64_t *slack_ns)
{
    uint8_t head[4096];
    int64_t length = -1;
    size_t n;
    FILE *f;

    *kind = STATED_NONE;
    *slack_ns = 0;
    if (!path || !(f = g_fopen(path, "rb"))) return -1;
    n = fread(head, 1, sizeof(head), f);
    fclose(f);
    if (n < 12 || memcmp(head, "RIFF", 4)) return -1;
    if (!memcmp(head + 8, "AVI ", 4) && (length = avi_length(head, n, slack_ns)) > 0) *kind = STATED_PICTURE;
    else if (!memcmp(head + 8, "WAVE", 4) && (length = wav_length(head, n, slack_ns)) > 0) *kind = STATED_SOUND;
    return *kind == STATED_NONE ? -1 : length;
}
