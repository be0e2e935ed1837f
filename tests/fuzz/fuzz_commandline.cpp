// Feeds arbitrary bytes to the splitting of command lines into the incoming slots, as a second start
// forwards them (WM_COPYDATA, cut and ended as the window takes them) and as a first start gets them:
// every name must end inside its slot, and the count stay within what the list can offer.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include "sequora.h"

static void CheckSlots(int count)
{
    if (count < 0 || count > MAX_ITEMS + 1) __builtin_trap();
    for (int i = 0; i < MAX_ITEMS; i++)
        if (!memchr(items[i].incoming, 0, MAX_PATH)) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char text[MAX_ITEMS * MAX_PATH + 1];
    size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
    for (int i = 0; i < MAX_ITEMS; i++) SetItemDefaults(&items[i]);
    memcpy(text, data, n);
    text[n] = 0;
    CheckSlots(SplitForwardedCommandLine(text));
    memcpy(text, data, n);
    text[n] = 0;
    int count = SplitCommandLine(text);
    if (count < 0) __builtin_trap();
    CheckSlots(count > MAX_ITEMS ? MAX_ITEMS : count);
    return 0;
}
