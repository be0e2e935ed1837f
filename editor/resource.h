// Resource and control identifiers of the editor.
#pragma once

#define IDR_MAINMENU        101
#define IDI_APPICON         102
#define IDR_ACCELERATORS    103
#define IDD_SETTINGS        104
#define IDD_COMPRESSOR      105

#define IDM_OPEN            40001
#define IDM_PREVIEW         40002
#define IDM_SAVEAS          40003
#define IDM_EXIT            40004
#define IDM_DELETE          40005
#define IDM_MOVEUP          40006
#define IDM_MOVEDOWN        40007
#define IDM_SETTINGS        40008
#define IDM_OPENPROJECT     40009
#define IDM_SAVEPROJECT     40010

#define IDC_TIMELINEVIEW    1501
#define IDC_PROPERTYBAR     1502
#define IDC_EFFECTCOMBO     1506
#define IDC_IMAGETIMEEDIT   1509
#define IDC_CHANGEBUTTON    1510

// Output settings dialog
#define IDC_TYPE            1000
#define IDC_CHANNELS        1001
#define IDC_BITS            1002
#define IDC_RATE            1003
#define IDC_DEPTH           1004
#define IDC_WIDTH           1005
#define IDC_HEIGHT          1006
#define IDC_FPS             1007
#define IDC_WIDTHSPIN       1008
#define IDC_HEIGHTSPIN      1009

// Compressor selection dialog
#define IDC_COMPRESSORLIST  1000
