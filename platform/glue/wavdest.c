/*
 * platformwavdest: writes the audio that reaches it as a RIFF WAVE byte stream for a filesink.
 * PCM and float go out as they are; compressed audio gets its WAVEFORMATEX extra bytes and a fact chunk.
 * The header goes out before the first data and again at end of stream, after a byte SEGMENT that
 * takes the sink back to offset 0, with the final sizes and sample count.
 */
#include "glue/wavdest.h"

#include <string.h>

#define WAVE_TAG_PCM 0x0001
#define WAVE_TAG_ADPCM 0x0002
#define WAVE_TAG_FLOAT 0x0003
#define WAVE_TAG_ALAW 0x0006
#define WAVE_TAG_MULAW 0x0007
#define WAVE_TAG_IMA_ADPCM 0x0011
#define WAVE_TAG_GSM610 0x0031
#define WAVE_TAG_MP3 0x0055
#define WAVE_TAG_WMA2 0x0161

#define GSM_FRAME 33
#define GSM_BLOCK 65

#define WRITER_CAPS \
    "audio/x-raw, format=(string){ S16LE, U8, S24LE, S32LE, F32LE, F64LE }, layout=(string)interleaved, " \
        "rate=(int)[ 1, 384000 ], channels=(int)[ 1, 8 ]; " \
    "audio/mpeg, mpegversion=(int)1, layer=(int)3, rate=(int)[ 8000, 48000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-wma, wmaversion=(int)2, rate=(int)[ 1, 96000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-adpcm, layout=(string){ dvi, microsoft }, rate=(int)[ 1, 96000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-alaw, rate=(int)[ 1, 96000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-mulaw, rate=(int)[ 1, 96000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-gsm, rate=(int)8000, channels=(int)1"

static void put16(guint8 *p, guint16 v) { p[0] = v; p[1] = v >> 8; }
static void put32(guint8 *p, guint32 v) { p[0] = v; p[1] = v >> 8; p[2] = v >> 16; p[3] = v >> 24; }

gboolean wave_format_from_caps(const GstCaps *caps, struct wave_format *wf)
{
    const GstStructure *s;
    const gchar *name;
    gint rate = 0, channels = 0, block_align = 0, bitrate = 0;
    const GValue *codec_data;

    memset(wf, 0, sizeof(*wf));
    if (!caps || gst_caps_get_size(caps) != 1) return FALSE;
    s = gst_caps_get_structure(caps, 0);
    name = gst_structure_get_name(s);
    if (!gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels)
            || rate <= 0 || channels <= 0 || channels > 8)
        return FALSE;
    gst_structure_get_int(s, "block_align", &block_align);
    gst_structure_get_int(s, "bitrate", &bitrate);
    codec_data = gst_structure_get_value(s, "codec_data");
    wf->rate = rate;
    wf->channels = channels;
    wf->compressed = TRUE;

    if (!strcmp(name, "audio/x-raw"))
    {
        const gchar *format = gst_structure_get_string(s, "format");
        if (!format) return FALSE;
        if (!strcmp(format, "U8")) wf->bits = 8;
        else if (!strcmp(format, "S16LE")) wf->bits = 16;
        else if (!strcmp(format, "S24LE")) wf->bits = 24;
        else if (!strcmp(format, "S32LE")) wf->bits = 32;
        else if (!strcmp(format, "F32LE")) wf->bits = 32, wf->tag = WAVE_TAG_FLOAT;
        else if (!strcmp(format, "F64LE")) wf->bits = 64, wf->tag = WAVE_TAG_FLOAT;
        else return FALSE;
        if (!wf->tag) wf->tag = WAVE_TAG_PCM;
        /* float carries a fact chunk too, as the format asks of every non-PCM tag */
        wf->compressed = wf->tag != WAVE_TAG_PCM;
        wf->block_align = channels * wf->bits / 8;
        wf->avg_bytes = rate * wf->block_align;
        wf->samples_per_block = 1;
        return TRUE;
    }
    if (!strcmp(name, "audio/x-alaw") || !strcmp(name, "audio/x-mulaw"))
    {
        wf->tag = name[8] == 'a' ? WAVE_TAG_ALAW : WAVE_TAG_MULAW;
        wf->bits = 8;
        wf->block_align = channels;
        wf->avg_bytes = rate * channels;
        wf->samples_per_block = 1;
        return TRUE;
    }
    if (!strcmp(name, "audio/x-adpcm"))
    {
        const gchar *layout = gst_structure_get_string(s, "layout");
        if (!layout || block_align <= 4 * channels) return FALSE;
        wf->bits = 4;
        wf->block_align = block_align;
        if (!strcmp(layout, "dvi"))
        {
            /* a 4-byte header per channel holds the first sample, then 2 samples per byte */
            wf->tag = WAVE_TAG_IMA_ADPCM;
            wf->samples_per_block = (block_align - 4 * channels) * 8 / (4 * channels) + 1;
            wf->extra_size = 2;
            put16(wf->extra, wf->samples_per_block);
        }
        else if (!strcmp(layout, "microsoft"))
        {
            GstMapInfo map;
            GstBuffer *buf;
            /* the encoder's codec_data is the whole extra part: samples per block and coefficients */
            if (!codec_data || !GST_VALUE_HOLDS_BUFFER(codec_data)) return FALSE;
            buf = gst_value_get_buffer(codec_data);
            if (!gst_buffer_map(buf, &map, GST_MAP_READ)) return FALSE;
            if (map.size < 4 || map.size > sizeof(wf->extra))
            {
                gst_buffer_unmap(buf, &map);
                return FALSE;
            }
            memcpy(wf->extra, map.data, map.size);
            wf->extra_size = map.size;
            gst_buffer_unmap(buf, &map);
            wf->tag = WAVE_TAG_ADPCM;
            wf->samples_per_block = wf->extra[0] | (wf->extra[1] << 8);
            if (!wf->samples_per_block) return FALSE;
        }
        else
            return FALSE;
        wf->avg_bytes = (guint32)((guint64)rate * block_align / wf->samples_per_block);
        return TRUE;
    }
    if (!strcmp(name, "audio/x-gsm"))
    {
        /* stored as WAV49: 320 samples in 65 bytes, 1625 bytes a second at 8 kHz */
        if (rate != 8000 || channels != 1) return FALSE;
        wf->tag = WAVE_TAG_GSM610;
        wf->block_align = GSM_BLOCK;
        wf->avg_bytes = rate * GSM_BLOCK / 320;
        wf->samples_per_block = 320;
        wf->extra_size = 2;
        put16(wf->extra, 320);
        wf->gsm_frames = TRUE;
        return TRUE;
    }
    if (!strcmp(name, "audio/x-wma"))
    {
        gint version = 0;
        gst_structure_get_int(s, "wmaversion", &version);
        if (version != 2 || block_align <= 0 || bitrate <= 0) return FALSE;
        wf->tag = WAVE_TAG_WMA2;
        wf->bits = 16;
        wf->block_align = block_align;
        wf->avg_bytes = bitrate / 8;
        if (codec_data && GST_VALUE_HOLDS_BUFFER(codec_data))
        {
            GstBuffer *buf = gst_value_get_buffer(codec_data);
            gsize n = gst_buffer_get_size(buf);
            if (n > sizeof(wf->extra)) return FALSE;
            gst_buffer_extract(buf, 0, wf->extra, n);
            wf->extra_size = n;
        }
        return TRUE;
    }
    if (!strcmp(name, "audio/mpeg"))
    {
        gint version = 0, layer = 0;
        gst_structure_get_int(s, "mpegversion", &version);
        gst_structure_get_int(s, "layer", &layer);
        if (version != 1 || layer != 3) return FALSE;
        /* MPEGLAYER3WAVEFORMAT: id MPEG, no padding flags, block size and rate from the first frame */
        wf->tag = WAVE_TAG_MP3;
        wf->block_align = 1;
        wf->extra_size = 12;
        put16(wf->extra, 1);            /* wID: MPEGLAYER3_ID_MPEG */
        put32(wf->extra + 2, 2);        /* fdwFlags: MPEGLAYER3_FLAG_PADDING_OFF */
        put16(wf->extra + 6, 0);        /* nBlockSize */
        put16(wf->extra + 8, 1);        /* nFramesPerBlock */
        put16(wf->extra + 10, 1393);    /* nCodecDelay */
        return TRUE;
    }
    return FALSE;
}

gboolean wave_format_mp3_frame(struct wave_format *wf, const guint8 *p, gsize size)
{
    static const guint16 kbps_mpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const guint16 kbps_mpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    gsize i;

    for (i = 0; i + 4 <= size; i++)
    {
        guint version, layer, rate_index, kbps, samples;

        if (p[i] != 0xff || (p[i + 1] & 0xe0) != 0xe0) continue;
        version = (p[i + 1] >> 3) & 3;   /* 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5 */
        layer = (p[i + 1] >> 1) & 3;     /* 1: layer III */
        rate_index = (p[i + 2] >> 2) & 3;
        if (version == 1 || layer != 1 || rate_index == 3) continue;
        kbps = version == 3 ? kbps_mpeg1[p[i + 2] >> 4] : kbps_mpeg2[p[i + 2] >> 4];
        if (!kbps) continue;
        samples = version == 3 ? 1152 : 576;
        wf->avg_bytes = kbps * 1000 / 8;
        put16(wf->extra + 6, (guint16)((guint64)samples / 8 * kbps * 1000 / wf->rate));
        return TRUE;
    }
    return FALSE;
}

/* Field widths of a GSM 6.10 frame in stream order: 8 LARs, then per subframe Nc, bc, Mc, xmaxc, 13 xMc. */
static int gsm_field_width(int index)
{
    static const guint8 lar[8] = {6, 6, 5, 5, 4, 4, 3, 3};
    int k;

    if (index < 8) return lar[index];
    k = (index - 8) % 17;
    return k == 0 ? 7 : k == 1 ? 2 : k == 2 ? 2 : k == 3 ? 6 : 3;
}

/* The plain frame stores its fields after a 0xD signature nibble, high bits first; WAV49 stores two
 * frames' fields back to back, low bits first. */
void gsm_pack_wav49(const guint8 *first, const guint8 *second, guint8 *out)
{
    guint32 acc = 0;
    int acc_bits = 0, f, i, n = 0;

    memset(out, 0, GSM_BLOCK);
    for (f = 0; f < 2; f++)
    {
        const guint8 *in = f ? second : first;
        int pos = 4;   /* bit position in the frame, after the signature */
        for (i = 0; i < 76; i++)
        {
            int w = gsm_field_width(i), b;
            guint32 v = 0;
            for (b = 0; b < w; b++, pos++)
                v = (v << 1) | ((in[pos >> 3] >> (7 - (pos & 7))) & 1);
            acc |= v << acc_bits;
            acc_bits += w;
            while (acc_bits >= 8)
            {
                out[n++] = acc & 0xff;
                acc >>= 8;
                acc_bits -= 8;
            }
        }
    }
    if (acc_bits && n < GSM_BLOCK) out[n] = acc & 0xff;
}

/* ---- the element ---- */

typedef struct
{
    GstElement parent;
    GstPad *sinkpad, *srcpad;
    struct wave_format wf;
    gboolean have_format, started;
    guint64 data_bytes;
    GstClockTime first_time, end_time;
    guint8 gsm_frame[GSM_FRAME];
    gboolean gsm_pending;
} PlatformWavDest;

typedef struct
{
    GstElementClass parent_class;
} PlatformWavDestClass;

GType platform_wav_dest_get_type(void);
G_DEFINE_TYPE(PlatformWavDest, platform_wav_dest, GST_TYPE_ELEMENT)

static GstStaticPadTemplate wavdest_sink_template = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK,
    GST_PAD_ALWAYS, GST_STATIC_CAPS(WRITER_CAPS));
static GstStaticPadTemplate wavdest_src_template = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC,
    GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-wav"));

/* Samples in the data so far: whole blocks for block formats, else the span of the timestamps. */
static guint64 wavdest_sample_count(PlatformWavDest *self)
{
    const struct wave_format *wf = &self->wf;

    if (wf->samples_per_block && wf->block_align)
    {
        guint64 blocks = (self->data_bytes + wf->block_align - 1) / wf->block_align;
        return blocks * wf->samples_per_block;
    }
    if (GST_CLOCK_TIME_IS_VALID(self->first_time) && GST_CLOCK_TIME_IS_VALID(self->end_time)
            && self->end_time > self->first_time)
        return gst_util_uint64_scale_round(self->end_time - self->first_time, wf->rate, GST_SECOND);
    return wf->avg_bytes ? gst_util_uint64_scale(self->data_bytes, wf->rate, wf->avg_bytes) : 0;
}

static GstBuffer *wavdest_header(PlatformWavDest *self, guint32 fact_samples)
{
    const struct wave_format *wf = &self->wf;
    guint32 fmt_size = wf->tag == WAVE_TAG_PCM ? 16 : 18 + wf->extra_size;
    guint32 data = self->data_bytes > 0xfffffff0u ? 0xfffffff0u : (guint32)self->data_bytes;
    guint32 size = 12 + 8 + fmt_size + (wf->compressed ? 12 : 0) + 8;
    GstBuffer *buf = gst_buffer_new_allocate(NULL, size, NULL);
    GstMapInfo map;
    guint8 *p;

    gst_buffer_map(buf, &map, GST_MAP_WRITE);
    p = map.data;
    memcpy(p, "RIFF", 4);
    put32(p + 4, size - 8 + data + (data & 1));
    memcpy(p + 8, "WAVE", 4);
    memcpy(p + 12, "fmt ", 4);
    put32(p + 16, fmt_size);
    p += 20;
    put16(p, wf->tag);
    put16(p + 2, wf->channels);
    put32(p + 4, wf->rate);
    put32(p + 8, wf->avg_bytes);
    put16(p + 12, wf->block_align);
    put16(p + 14, wf->bits);
    if (fmt_size > 16)
    {
        put16(p + 16, wf->extra_size);
        memcpy(p + 18, wf->extra, wf->extra_size);
    }
    p += fmt_size;
    if (wf->compressed)
    {
        memcpy(p, "fact", 4);
        put32(p + 4, 4);
        put32(p + 8, fact_samples);
        p += 12;
    }
    memcpy(p, "data", 4);
    put32(p + 4, data);
    gst_buffer_unmap(buf, &map);
    return buf;
}

static GstFlowReturn wavdest_push_data(PlatformWavDest *self, GstBuffer *buf)
{
    self->data_bytes += gst_buffer_get_size(buf);
    return gst_pad_push(self->srcpad, buf);
}

static GstFlowReturn wavdest_start(PlatformWavDest *self)
{
    GstSegment segment;

    if (self->started) return GST_FLOW_OK;
    self->started = TRUE;
    gst_pad_push_event(self->srcpad, gst_event_new_caps(gst_caps_new_empty_simple("audio/x-wav")));
    gst_segment_init(&segment, GST_FORMAT_BYTES);
    gst_pad_push_event(self->srcpad, gst_event_new_segment(&segment));
    return gst_pad_push(self->srcpad, wavdest_header(self, 0));
}

static GstFlowReturn wavdest_chain(GstPad *pad, GstObject *parent, GstBuffer *buf)
{
    PlatformWavDest *self = (PlatformWavDest *)parent;
    GstFlowReturn ret;

    if (!self->have_format)
    {
        gst_buffer_unref(buf);
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("no format before the first data"), (NULL));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (!self->started && self->wf.tag == WAVE_TAG_MP3)
    {
        GstMapInfo map;
        if (gst_buffer_map(buf, &map, GST_MAP_READ))
        {
            wave_format_mp3_frame(&self->wf, map.data, map.size);
            gst_buffer_unmap(buf, &map);
        }
    }
    if ((ret = wavdest_start(self)) != GST_FLOW_OK)
    {
        gst_buffer_unref(buf);
        return ret;
    }
    if (GST_BUFFER_PTS_IS_VALID(buf))
    {
        GstClockTime end = GST_BUFFER_PTS(buf);
        if (!GST_CLOCK_TIME_IS_VALID(self->first_time)) self->first_time = end;
        if (GST_BUFFER_DURATION_IS_VALID(buf)) end += GST_BUFFER_DURATION(buf);
        if (!GST_CLOCK_TIME_IS_VALID(self->end_time) || end > self->end_time) self->end_time = end;
    }

    if (self->wf.gsm_frames)
    {
        /* pair the encoder's frames into blocks */
        GstMapInfo map;
        gsize off = 0;

        ret = GST_FLOW_OK;
        gst_buffer_map(buf, &map, GST_MAP_READ);
        while (ret == GST_FLOW_OK && off + GSM_FRAME <= map.size)
        {
            if (!self->gsm_pending)
            {
                memcpy(self->gsm_frame, map.data + off, GSM_FRAME);
                self->gsm_pending = TRUE;
            }
            else
            {
                GstBuffer *block = gst_buffer_new_allocate(NULL, GSM_BLOCK, NULL);
                GstMapInfo out;
                gst_buffer_map(block, &out, GST_MAP_WRITE);
                gsm_pack_wav49(self->gsm_frame, map.data + off, out.data);
                gst_buffer_unmap(block, &out);
                self->gsm_pending = FALSE;
                ret = wavdest_push_data(self, block);
            }
            off += GSM_FRAME;
        }
        gst_buffer_unmap(buf, &map);
        gst_buffer_unref(buf);
        return ret;
    }
    return wavdest_push_data(self, buf);
}

/* The final sizes: a pad byte for an odd data chunk, back to offset 0, the header again. */
static void wavdest_finish(PlatformWavDest *self)
{
    GstSegment segment;
    guint32 samples;

    if (!self->have_format) return;
    if (wavdest_start(self) != GST_FLOW_OK) return;
    if (self->gsm_pending)
    {
        /* the last lone frame with a silent partner: the fact chunk still counts only real samples */
        static const guint8 silent[GSM_FRAME] = {0xd0};
        GstBuffer *block = gst_buffer_new_allocate(NULL, GSM_BLOCK, NULL);
        GstMapInfo out;
        gst_buffer_map(block, &out, GST_MAP_WRITE);
        gsm_pack_wav49(self->gsm_frame, silent, out.data);
        gst_buffer_unmap(block, &out);
        self->gsm_pending = FALSE;
        samples = (guint32)(wavdest_sample_count(self) + 160);
        wavdest_push_data(self, block);
    }
    else
        samples = (guint32)wavdest_sample_count(self);
    if (self->data_bytes & 1)
    {
        GstBuffer *pad = gst_buffer_new_allocate(NULL, 1, NULL);
        gst_buffer_memset(pad, 0, 0, 1);
        gst_pad_push(self->srcpad, pad);
    }
    gst_segment_init(&segment, GST_FORMAT_BYTES);
    gst_pad_push_event(self->srcpad, gst_event_new_segment(&segment));
    gst_pad_push(self->srcpad, wavdest_header(self, samples));
}

static gboolean wavdest_sink_event(GstPad *pad, GstObject *parent, GstEvent *event)
{
    PlatformWavDest *self = (PlatformWavDest *)parent;

    switch (GST_EVENT_TYPE(event))
    {
    case GST_EVENT_CAPS:
    {
        GstCaps *caps;
        struct wave_format wf;
        gst_event_parse_caps(event, &caps);
        if (!wave_format_from_caps(caps, &wf)
                || (self->started && (wf.tag != self->wf.tag || wf.rate != self->wf.rate
                                      || wf.channels != self->wf.channels)))
        {
            gst_event_unref(event);
            return FALSE;
        }
        if (!self->started) self->wf = wf;
        self->have_format = TRUE;
        gst_event_unref(event);
        return TRUE;
    }
    case GST_EVENT_SEGMENT:
        /* our own byte segment goes downstream instead */
        gst_event_unref(event);
        return TRUE;
    case GST_EVENT_EOS:
        wavdest_finish(self);
        return gst_pad_event_default(pad, parent, event);
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

static void wavdest_reset(PlatformWavDest *self)
{
    memset(&self->wf, 0, sizeof(self->wf));
    self->have_format = self->started = self->gsm_pending = FALSE;
    self->data_bytes = 0;
    self->first_time = self->end_time = GST_CLOCK_TIME_NONE;
}

static GstStateChangeReturn wavdest_change_state(GstElement *element, GstStateChange transition)
{
    PlatformWavDest *self = (PlatformWavDest *)element;
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) wavdest_reset(self);
    return GST_ELEMENT_CLASS(platform_wav_dest_parent_class)->change_state(element, transition);
}

static void platform_wav_dest_class_init(PlatformWavDestClass *klass)
{
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);

    gst_element_class_add_static_pad_template(element_class, &wavdest_sink_template);
    gst_element_class_add_static_pad_template(element_class, &wavdest_src_template);
    gst_element_class_set_static_metadata(element_class, "WAVE writer", "Codec/Muxer/Audio",
        "Writes PCM, float and compressed audio as RIFF WAVE", "media platform");
    element_class->change_state = wavdest_change_state;
}

static void platform_wav_dest_init(PlatformWavDest *self)
{
    self->sinkpad = gst_pad_new_from_static_template(&wavdest_sink_template, "sink");
    gst_pad_set_chain_function(self->sinkpad, wavdest_chain);
    gst_pad_set_event_function(self->sinkpad, wavdest_sink_event);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = gst_pad_new_from_static_template(&wavdest_src_template, "src");
    gst_pad_use_fixed_caps(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
    wavdest_reset(self);
}

gboolean wavdest_register(void)
{
    return gst_element_register(NULL, "platformwavdest", GST_RANK_NONE, platform_wav_dest_get_type());
}
