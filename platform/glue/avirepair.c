/*
 * AVI files that lost their index: a recording that never finished, a copy cut short, a chunk header
 * overwritten. Read in order, the demuxer stops at the first chunk it cannot make sense of; read through
 * an index it goes on past it. So such a file is read through a copy of it with an index rebuilt by
 * scanning its 'movi' list chunk by chunk, stepping over bytes that are no chunk header. Files that have
 * an index (idx1, or the OpenDML indx of big files) are read as they are.
 */
#include "glue/avirepair.h"
#include "glue/gstglue.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static uint32_t rd32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
static void wr32(uint8_t *p, uint32_t v) { p[0] = v; p[1] = v >> 8; p[2] = v >> 16; p[3] = v >> 24; }

struct avi_layout {
    size_t avih;          /* offset of the main header's data */
    size_t movi;          /* offset of the 'movi' LIST */
    int streams;
    int intra_video;      /* every picture a key frame (Motion JPEG, raw, lossless) */
    int has_index;        /* idx1 after movi, or OpenDML indx */
};

/* Top-level chunks up to 'movi', and whether an index follows. 0 when this is no AVI. */
static int read_layout(const uint8_t *d, size_t n, struct avi_layout *l)
{
    size_t pos = 12;

    memset(l, 0, sizeof(*l));
    if (n < 12 || memcmp(d, "RIFF", 4) || memcmp(d + 8, "AVI ", 4)) return 0;
    while (pos + 12 <= n) {
        uint32_t size = rd32(d + pos + 4);
        if (!memcmp(d + pos, "LIST", 4) && !memcmp(d + pos + 8, "movi", 4)) {
            size_t end = pos + 8 + (size_t)size;
            l->movi = pos;
            l->has_index = l->has_index || (end + 8 <= n && !memcmp(d + end + (end & 1), "idx1", 4));
            return l->avih != 0;
        }
        if (!memcmp(d + pos, "LIST", 4) && !memcmp(d + pos + 8, "hdrl", 4)) {
            size_t end = pos + 8 + (size_t)size, q = pos + 12;
            while (q + 8 <= end && q + 8 <= n) {
                uint32_t s = rd32(d + q + 4);
                if (!memcmp(d + q, "avih", 4) && q + 8 + 56 <= n) l->avih = q + 8;
                if (!memcmp(d + q, "LIST", 4) && q + 12 <= n && !memcmp(d + q + 8, "strl", 4)) {
                    /* look into the list: strh says the kind, strf the picture format, indx an index */
                    size_t r = q + 12, rend = q + 8 + (size_t)s;
                    int video = 0;
                    l->streams++;
                    while (r + 8 <= rend && r + 8 <= n) {
                        uint32_t rs = rd32(d + r + 4);
                        if (!memcmp(d + r, "indx", 4)) l->has_index = 1;
                        if (!memcmp(d + r, "strh", 4) && r + 12 <= n) video = !memcmp(d + r + 8, "vids", 4);
                        if (!memcmp(d + r, "strf", 4) && r + 8 + 20 <= n && video) {
                            const uint8_t *c = d + r + 8 + 16;   /* biCompression */
                            l->intra_video = rd32(c) == 0 || !memcmp(c, "MJPG", 4) || !memcmp(c, "HFYU", 4)
                                          || !memcmp(c, "I420", 4) || !memcmp(c, "YUY2", 4)
                                          || !memcmp(c, "FFV1", 4) || !memcmp(c, "dvsd", 4);
                        }
                        r += 8 + rs + (rs & 1);
                    }
                }
                q += 8 + s + (s & 1);
            }
        }
        pos += 8 + (size_t)size + (size & 1);
    }
    return 0;
}

static int is_stream_chunk(const uint8_t *f, int streams)
{
    if (f[0] < '0' || f[0] > '9' || f[1] < '0' || f[1] > '9' || (f[0] - '0') * 10 + (f[1] - '0') >= streams)
        return 0;
    return !memcmp(f + 2, "dc", 2) || !memcmp(f + 2, "db", 2) || !memcmp(f + 2, "wb", 2)
        || !memcmp(f + 2, "tx", 2) || !memcmp(f + 2, "pc", 2);
}

/* Writes the file up to the end of its last chunk, with the movi and RIFF sizes set, the index flag
 * on and a new idx1 after it. 1 on success. */
static int write_repaired(const uint8_t *d, size_t n, const struct avi_layout *l, const char *out)
{
    GByteArray *index = g_byte_array_new();
    size_t base = l->movi + 8, p = l->movi + 12, end = p;
    uint8_t head[12 + 56], entry[16], idx1[8];
    int first_video = 1, ok;
    FILE *f;

    while (p + 8 <= n) {
        const uint8_t *c = d + p;
        uint32_t size = rd32(c + 4);
        int whole = is_stream_chunk(c, l->streams) && p + 8 + (size_t)size <= n;
        /* the last chunk of a file cut short keeps what is there */
        int tail = !whole && is_stream_chunk(c, l->streams) && end == p && size < (64u << 20);
        if (whole || tail) {
            int video = c[2] == 'd';
            if (tail) size = (uint32_t)(n - p - 8);
            memcpy(entry, c, 4);
            wr32(entry + 4, !video || l->intra_video || first_video ? 0x10 : 0);   /* AVIIF_KEYFRAME */
            wr32(entry + 8, (uint32_t)(p - base));
            wr32(entry + 12, size);
            g_byte_array_append(index, entry, 16);
            if (video) first_video = 0;
            p += 8 + (size_t)size + (size & 1);
            end = p > n ? n : p;
            if (tail) break;
            continue;
        }
        if (!memcmp(c, "LIST", 4) && p + 12 <= n && !memcmp(c + 8, "rec ", 4)) { p += 12; continue; }
        if (!memcmp(c, "JUNK", 4) && p + 8 + (size_t)size <= n) { p += 8 + (size_t)size + (size & 1); continue; }
        if (!memcmp(c, "idx1", 4)) break;
        p++;   /* not a chunk: look one byte further */
    }
    end &= ~(size_t)1;   /* the index starts on a word */
    if (!index->len || end > UINT32_MAX - index->len - 16) {
        g_byte_array_unref(index);
        return 0;
    }
    if (!(f = g_fopen(out, "wb"))) {
        g_byte_array_unref(index);
        return 0;
    }
    /* the file itself, with the sizes and the flag changed in its first bytes and in the movi header */
    memcpy(head, d, 12);
    wr32(head + 4, (uint32_t)(end + 8 + index->len - 8));
    ok = fwrite(head, 1, 12, f) == 12 && fwrite(d + 12, 1, l->movi + 4 - 12, f) == l->movi + 4 - 12;
    wr32(entry, (uint32_t)(end - l->movi - 8));
    ok = ok && fwrite(entry, 1, 4, f) == 4 && fwrite(d + l->movi + 8, 1, end - l->movi - 8, f) == end - l->movi - 8;
    memcpy(idx1, "idx1", 4);
    wr32(idx1 + 4, index->len);
    ok = ok && fwrite(idx1, 1, 8, f) == 8 && fwrite(index->data, 1, index->len, f) == index->len;
    /* AVIF_HASINDEX in dwFlags of the main header */
    ok = ok && fseek(f, (long)(l->avih + 12), SEEK_SET) == 0;
    wr32(entry, rd32(d + l->avih + 12) | 0x10);
    ok = ok && fwrite(entry, 1, 4, f) == 4;
    ok = fclose(f) == 0 && ok;
    g_byte_array_unref(index);
    if (!ok) g_unlink(out);
    return ok;
}

/* Copies made in this process, by the file's identity and state. */
enum { REPAIRED = 8 };
static struct { dev_t dev; ino_t ino; off_t size; struct timespec mtime; char *copy; } repaired[REPAIRED];
static int repaired_next;
static GMutex repaired_lock;

char *avi_readable_path(const char *path)
{
    struct avi_layout layout;
    struct stat st;
    uint8_t *d;
    char *copy = NULL;
    int fd;

    if (!path || (fd = g_open(path, O_RDONLY, 0)) < 0) return g_strdup(path);
    if (fstat(fd, &st) || !S_ISREG(st.st_mode) || st.st_size < 12) {
        close(fd);
        return g_strdup(path);
    }
    g_mutex_lock(&repaired_lock);
    for (int i = 0; i < REPAIRED; i++)
        if (repaired[i].copy && repaired[i].dev == st.st_dev && repaired[i].ino == st.st_ino
                && repaired[i].size == st.st_size && repaired[i].mtime.tv_sec == st.st_mtim.tv_sec
                && repaired[i].mtime.tv_nsec == st.st_mtim.tv_nsec && g_file_test(repaired[i].copy, G_FILE_TEST_EXISTS)) {
            copy = g_strdup(repaired[i].copy);
            break;
        }
    g_mutex_unlock(&repaired_lock);
    if (copy) {
        close(fd);
        return copy;
    }
    d = mmap(NULL, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (d == MAP_FAILED) return g_strdup(path);
    if (read_layout(d, (size_t)st.st_size, &layout) && !layout.has_index && (copy = glue_work_file("index-XXXXXX.avi"))
            && !write_repaired(d, (size_t)st.st_size, &layout, copy)) {
        g_free(copy);
        copy = NULL;
    }
    munmap(d, (size_t)st.st_size);
    if (!copy) return g_strdup(path);
    g_mutex_lock(&repaired_lock);
    if (repaired[repaired_next].copy) {
        g_unlink(repaired[repaired_next].copy);
        g_free(repaired[repaired_next].copy);
    }
    repaired[repaired_next].dev = st.st_dev;
    repaired[repaired_next].ino = st.st_ino;
    repaired[repaired_next].size = st.st_size;
    repaired[repaired_next].mtime = st.st_mtim;
    repaired[repaired_next].copy = g_strdup(copy);
    repaired_next = (repaired_next + 1) % REPAIRED;
    g_mutex_unlock(&repaired_lock);
    return copy;
}
