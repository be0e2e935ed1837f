// Resource and control identifiers of the recorder.
#pragma once

#define IDD_MAIN            101
#define IDR_MAINMENU        102
#define IDI_APPICON         103
#define IDD_PICTURE         106

#define IDM_SAVENAME        40001
#define IDM_EXIT            40002
#define IDM_VFWSOURCE       40003
#define IDM_VFWFORMAT       40004
#define IDM_VFWDISPLAY      40005
#define IDM_QUALITY         40006

// Main dialog
#define IDC_RUN             1000
#define IDC_STOP            1001
#define IDC_COMPRESSOR      1002
#define IDC_MODE            1003
#define IDC_CAPTURESIZE     1004
#define IDC_PREVIEW         1005
#define IDC_EXIT            1006

// Picture settings dialog
#define IDC_BRIGHTNESS      1007
#define IDC_CONTRAST        1009
#define IDC_HUE             1010
#define IDC_SATURATION      1011
#define IDC_SHARPNESS       1012
#define IDC_GAMMA           1013
#define IDC_WHITEBALANCE    1014
#define IDC_GAIN            1015
#define IDC_COLORENABLE     1016
#define IDC_BACKLIGHT       1017
#define IDC_RESET           1018
#define IDC_BRIGHTNESSLABEL 1020
#define IDC_CONTRASTLABEL   1021
#define IDC_HUELABEL        1022
#define IDC_SATURATIONLABEL 1023
#define IDC_SHARPNESSLABEL  1024
#define IDC_GAMMALABEL      1025
#define IDC_WHITEBALANCELABEL 1026
#define IDC_GAINLABEL       1027
