// Resource and control identifiers of the converter.
#pragma once

#define IDD_MAIN            101
#define IDI_APPICON         102
#define IDR_MAINMENU        103

#define IDC_SAVE            1001
#define IDC_EXIT            1002
#define IDC_AUDIOFORM       1004
#define IDC_AVIFORM         1005
#define IDC_QUALITY         1006
#define IDC_QUALITYFRAME    1007
#define IDC_AUDIOFRAME      1008
#define IDC_VIDEOFRAME      1009
#define IDC_AUDIOENCODER    1010
#define IDC_VIDEOENCODER    1011

#define IDM_OPEN            40001
#define IDM_EXIT            40002
