// Resource and control identifiers of the cutter.
#pragma once

#define IDR_MAINMENU        101
#define IDD_MAIN            102
#define IDI_APPICON         103
#define IDI_PAUSE           104
#define IDI_PLAY            105
#define IDI_SKIPSTART       106
#define IDI_FRAMESTEP       107
#define IDI_STOP            108
#define IDD_COMPRESSOR      109

#define IDM_OPEN            40001
#define IDM_EXIT            40002

// Main dialog
#define IDC_SLIDER          1000
#define IDC_PLAY            1001
#define IDC_STOP            1002
#define IDC_SKIPSTART       1003
#define IDC_FRAMESTEP       1004
#define IDC_SETSTART        1005
#define IDC_SETEND          1006
#define IDC_SAVE            1007
#define IDC_QUIT            1008
#define IDC_VIDEOAREA       1009

// Compressor selection dialog
#define IDC_COMPRESSORLIST  1010
