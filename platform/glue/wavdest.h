/*
 * The file writers' GStreamer side: "platformwavdest" (RIFF WAVE of any audio the catalog's encoders make)
 * and "platformavimux" (AVI of every listed encoder and of raw RGB frames). Plain C, no Win32; only
 * gstglue.c and these writers include it.
 */
#ifndef MEDIAPLATFORM_WAVDEST_H
#define MEDIAPLATFORM_WAVDEST_H

#include <gst/gst.h>

G_BEGIN_DECLS

/* A WAVEFORMATEX as the writers store it, with its extra bytes. */
struct wave_format
{
    guint16 tag;
    guint16 channels;
    guint32 rate;
    guint32 avg_bytes;
    guint16 block_align;
    guint16 bits;
    guint16 extra_size;
    guint8 extra[64];
    guint32 samples_per_block;  /* samples in one block; 0 when blocks vary (MP3, WMA) */
    gboolean compressed;        /* not PCM or float: a fact chunk follows fmt */
    gboolean gsm_frames;        /* 33-byte GSM frames that are packed two by two into 65-byte blocks */
};

/* Fills wf from audio caps the writers accept; FALSE for any other caps. */
gboolean wave_format_from_caps(const GstCaps *caps, struct wave_format *wf);

/* Takes the bit rate and frame size of an MP3 stream from a frame header at data. */
gboolean wave_format_mp3_frame(struct wave_format *wf, const guint8 *data, gsize size);

/* Two 33-byte GSM 6.10 frames as one 65-byte block of the WAV49 layout. */
void gsm_pack_wav49(const guint8 *first, const guint8 *second, guint8 *out);

/* Registers platformwavdest / platformavimux with the core (static elements of the platform). */
gboolean wavdest_register(void);
gboolean avimux_register(void);

G_END_DECLS

#endif
