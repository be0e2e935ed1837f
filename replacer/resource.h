// Resource and control identifiers of Dubrix.
#pragma once

#define IDD_REPLACER        101
#define IDI_APPICON         102

#define IDC_RUN             1001
#define IDC_QUIT            1002
#define IDC_AVIPATH         1003
#define IDC_WAVPATH         1004
#define IDC_BROWSEAVI       1005
#define IDC_BROWSEWAV       1006
#define IDC_COMPRESSOR      1008
