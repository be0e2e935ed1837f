/*
 * Timelines as XTL, the XML project format: written from and read into any IAMTimeline through its
 * interfaces alone (xtl.cpp). Text is UTF-8. Private to editing/.
 */
#ifndef MEDIAPLATFORM_XTL_H
#define MEDIAPLATFORM_XTL_H

#include "editing_services.h"

#include <string>

// The whole timeline: its defaults, every group, composition, track, clip, transition, effect and the
// properties of transitions and effects.
HRESULT XtlWrite(IAMTimeline *timeline, std::string *text);

// The param elements of a property setter's values, indented by depth levels (IPropertySetter::PrintXML
// and the transitions and effects of XtlWrite).
HRESULT XtlParams(IPropertySetter *setter, int depth, std::string *text);

// Adds what the text describes to the timeline, beside what it holds already. VFW_E_INVALID_FILE_FORMAT
// for text that is not well-formed XML with a timeline element at its root; the timeline keeps what
// was added before the fault.
HRESULT XtlRead(IAMTimeline *timeline, const char *text, size_t size);

#endif
