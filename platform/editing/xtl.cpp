// XTL, the XML project format: the timeline element at the root with its groups, and below them
// compositions, tracks, clips, transitions, effects and the params of transitions and effects (with
// their at and linear points). Times are seconds ("12.5", or "hh:mm:ss.ff" when read), flags 1 or 0
// (y, t and 1 are true when read), class ids in braces. Written and read through the timeline's
// interfaces only.
#include "editing/xtl.h"

#include <math.h>
#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <utility>
#include <vector>

namespace {

const double UNITS = 10000000.0;

/* ---- Text ---- */

std::string utf8(const WCHAR *text)
{
    std::string out;
    if (!text || !*text) return out;
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    if (n <= 1) return out;
    out.resize(n);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, NULL, NULL);
    out.resize(n - 1);
    return out;
}

// NULL for an empty string as for no memory; callers test what they need
BSTR bstr(const std::string &text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0);
    BSTR out = SysAllocStringLen(NULL, n);
    if (out && n) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), out, n);
    return out;
}

void escape_into(std::string *out, const std::string &text)
{
    for (char c : text)
        switch (c)
        {
        case '<': *out += "&lt;"; break;
        case '>': *out += "&gt;"; break;
        case '&': *out += "&amp;"; break;
        case '"': *out += "&quot;"; break;
        case '\'': *out += "&apos;"; break;
        case '\n': *out += "&#10;"; break;
        case '\r': *out += "&#13;"; break;
        case '\t': *out += "&#9;"; break;
        default: *out += c;
        }
}

std::string seconds(REFERENCE_TIME t)
{
    char text[48];
    unsigned long long a = t < 0 ? (unsigned long long)(-(t + 1)) + 1 : (unsigned long long)t;
    int n = snprintf(text, sizeof(text), "%s%llu.%07llu", t < 0 ? "-" : "", a / 10000000ull, a % 10000000ull);
    while (n > 0 && text[n - 1] == '0') text[--n] = 0;
    if (n > 0 && text[n - 1] == '.') text[--n] = 0;
    return text;
}

std::string number(double value)
{
    char text[64];
    snprintf(text, sizeof(text), "%.7f", value);
    size_t n = strlen(text);
    while (n > 0 && text[n - 1] == '0') text[--n] = 0;
    if (n > 0 && text[n - 1] == '.') text[--n] = 0;
    return text;
}

std::string guid_text(const GUID &guid)
{
    WCHAR text[40];
    StringFromGUID2(guid, text, ARRAYSIZE(text));
    return utf8(text);
}

// A property value as text, in the invariant locale.
bool value_text(const VARIANT *v, std::string *out)
{
    VARIANT s;
    VariantInit(&s);
    if (FAILED(VariantChangeTypeEx(&s, const_cast<VARIANT *>(v), LOCALE_INVARIANT, 0, VT_BSTR))) return false;
    *out = utf8(V_BSTR(&s));
    VariantClear(&s);
    return true;
}

/* ---- Writing ---- */

class Writer
{
public:
    std::string out;

    HRESULT Timeline(IAMTimeline *tl);

private:
    // an element's start, its attributes one by one, then Close(true) for one with children
    void Open(int depth, const char *name)
    {
        out.append(2 * depth, ' ');
        out += '<';
        out += name;
    }
    void Attr(const char *name, const std::string &value)
    {
        out += ' ';
        out += name;
        out += "=\"";
        escape_into(&out, value);
        out += '"';
    }
    void Close(bool children) { out += children ? ">\n" : "/>\n"; }
    void End(int depth, const char *name)
    {
        out.append(2 * depth, ' ');
        out += "</";
        out += name;
        out += ">\n";
    }

    void ObjAttrs(IAMTimelineObj *obj, bool times);
    void SubObject(IAMTimelineObj *obj);
    bool HasParams(IAMTimelineObj *obj);
    void Params(IAMTimelineObj *obj, int depth);
    friend HRESULT ::XtlParams(IPropertySetter *setter, int depth, std::string *text);
    HRESULT Layer(IAMTimelineObj *layer, int depth);
    HRESULT Held(IAMTimelineObj *holder, int depth);
    HRESULT Clip(IAMTimelineObj *clip, int depth);
    HRESULT Transition(IAMTimelineObj *trans, int depth);
    HRESULT Effect(IAMTimelineObj *fx, int depth);
    HRESULT Group(IAMTimelineObj *group, int depth);
};

void Writer::ObjAttrs(IAMTimelineObj *obj, bool times)
{
    REFERENCE_TIME start, stop;
    BOOL flag;
    LONG id;
    BSTR name = NULL;
    if (times && SUCCEEDED(obj->GetStartStop(&start, &stop)))
    {
        Attr("start", seconds(start));
        Attr("stop", seconds(stop));
    }
    if (SUCCEEDED(obj->GetMuted(&flag)) && flag) Attr("mute", "1");
    if (SUCCEEDED(obj->GetLocked(&flag)) && flag) Attr("lock", "1");
    if (SUCCEEDED(obj->GetUserID(&id)) && id) Attr("userid", std::to_string(id));
    if (SUCCEEDED(obj->GetUserName(&name)) && name && *name) Attr("username", utf8(name));
    SysFreeString(name);
    LONG size = 0;
    if (SUCCEEDED(obj->GetUserData(NULL, &size)) && size > 0 && size < (1 << 24))
    {
        std::vector<BYTE> data(size);
        if (SUCCEEDED(obj->GetUserData(data.data(), &size)))
        {
            static const char digits[] = "0123456789ABCDEF";
            std::string hex;
            for (LONG i = 0; i < size; i++)
            {
                hex += digits[data[i] >> 4];
                hex += digits[data[i] & 15];
            }
            Attr("userdata", hex);
        }
    }
}

void Writer::SubObject(IAMTimelineObj *obj)
{
    GUID guid;
    if (SUCCEEDED(obj->GetSubObjectGUID(&guid)) && !IsEqualGUID(guid, GUID_NULL)) Attr("clsid", guid_text(guid));
}

bool Writer::HasParams(IAMTimelineObj *obj)
{
    IPropertySetter *setter = NULL;
    LONG count = 0;
    DEXTER_PARAM *params;
    DEXTER_VALUE *values;
    if (FAILED(obj->GetPropertySetter(&setter)) || !setter) return false;
    if (SUCCEEDED(setter->GetProps(&count, &params, &values))) setter->FreeProps(count, params, values);
    setter->Release();
    return count > 0;
}

void Writer::Params(IAMTimelineObj *obj, int depth)
{
    IPropertySetter *setter = NULL;
    std::string text;
    if (FAILED(obj->GetPropertySetter(&setter)) || !setter) return;
    if (SUCCEEDED(XtlParams(setter, depth, &text))) out += text;
    setter->Release();
}

HRESULT Writer::Transition(IAMTimelineObj *trans, int depth)
{
    IAMTimelineTrans *t = NULL;
    Open(depth, "transition");
    SubObject(trans);
    ObjAttrs(trans, true);
    if (SUCCEEDED(trans->QueryInterface(IID_IAMTimelineTrans, (void **)&t)))
    {
        REFERENCE_TIME cut;
        BOOL flag;
        if (t->GetCutPoint(&cut) == S_OK) Attr("cutpoint", seconds(cut));
        if (SUCCEEDED(t->GetCutsOnly(&flag)) && flag) Attr("cutsonly", "1");
        if (SUCCEEDED(t->GetSwapInputs(&flag)) && flag) Attr("swapinputs", "1");
        t->Release();
    }
    bool params = HasParams(trans);
    Close(params);
    if (params)
    {
        Params(trans, depth + 1);
        End(depth, "transition");
    }
    return S_OK;
}

HRESULT Writer::Effect(IAMTimelineObj *fx, int depth)
{
    Open(depth, "effect");
    SubObject(fx);
    ObjAttrs(fx, true);
    bool params = HasParams(fx);
    Close(params);
    if (params)
    {
        Params(fx, depth + 1);
        End(depth, "effect");
    }
    return S_OK;
}

// the transitions and effects a layer, group or clip holds
HRESULT Writer::Held(IAMTimelineObj *holder, int depth)
{
    IAMTimelineTransable *able = NULL;
    IAMTimelineEffectable *fxable = NULL;
    if (SUCCEEDED(holder->QueryInterface(IID_IAMTimelineTransable, (void **)&able)))
    {
        LONG count = 0;
        REFERENCE_TIME at = 0;
        able->TransGetCount(&count);
        for (LONG i = 0; i < count; i++)
        {
            IAMTimelineObj *t = NULL;
            REFERENCE_TIME before = at;
            if (able->GetNextTrans(&t, &at) != S_OK || !t) break;
            Transition(t, depth);
            t->Release();
            if (at <= before) at = before + 1;   // a transition without length: go on past it
        }
        able->Release();
    }
    if (SUCCEEDED(holder->QueryInterface(IID_IAMTimelineEffectable, (void **)&fxable)))
    {
        LONG count = 0;
        fxable->EffectGetCount(&count);
        for (LONG i = 0; i < count; i++)
        {
            IAMTimelineObj *fx = NULL;
            if (fxable->GetEffect(&fx, i) != S_OK || !fx) continue;
            Effect(fx, depth);
            fx->Release();
        }
        fxable->Release();
    }
    return S_OK;
}

HRESULT Writer::Clip(IAMTimelineObj *clip, int depth)
{
    IAMTimelineSrc *src = NULL;
    if (FAILED(clip->QueryInterface(IID_IAMTimelineSrc, (void **)&src))) return S_OK;
    REFERENCE_TIME a, b, length;
    BSTR name = NULL;
    LONG stream;
    double fps;
    int mode;
    Open(depth, "clip");
    if (SUCCEEDED(src->GetMediaName(&name)) && name && *name) Attr("src", utf8(name));
    else SubObject(clip);
    SysFreeString(name);
    ObjAttrs(clip, true);
    if (SUCCEEDED(src->GetMediaTimes(&a, &b)))
    {
        Attr("mstart", seconds(a));
        Attr("mstop", seconds(b));
    }
    if (SUCCEEDED(src->GetMediaLength(&length)) && length > 0) Attr("mlength", seconds(length));
    if (SUCCEEDED(src->GetStreamNumber(&stream)) && stream) Attr("stream", std::to_string(stream));
    if (SUCCEEDED(src->GetDefaultFPS(&fps)) && fps > 0.0) Attr("framerate", number(fps));
    if (SUCCEEDED(src->GetStretchMode(&mode)) && mode != RESIZEF_STRETCH) Attr("stretchmode", std::to_string(mode));
    src->Release();
    LONG effects = 0;
    IAMTimelineEffectable *fxable = NULL;
    if (SUCCEEDED(clip->QueryInterface(IID_IAMTimelineEffectable, (void **)&fxable)))
    {
        fxable->EffectGetCount(&effects);
        fxable->Release();
    }
    Close(effects > 0);
    if (effects > 0)
    {
        Held(clip, depth + 1);
        End(depth, "clip");
    }
    return S_OK;
}

// a track or composition
HRESULT Writer::Layer(IAMTimelineObj *layer, int depth)
{
    TIMELINE_MAJOR_TYPE type;
    if (FAILED(layer->GetTimelineType(&type))) return E_FAIL;
    const char *name = type == TIMELINE_MAJOR_TYPE_COMPOSITE ? "composite" : "track";
    Open(depth, name);
    ObjAttrs(layer, false);
    Close(true);
    if (type == TIMELINE_MAJOR_TYPE_COMPOSITE)
    {
        IAMTimelineComp *comp = NULL;
        if (SUCCEEDED(layer->QueryInterface(IID_IAMTimelineComp, (void **)&comp)))
        {
            LONG count = 0;
            comp->VTrackGetCount(&count);
            for (LONG i = 0; i < count; i++)
            {
                IAMTimelineObj *child = NULL;
                if (comp->GetVTrack(&child, i) != S_OK || !child) continue;
                Layer(child, depth + 1);
                child->Release();
            }
            comp->Release();
        }
    }
    else
    {
        IAMTimelineTrack *track = NULL;
        if (SUCCEEDED(layer->QueryInterface(IID_IAMTimelineTrack, (void **)&track)))
        {
            IAMTimelineObj *clip = NULL, *next = NULL;
            while (track->GetNextSrcEx(clip, &next) == S_OK && next)
            {
                Clip(next, depth + 1);
                if (clip) clip->Release();
                clip = next;
                next = NULL;
            }
            if (clip) clip->Release();
            track->Release();
        }
    }
    Held(layer, depth + 1);
    End(depth, name);
    return S_OK;
}

HRESULT Writer::Group(IAMTimelineObj *obj, int depth)
{
    IAMTimelineGroup *group = NULL;
    IAMTimelineComp *comp = NULL;
    AM_MEDIA_TYPE mt;
    double fps;
    BOOL preview;
    int buffering;
    BSTR name = NULL;
    if (FAILED(obj->QueryInterface(IID_IAMTimelineGroup, (void **)&group))) return S_OK;
    Open(depth, "group");
    memset(&mt, 0, sizeof(mt));
    if (SUCCEEDED(group->GetMediaType(&mt)))
    {
        if (IsEqualGUID(mt.majortype, MEDIATYPE_Video) && mt.cbFormat >= sizeof(VIDEOINFOHEADER) && mt.pbFormat)
        {
            const BITMAPINFOHEADER *bih = &((const VIDEOINFOHEADER *)mt.pbFormat)->bmiHeader;
            Attr("type", "video");
            Attr("width", std::to_string(bih->biWidth));
            Attr("height", std::to_string(bih->biHeight));
            Attr("bitdepth", std::to_string(bih->biBitCount));
        }
        else if (IsEqualGUID(mt.majortype, MEDIATYPE_Audio) && mt.cbFormat >= 16 && mt.pbFormat)
        {
            Attr("type", "audio");
            Attr("samplingrate", std::to_string(((const WAVEFORMATEX *)mt.pbFormat)->nSamplesPerSec));
        }
        CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk) mt.pUnk->Release();
    }
    if (SUCCEEDED(group->GetOutputFPS(&fps)) && fps > 0.0) Attr("framerate", number(fps));
    if (SUCCEEDED(group->GetPreviewMode(&preview))) Attr("previewmode", preview ? "1" : "0");
    if (SUCCEEDED(group->GetOutputBuffering(&buffering))) Attr("buffering", std::to_string(buffering));
    if (SUCCEEDED(group->GetGroupName(&name)) && name && *name) Attr("name", utf8(name));
    SysFreeString(name);
    group->Release();
    ObjAttrs(obj, false);
    Close(true);
    if (SUCCEEDED(obj->QueryInterface(IID_IAMTimelineComp, (void **)&comp)))
    {
        LONG count = 0;
        comp->VTrackGetCount(&count);
        for (LONG i = 0; i < count; i++)
        {
            IAMTimelineObj *layer = NULL;
            if (comp->GetVTrack(&layer, i) != S_OK || !layer) continue;
            Layer(layer, depth + 1);
            layer->Release();
        }
        comp->Release();
    }
    Held(obj, depth + 1);
    End(depth, "group");
    return S_OK;
}

HRESULT Writer::Timeline(IAMTimeline *tl)
{
    double fps;
    BOOL on;
    GUID guid;
    LONG count = 0;
    Open(0, "timeline");
    if (SUCCEEDED(tl->GetDefaultFPS(&fps))) Attr("framerate", number(fps));
    if (SUCCEEDED(tl->TransitionsEnabled(&on))) Attr("enabletrans", on ? "1" : "0");
    if (SUCCEEDED(tl->EffectsEnabled(&on))) Attr("enablefx", on ? "1" : "0");
    if (SUCCEEDED(tl->GetDefaultTransition(&guid)) && !IsEqualGUID(guid, GUID_NULL)) Attr("defaulttrans", guid_text(guid));
    if (SUCCEEDED(tl->GetDefaultEffect(&guid)) && !IsEqualGUID(guid, GUID_NULL)) Attr("defaultfx", guid_text(guid));
    Close(true);
    HRESULT hr = tl->GetGroupCount(&count);
    if (FAILED(hr)) return hr;
    for (LONG i = 0; i < count; i++)
    {
        IAMTimelineObj *group = NULL;
        if (tl->GetGroup(&group, i) != S_OK || !group) continue;
        Group(group, 1);
        group->Release();
    }
    End(0, "timeline");
    return S_OK;
}

/* ---- Reading: a small XML reader, elements and attributes only ---- */

struct Element
{
    std::string name;
    std::vector<std::pair<std::string, std::string>> attrs;
    std::vector<Element> children;

    const std::string *Attr(const char *key) const
    {
        for (const auto &a : attrs)
            if (!strcasecmp(a.first.c_str(), key)) return &a.second;
        return NULL;
    }
    bool Is(const char *n) const { return !strcasecmp(name.c_str(), n); }
};

class Parser
{
public:
    Parser(const char *text, size_t size) : p(text), end(text + size) {}

    // the root element after the prolog; false for anything not well formed
    bool Document(Element *root)
    {
        if (end - p >= 3 && (unsigned char)p[0] == 0xef && (unsigned char)p[1] == 0xbb && (unsigned char)p[2] == 0xbf)
            p += 3;
        if (!Misc()) return false;
        if (p >= end || *p != '<') return false;
        if (!ElementAt(root, 0)) return false;
        return Misc() && p == end;
    }

private:
    const char *p, *end;

    static bool NameChar(char c)
    {
        return (unsigned char)c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c == '-' || c == '.' || c == ':';
    }
    void Space()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) p++;
    }
    bool Starts(const char *s) const
    {
        size_t n = strlen(s);
        return (size_t)(end - p) >= n && !memcmp(p, s, n);
    }
    bool SkipPast(const char *s)
    {
        size_t n = strlen(s);
        for (; (size_t)(end - p) >= n; p++)
            if (!memcmp(p, s, n))
            {
                p += n;
                return true;
            }
        return false;
    }
    // comments, processing instructions, a doctype and space between elements
    bool Misc()
    {
        for (;;)
        {
            Space();
            if (Starts("<!--")) { if (!SkipPast("-->")) return false; }
            else if (Starts("<?")) { if (!SkipPast("?>")) return false; }
            else if (Starts("<!")) { if (!SkipPast(">")) return false; }
            else return true;
        }
    }
    bool Name(std::string *out)
    {
        const char *s = p;
        while (p < end && NameChar(*p)) p++;
        if (p == s) return false;
        out->assign(s, p - s);
        return true;
    }
    static void Utf8(unsigned long c, std::string *out)
    {
        if (c < 0x80) *out += (char)c;
        else if (c < 0x800) { *out += (char)(0xc0 | (c >> 6)); *out += (char)(0x80 | (c & 0x3f)); }
        else if (c < 0x10000)
        {
            *out += (char)(0xe0 | (c >> 12));
            *out += (char)(0x80 | ((c >> 6) & 0x3f));
            *out += (char)(0x80 | (c & 0x3f));
        }
        else
        {
            *out += (char)(0xf0 | (c >> 18));
            *out += (char)(0x80 | ((c >> 12) & 0x3f));
            *out += (char)(0x80 | ((c >> 6) & 0x3f));
            *out += (char)(0x80 | (c & 0x3f));
        }
    }
    // text up to the quote, with its references resolved
    bool Value(char quote, std::string *out)
    {
        while (p < end && *p != quote)
        {
            if (*p == '<') return false;
            if (*p != '&') { *out += *p++; continue; }
            const char *semi = (const char *)memchr(p, ';', end - p);
            if (!semi || semi - p > 12) return false;
            std::string ref(p + 1, semi - p - 1);
            p = semi + 1;
            if (ref == "lt") *out += '<';
            else if (ref == "gt") *out += '>';
            else if (ref == "amp") *out += '&';
            else if (ref == "quot") *out += '"';
            else if (ref == "apos") *out += '\'';
            else if (ref.size() > 1 && ref[0] == '#')
            {
                char *stop;
                unsigned long c = ref[1] == 'x' || ref[1] == 'X' ? strtoul(ref.c_str() + 2, &stop, 16)
                                                                  : strtoul(ref.c_str() + 1, &stop, 10);
                if (*stop || !c || c > 0x10ffff) return false;
                Utf8(c, out);
            }
            else return false;
        }
        if (p >= end) return false;
        p++;
        return true;
    }
    bool ElementAt(Element *e, int depth)
    {
        if (depth > 64) return false;   // deeper than any timeline
        p++;   // '<'
        if (!Name(&e->name)) return false;
        for (;;)
        {
            Space();
            if (p >= end) return false;
            if (*p == '/')
            {
                if (end - p < 2 || p[1] != '>') return false;
                p += 2;
                return true;
            }
            if (*p == '>') { p++; break; }
            std::pair<std::string, std::string> a;
            if (!Name(&a.first)) return false;
            Space();
            if (p >= end || *p++ != '=') return false;
            Space();
            if (p >= end || (*p != '"' && *p != '\'')) return false;
            char quote = *p++;
            if (!Value(quote, &a.second)) return false;
            e->attrs.push_back(std::move(a));
        }
        // content: child elements; text between them does not matter here
        for (;;)
        {
            while (p < end && *p != '<') p++;
            if (p >= end) return false;
            if (Starts("</"))
            {
                p += 2;
                std::string closing;
                if (!Name(&closing) || closing != e->name) return false;
                Space();
                if (p >= end || *p != '>') return false;
                p++;
                return true;
            }
            if (Starts("<!--")) { if (!SkipPast("-->")) return false; continue; }
            if (Starts("<?")) { if (!SkipPast("?>")) return false; continue; }
            if (Starts("<![CDATA[")) { if (!SkipPast("]]>")) return false; continue; }
            e->children.emplace_back();
            if (!ElementAt(&e->children.back(), depth + 1)) return false;
        }
    }
};

/* ---- Reading: the timeline from the elements ---- */

// "12.5", "1:05" or "1:04:30.512" in 100-ns units; false for anything else
bool parse_time(const std::string &text, REFERENCE_TIME *out)
{
    double total = 0.0;
    const char *s = text.c_str();
    int parts = 0;
    for (;;)
    {
        char *stop;
        double v = strtod(s, &stop);
        if (stop == s || !isfinite(v)) return false;
        total = total * 60.0 + v;
        parts++;
        if (*stop == ':' && parts < 3) { s = stop + 1; continue; }
        while (*stop == ' ') stop++;
        if (*stop) return false;
        break;
    }
    if (fabs(total) > 9e11) return false;
    *out = (REFERENCE_TIME)llround(total * UNITS);
    return true;
}

class Reader
{
public:
    explicit Reader(IAMTimeline *t) : tl(t) {}
    HRESULT Timeline(const Element &root);

private:
    IAMTimeline *tl;

    // -1 invalid, 0 absent, 1 read
    static int Time(const Element &e, const char *key, REFERENCE_TIME *t)
    {
        const std::string *v = e.Attr(key);
        if (!v) return 0;
        return parse_time(*v, t) ? 1 : -1;
    }
    static int Number(const Element &e, const char *key, double *d)
    {
        const std::string *v = e.Attr(key);
        if (!v) return 0;
        char *stop;
        *d = strtod(v->c_str(), &stop);
        return stop != v->c_str() && !*stop && isfinite(*d) ? 1 : -1;
    }
    static int Integer(const Element &e, const char *key, long *n)
    {
        const std::string *v = e.Attr(key);
        if (!v) return 0;
        char *stop;
        *n = strtol(v->c_str(), &stop, 0);
        return stop != v->c_str() && !*stop ? 1 : -1;
    }
    static int Flag(const Element &e, const char *key, BOOL *b)
    {
        const std::string *v = e.Attr(key);
        if (!v || v->empty()) return v ? -1 : 0;
        char c = (*v)[0];
        if (strchr("yYtT1", c)) { *b = TRUE; return 1; }
        if (strchr("nNfF0", c)) { *b = FALSE; return 1; }
        return -1;
    }

    HRESULT Node(TIMELINE_MAJOR_TYPE type, IAMTimelineObj **out) { return tl->CreateEmptyNode(out, type); }
    HRESULT ObjAttrs(const Element &e, IAMTimelineObj *obj, bool times);
    HRESULT SubObject(const Element &e, IAMTimelineObj *obj);
    HRESULT Params(const Element &e, IAMTimelineObj *obj);
    HRESULT Transition(const Element &e, IAMTimelineObj *holder);
    HRESULT Effect(const Element &e, IAMTimelineObj *holder);
    HRESULT Clip(const Element &e, IAMTimelineObj *track);
    HRESULT Layer(const Element &e, IAMTimelineObj *parent);
    HRESULT Group(const Element &e);
};

// what the file gets wrong is a format fault; running out of memory stays what it is
HRESULT format_fault(HRESULT hr)
{
    return hr == E_OUTOFMEMORY ? hr : VFW_E_INVALID_FILE_FORMAT;
}

HRESULT format_fault_if(HRESULT hr)
{
    return SUCCEEDED(hr) ? S_OK : format_fault(hr);
}

HRESULT Reader::ObjAttrs(const Element &e, IAMTimelineObj *obj, bool times)
{
    REFERENCE_TIME start = 0, stop = 0;
    BOOL flag;
    long id;
    HRESULT hr = S_OK;
    if (times)
    {
        int a = Time(e, "start", &start), b = Time(e, "stop", &stop);
        if (a < 0 || b < 0) return VFW_E_INVALID_FILE_FORMAT;
        if (a || b)
        {
            REFERENCE_TIME s0, e0;
            obj->GetStartStop(&s0, &e0);
            if (FAILED(hr = obj->SetStartStop(a ? start : s0, b ? stop : e0))) return format_fault(hr);
        }
    }
    int r;
    if ((r = Flag(e, "mute", &flag)) < 0 || (r > 0 && FAILED(obj->SetMuted(flag)))) return VFW_E_INVALID_FILE_FORMAT;
    if ((r = Flag(e, "lock", &flag)) < 0 || (r > 0 && FAILED(obj->SetLocked(flag)))) return VFW_E_INVALID_FILE_FORMAT;
    if ((r = Integer(e, "userid", &id)) < 0 || (r > 0 && FAILED(obj->SetUserID(id)))) return VFW_E_INVALID_FILE_FORMAT;
    if (const std::string *name = e.Attr("username"))
    {
        BSTR b = bstr(*name);
        if (!b) return E_OUTOFMEMORY;
        hr = obj->SetUserName(b);
        SysFreeString(b);
        if (FAILED(hr)) return format_fault(hr);
    }
    if (const std::string *hex = e.Attr("userdata"))
    {
        if (hex->size() % 2) return VFW_E_INVALID_FILE_FORMAT;
        std::vector<BYTE> data(hex->size() / 2);
        for (size_t i = 0; i < data.size(); i++)
        {
            char pair[3] = {(*hex)[2 * i], (*hex)[2 * i + 1], 0}, *stop;
            data[i] = (BYTE)strtoul(pair, &stop, 16);
            if (*stop) return VFW_E_INVALID_FILE_FORMAT;
        }
        if (FAILED(hr = obj->SetUserData(data.data(), (LONG)data.size()))) return format_fault(hr);
    }
    return S_OK;
}

HRESULT Reader::SubObject(const Element &e, IAMTimelineObj *obj)
{
    const std::string *clsid = e.Attr("clsid");
    if (!clsid) return S_OK;
    BSTR b = bstr(*clsid);
    if (!b) return E_OUTOFMEMORY;
    HRESULT hr = obj->SetSubObjectGUIDB(b);
    SysFreeString(b);
    return FAILED(hr) ? format_fault(hr) : S_OK;
}

// param elements into a new property setter: the value from the start, then the at and linear points
HRESULT Reader::Params(const Element &e, IAMTimelineObj *obj)
{
    IPropertySetter *setter = NULL;
    HRESULT hr = S_OK;
    for (const Element &param : e.children)
    {
        if (!param.Is("param")) continue;
        const std::string *name = param.Attr("name");
        if (!name || name->empty()) return VFW_E_INVALID_FILE_FORMAT;
        if (!setter && FAILED(hr = CoCreateInstance(CLSID_PropertySetter, NULL, CLSCTX_INPROC_SERVER,
                                                    IID_IPropertySetter, (void **)&setter)))
            return hr;
        struct Point { REFERENCE_TIME t; DWORD interp; const std::string *value; };
        std::vector<Point> points;
        if (const std::string *v = param.Attr("value")) points.push_back({0, DEXTERF_JUMP, v});
        for (const Element &at : param.children)
        {
            if (!at.Is("at") && !at.Is("linear")) continue;
            REFERENCE_TIME t;
            const std::string *v = at.Attr("value");
            if (Time(at, "time", &t) != 1 || !v)
            {
                setter->Release();
                return VFW_E_INVALID_FILE_FORMAT;
            }
            points.push_back({t, at.Is("linear") ? (DWORD)DEXTERF_INTERPOLATE : (DWORD)DEXTERF_JUMP, v});
        }
        DEXTER_PARAM p = {bstr(*name), 0, 1};
        for (size_t i = 0; i < points.size() && SUCCEEDED(hr) && p.name; i++)
        {
            DEXTER_VALUE value;
            VariantInit(&value.v);
            V_VT(&value.v) = VT_BSTR;
            V_BSTR(&value.v) = bstr(*points[i].value);
            value.rt = points[i].t;
            value.dwInterp = points[i].interp;
            hr = V_BSTR(&value.v) || points[i].value->empty() ? setter->AddProp(p, &value) : E_OUTOFMEMORY;
            VariantClear(&value.v);
        }
        if (!p.name) hr = E_OUTOFMEMORY;
        SysFreeString(p.name);
        if (FAILED(hr))
        {
            setter->Release();
            return format_fault(hr);
        }
    }
    if (setter)
    {
        hr = obj->SetPropertySetter(setter);
        setter->Release();
    }
    return FAILED(hr) ? format_fault(hr) : S_OK;
}

HRESULT Reader::Transition(const Element &e, IAMTimelineObj *holder)
{
    IAMTimelineObj *obj = NULL;
    IAMTimelineTrans *trans = NULL;
    IAMTimelineTransable *able = NULL;
    REFERENCE_TIME cut;
    BOOL flag;
    int r;
    HRESULT hr = Node(TIMELINE_MAJOR_TYPE_TRANSITION, &obj);
    if (FAILED(hr)) return hr;
    if (SUCCEEDED(hr = SubObject(e, obj)) && SUCCEEDED(hr = ObjAttrs(e, obj, true))
            && SUCCEEDED(hr = obj->QueryInterface(IID_IAMTimelineTrans, (void **)&trans)))
    {
        if ((r = Time(e, "cutpoint", &cut)) < 0 || (r > 0 && FAILED(trans->SetCutPoint(cut)))) hr = VFW_E_INVALID_FILE_FORMAT;
        if ((r = Flag(e, "cutsonly", &flag)) < 0 || (r > 0 && FAILED(trans->SetCutsOnly(flag)))) hr = VFW_E_INVALID_FILE_FORMAT;
        if ((r = Flag(e, "swapinputs", &flag)) < 0 || (r > 0 && FAILED(trans->SetSwapInputs(flag)))) hr = VFW_E_INVALID_FILE_FORMAT;
        trans->Release();
    }
    if (SUCCEEDED(hr)) hr = Params(e, obj);
    if (SUCCEEDED(hr) && FAILED(hr = holder->QueryInterface(IID_IAMTimelineTransable, (void **)&able)))
        hr = VFW_E_INVALID_FILE_FORMAT;
    if (SUCCEEDED(hr)) hr = format_fault_if(able->TransAdd(obj));
    if (able) able->Release();
    obj->Release();
    return hr;
}

HRESULT Reader::Effect(const Element &e, IAMTimelineObj *holder)
{
    IAMTimelineObj *obj = NULL;
    IAMTimelineEffectable *able = NULL;
    HRESULT hr = Node(TIMELINE_MAJOR_TYPE_EFFECT, &obj);
    if (FAILED(hr)) return hr;
    if (SUCCEEDED(hr = SubObject(e, obj)) && SUCCEEDED(hr = ObjAttrs(e, obj, true))) hr = Params(e, obj);
    if (SUCCEEDED(hr) && FAILED(hr = holder->QueryInterface(IID_IAMTimelineEffectable, (void **)&able)))
        hr = VFW_E_INVALID_FILE_FORMAT;
    if (SUCCEEDED(hr)) hr = format_fault_if(able->EffectInsBefore(obj, -1));
    if (able) able->Release();
    obj->Release();
    return hr;
}

// Of the two start times and the two stop times at least one each; a missing start is 0, a missing stop
// follows at the normal rate.
HRESULT Reader::Clip(const Element &e, IAMTimelineObj *track)
{
    REFERENCE_TIME start = 0, stop = 0, mstart = 0, mstop = 0, mlength = 0;
    int has_start = Time(e, "start", &start), has_stop = Time(e, "stop", &stop);
    int has_mstart = Time(e, "mstart", &mstart), has_mstop = Time(e, "mstop", &mstop);
    int has_mlength = Time(e, "mlength", &mlength);
    long stream = 0;
    double fps = 0.0;
    long mode = RESIZEF_STRETCH;
    int has_stream = Integer(e, "stream", &stream), has_fps = Number(e, "framerate", &fps);
    int has_mode = Integer(e, "stretchmode", &mode);
    if (has_start < 0 || has_stop < 0 || has_mstart < 0 || has_mstop < 0 || has_mlength < 0 || has_stream < 0
            || has_fps < 0 || has_mode < 0 || (!has_stop && !has_mstop))
        return VFW_E_INVALID_FILE_FORMAT;
    if (!has_stop) stop = start + (mstop - mstart);
    if (!has_mstop) mstop = mstart + (stop - start);

    IAMTimelineObj *obj = NULL;
    IAMTimelineSrc *src = NULL;
    IAMTimelineTrack *t = NULL;
    HRESULT hr = Node(TIMELINE_MAJOR_TYPE_SOURCE, &obj);
    if (FAILED(hr)) return hr;
    if (SUCCEEDED(hr = obj->QueryInterface(IID_IAMTimelineSrc, (void **)&src)))
    {
        if (const std::string *name = e.Attr("src"))
        {
            BSTR b = bstr(*name);
            hr = b ? src->SetMediaName(b) : E_OUTOFMEMORY;
            SysFreeString(b);
        }
        else hr = SubObject(e, obj);
        if (SUCCEEDED(hr) && has_mlength) hr = src->SetMediaLength(mlength);
        if (SUCCEEDED(hr)) hr = src->SetMediaTimes(mstart, mstop);
        if (SUCCEEDED(hr) && has_stream) hr = src->SetStreamNumber(stream);
        if (SUCCEEDED(hr) && has_fps) hr = src->SetDefaultFPS(fps);
        if (SUCCEEDED(hr) && has_mode) hr = src->SetStretchMode((int)mode);
        src->Release();
        hr = format_fault_if(hr);
    }
    if (SUCCEEDED(hr)) hr = format_fault_if(obj->SetStartStop(start, stop));
    if (SUCCEEDED(hr)) hr = ObjAttrs(e, obj, false);
    if (SUCCEEDED(hr) && FAILED(track->QueryInterface(IID_IAMTimelineTrack, (void **)&t))) hr = VFW_E_INVALID_FILE_FORMAT;
    if (SUCCEEDED(hr)) hr = format_fault_if(t->SrcAdd(obj));
    for (const Element &child : e.children)
        if (SUCCEEDED(hr) && child.Is("effect")) hr = Effect(child, obj);
    if (t) t->Release();
    obj->Release();
    return hr;
}

// a track or composition, put above the layers its parent holds already
HRESULT Reader::Layer(const Element &e, IAMTimelineObj *parent)
{
    bool composite = e.Is("composite");
    IAMTimelineObj *obj = NULL;
    IAMTimelineComp *comp = NULL;
    HRESULT hr = Node(composite ? TIMELINE_MAJOR_TYPE_COMPOSITE : TIMELINE_MAJOR_TYPE_TRACK, &obj);
    if (FAILED(hr)) return hr;
    if (SUCCEEDED(hr = ObjAttrs(e, obj, false)) && FAILED(parent->QueryInterface(IID_IAMTimelineComp, (void **)&comp)))
        hr = VFW_E_INVALID_FILE_FORMAT;
    if (SUCCEEDED(hr)) hr = format_fault_if(comp->VTrackInsBefore(obj, -1));
    if (comp) comp->Release();
    for (const Element &child : e.children)
    {
        if (FAILED(hr)) break;
        if (child.Is("clip") && !composite) hr = Clip(child, obj);
        else if ((child.Is("track") || child.Is("composite")) && composite) hr = Layer(child, obj);
        else if (child.Is("transition")) hr = Transition(child, obj);
        else if (child.Is("effect")) hr = Effect(child, obj);
    }
    obj->Release();
    return hr;
}

// video: width, height and bitdepth (16 is RGB 5:5:5, 32 has alpha); audio: samplingrate, 16-bit stereo
HRESULT Reader::Group(const Element &e)
{
    const std::string *type = e.Attr("type");
    if (!type) return VFW_E_INVALID_FILE_FORMAT;
    bool video = !strcasecmp(type->c_str(), "video");
    if (!video && strcasecmp(type->c_str(), "audio")) return VFW_E_INVALID_FILE_FORMAT;
    AM_MEDIA_TYPE mt = {};
    VIDEOINFOHEADER vih = {};
    WAVEFORMATEX wfx = {};
    if (video)
    {
        long width = 320, height = 240, depth = 16;
        if (Integer(e, "width", &width) < 0 || Integer(e, "height", &height) < 0 || Integer(e, "bitdepth", &depth) < 0)
            return VFW_E_INVALID_FILE_FORMAT;
        if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return VFW_E_INVALID_FILE_FORMAT;
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = width;
        vih.bmiHeader.biHeight = height;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = (WORD)depth;
        vih.bmiHeader.biCompression = BI_RGB;
        vih.bmiHeader.biSizeImage = (DWORD)(((width * depth + 31) & ~31) / 8 * height);
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = depth == 16 ? MEDIASUBTYPE_RGB555 : depth == 24 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_ARGB32;
        if (depth != 16 && depth != 24 && depth != 32) return VFW_E_INVALID_FILE_FORMAT;
        mt.formattype = FORMAT_VideoInfo;
        mt.bFixedSizeSamples = TRUE;
        mt.lSampleSize = vih.bmiHeader.biSizeImage;
        mt.cbFormat = sizeof(vih);
        mt.pbFormat = (BYTE *)&vih;
    }
    else
    {
        long rate = 44100;
        if (Integer(e, "samplingrate", &rate) < 0 || rate < 1000 || rate > 192000) return VFW_E_INVALID_FILE_FORMAT;
        wfx.wFormatTag = WAVE_FORMAT_PCM;
        wfx.nChannels = 2;
        wfx.nSamplesPerSec = (DWORD)rate;
        wfx.wBitsPerSample = 16;
        wfx.nBlockAlign = 4;
        wfx.nAvgBytesPerSec = (DWORD)rate * 4;
        mt.majortype = MEDIATYPE_Audio;
        mt.subtype = MEDIASUBTYPE_PCM;
        mt.formattype = FORMAT_WaveFormatEx;
        mt.bFixedSizeSamples = TRUE;
        mt.lSampleSize = 4;
        mt.cbFormat = sizeof(wfx);
        mt.pbFormat = (BYTE *)&wfx;
    }

    IAMTimelineObj *obj = NULL;
    IAMTimelineGroup *group = NULL;
    double fps;
    BOOL flag;
    long buffering;
    int r;
    HRESULT hr = Node(TIMELINE_MAJOR_TYPE_GROUP, &obj);
    if (FAILED(hr)) return hr;
    if (SUCCEEDED(hr = obj->QueryInterface(IID_IAMTimelineGroup, (void **)&group)))
    {
        hr = format_fault_if(group->SetMediaType(&mt));
        if (SUCCEEDED(hr) && ((r = Number(e, "framerate", &fps)) < 0 || (r > 0 && FAILED(group->SetOutputFPS(fps)))))
            hr = VFW_E_INVALID_FILE_FORMAT;
        if (SUCCEEDED(hr) && ((r = Flag(e, "previewmode", &flag)) < 0 || (r > 0 && FAILED(group->SetPreviewMode(flag)))))
            hr = VFW_E_INVALID_FILE_FORMAT;
        if (SUCCEEDED(hr) && ((r = Integer(e, "buffering", &buffering)) < 0
                              || (r > 0 && FAILED(group->SetOutputBuffering((int)buffering)))))
            hr = VFW_E_INVALID_FILE_FORMAT;
        if (SUCCEEDED(hr))
            if (const std::string *name = e.Attr("name"))
            {
                BSTR b = bstr(*name);
                hr = b ? format_fault_if(group->SetGroupName(b)) : E_OUTOFMEMORY;
                SysFreeString(b);
            }
        group->Release();
    }
    if (SUCCEEDED(hr)) hr = ObjAttrs(e, obj, false);
    if (SUCCEEDED(hr)) hr = format_fault_if(tl->AddGroup(obj));
    for (const Element &child : e.children)
    {
        if (FAILED(hr)) break;
        if (child.Is("track") || child.Is("composite")) hr = Layer(child, obj);
        else if (child.Is("transition")) hr = Transition(child, obj);
    }
    obj->Release();
    return hr;
}

HRESULT Reader::Timeline(const Element &root)
{
    if (!root.Is("timeline")) return VFW_E_INVALID_FILE_FORMAT;
    double fps;
    BOOL flag;
    int r;
    if ((r = Number(root, "framerate", &fps)) < 0 || (r > 0 && FAILED(tl->SetDefaultFPS(fps)))) return VFW_E_INVALID_FILE_FORMAT;
    if ((r = Flag(root, "enabletrans", &flag)) < 0 || (r > 0 && FAILED(tl->EnableTransitions(flag)))) return VFW_E_INVALID_FILE_FORMAT;
    if ((r = Flag(root, "enablefx", &flag)) < 0 || (r > 0 && FAILED(tl->EnableEffects(flag)))) return VFW_E_INVALID_FILE_FORMAT;
    for (const char *key : {"defaulttrans", "defaultfx"})
        if (const std::string *guid = root.Attr(key))
        {
            BSTR b = bstr(*guid);
            if (!b) return E_OUTOFMEMORY;
            HRESULT hr = !strcmp(key, "defaulttrans") ? tl->SetDefaultTransitionB(b) : tl->SetDefaultEffectB(b);
            SysFreeString(b);
            if (FAILED(hr)) return format_fault(hr);
        }
    for (const Element &child : root.children)
        if (child.Is("group"))
        {
            HRESULT hr = Group(child);
            if (FAILED(hr)) return hr;
        }
    return S_OK;
}

}  // namespace

// The first value is the param's own; the others are at (a jump) or linear (a ramp) points.
HRESULT XtlParams(IPropertySetter *setter, int depth, std::string *text)
{
    LONG count = 0;
    DEXTER_PARAM *params;
    DEXTER_VALUE *values;
    if (!setter || !text) return E_POINTER;
    HRESULT hr = setter->GetProps(&count, &params, &values);
    if (FAILED(hr)) return hr;
    try
    {
        Writer w;
        LONG k = 0;
        for (LONG i = 0; i < count; i++)
        {
            std::string value;
            LONG n = params[i].nValues;
            w.Open(depth, "param");
            w.Attr("name", utf8(params[i].name));
            if (n > 0 && value_text(&values[k].v, &value)) w.Attr("value", value);
            bool points = n > 1 || (n == 1 && values[k].rt != 0);
            w.Close(points);
            for (LONG j = n > 0 && values[k].rt != 0 ? 0 : 1; points && j < n; j++)
            {
                if (!value_text(&values[k + j].v, &value)) continue;
                w.Open(depth + 1, values[k + j].dwInterp == DEXTERF_INTERPOLATE ? "linear" : "at");
                w.Attr("time", seconds(values[k + j].rt));
                w.Attr("value", value);
                w.Close(false);
            }
            if (points) w.End(depth, "param");
            k += n > 0 ? n : 0;
        }
        text->swap(w.out);
    }
    catch (const std::bad_alloc &)
    {
        hr = E_OUTOFMEMORY;
    }
    setter->FreeProps(count, params, values);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT XtlWrite(IAMTimeline *timeline, std::string *text)
{
    if (!timeline || !text) return E_POINTER;
    try
    {
        Writer w;
        HRESULT hr = w.Timeline(timeline);
        if (FAILED(hr)) return hr;
        text->swap(w.out);
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT XtlRead(IAMTimeline *timeline, const char *text, size_t size)
{
    if (!timeline || !text) return E_POINTER;
    try
    {
        Element root;
        Parser parser(text, size);
        if (!parser.Document(&root)) return VFW_E_INVALID_FILE_FORMAT;
        Reader reader(timeline);
        return reader.Timeline(root);
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
}
