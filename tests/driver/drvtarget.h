// Control and command ids of the driver's test window (drvtarget.cpp), shared with its self-test.
#pragma once

enum {
    ID_EDIT = 101, ID_COMBO = 102, ID_ASK = 103, ID_DISABLED = 104, ID_HIDDEN = 105,
    ID_TRACK = 106, ID_STATUS = 107, ID_LIST = 108,
    IDM_OPEN = 201, IDM_SAVE = 202, IDM_ASK = 203, IDM_HANG = 204, IDM_EXIT = 205, IDM_BUSY = 206,
    IDM_CRASH = 207
};
