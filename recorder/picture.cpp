// Capturo: the device's own dialogs, or the picture controls and the settings dialog that adjusts them.
#include "capturo.h"
#include <commctrl.h>

PictureProperty pictureProperties[PICTURE_PROPERTY_COUNT];

// Record i is the device's property propertyOf[i]; the first eight show on trackbars, the last two on
// check boxes.
static const long propertyOf[PICTURE_PROPERTY_COUNT] = {
    VideoProcAmp_Brightness, VideoProcAmp_Contrast, VideoProcAmp_Hue, VideoProcAmp_Saturation,
    VideoProcAmp_Sharpness, VideoProcAmp_Gamma, VideoProcAmp_WhiteBalance, VideoProcAmp_Gain,
    VideoProcAmp_ColorEnable, VideoProcAmp_BacklightCompensation};
static const int trackbarIds[PICTURE_TRACKBARS] = {IDC_BRIGHTNESS, IDC_CONTRAST, IDC_HUE, IDC_SATURATION,
                                                   IDC_SHARPNESS, IDC_GAMMA, IDC_WHITEBALANCE, IDC_GAIN};
static const int labelIds[PICTURE_TRACKBARS] = {IDC_BRIGHTNESSLABEL, IDC_CONTRASTLABEL, IDC_HUELABEL,
                                                IDC_SATURATIONLABEL, IDC_SHARPNESSLABEL, IDC_GAMMALABEL,
                                                IDC_WHITEBALANCELABEL, IDC_GAINLABEL};
static const int checkIds[PICTURE_PROPERTY_COUNT - PICTURE_TRACKBARS] = {IDC_COLORENABLE, IDC_BACKLIGHT};

// ---- the device's dialogs ----------------------------------------------------------------------

bool LookUpVfwDialogs()
{
    if (vfwDialogs) vfwDialogs->Release();
    vfwDialogs = NULL;
    if (!captureBuilder || !captureFilter) return false;
    if (FAILED(captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter,
                                             IID_IAMVfwCaptureDialogs, (void **)&vfwDialogs))) {
        vfwDialogs = NULL;
        return false;
    }
    return true;
}

bool CheckVfwDialogs()
{
    if (!captureBuilder) return false;
    HMENU settingsMenu = GetSubMenu(GetMenu(mainDialog), 1);
    if (!settingsMenu) return false;
    if (!LookUpVfwDialogs()) {
        EnableMenuItem(settingsMenu, IDM_VFWSOURCE, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(settingsMenu, IDM_VFWFORMAT, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(settingsMenu, IDM_VFWDISPLAY, MF_BYCOMMAND | MF_GRAYED);
        return false;
    }
    EnableMenuItem(settingsMenu, IDM_QUALITY, MF_BYCOMMAND | MF_GRAYED);
    static const int dialogs[3] = {VFW_DIALOG_SOURCE, VFW_DIALOG_FORMAT, VFW_DIALOG_DISPLAY};
    static const int commands[3] = {IDM_VFWSOURCE, IDM_VFWFORMAT, IDM_VFWDISPLAY};
    for (int i = 0; i < 3; i++)
        if (FAILED(vfwDialogs->HasDialog(dialogs[i]))) EnableMenuItem(settingsMenu, commands[i], MF_BYCOMMAND | MF_GRAYED);
    return true;
}

void ShowVfwDialog(int which)
{
    if (!vfwDialogs) return;
    StopCapture();
    if (videoWindow) {
        videoWindow->put_Visible(OAFALSE);
        videoWindow->put_Owner(0);
    }
    vfwDialogs->ShowDialog(which, mainDialog);
    if (videoWindow) {
        videoWindow->put_Owner((OAHWND)previewArea);
        videoWindow->put_Visible(OATRUE);
    }
}

// ---- picture controls --------------------------------------------------------------------------

void ReadPictureProperties()
{
    for (int i = 0; i < PICTURE_PROPERTY_COUNT; i++) {
        PictureProperty &record = pictureProperties[i];
        record.supported = false;
        IAMVideoProcAmp *amp;
        if (!captureFilter || FAILED(captureFilter->QueryInterface(IID_IAMVideoProcAmp, (void **)&amp))) continue;
        LONG min, max, step, defaultValue, flags, value;
        if (SUCCEEDED(amp->GetRange(propertyOf[i], &min, &max, &step, &defaultValue, &flags)) &&
            SUCCEEDED(amp->Get(propertyOf[i], &value, &flags))) {
            record.supported = true;
            record.min = min;
            record.max = max;
            record.step = step;
            record.defaultValue = defaultValue;
            record.flags = flags;   // the current mode, as Get gives it
            record.value = value;
        }
        amp->Release();
    }
}

void ApplyPictureProperties()
{
    for (int i = 0; i < PICTURE_PROPERTY_COUNT; i++) {
        const PictureProperty &record = pictureProperties[i];
        // Automatic properties stay the device's business.
        if (record.flags == VideoProcAmp_Flags_Auto || !record.supported || !captureFilter) continue;
        IAMVideoProcAmp *amp;
        if (FAILED(captureFilter->QueryInterface(IID_IAMVideoProcAmp, (void **)&amp))) continue;
        amp->Set(propertyOf[i], record.value, VideoProcAmp_Flags_Manual);
        amp->Release();
    }
}

bool Adjustable(const PictureProperty &property)
{
    return property.supported && property.flags == VideoProcAmp_Flags_Manual && property.max > property.min &&
           property.step > 0;
}

int TrackbarPosition(const PictureProperty &property)
{
    LONGLONG position = ((LONGLONG)property.value - property.min) * 1000 / ((LONGLONG)property.max - property.min);
    return position < 0 ? 0 : position > 1000 ? 1000 : (int)position;
}

// The value at a position, moved down onto the device's steps counted from its lowest value.
int TrackbarValue(const PictureProperty &property, int position)
{
    if (position < 0) position = 0;
    if (position > 1000) position = 1000;
    LONGLONG offset = (LONGLONG)position * ((LONGLONG)property.max - property.min) / 1000;
    offset -= offset % property.step;
    return (int)(property.min + offset);
}

// ---- settings dialog ---------------------------------------------------------------------------

static void ShowValues(HWND dialog)
{
    for (int i = 0; i < PICTURE_TRACKBARS; i++) {
        const PictureProperty &record = pictureProperties[i];
        HWND trackbar = GetDlgItem(dialog, trackbarIds[i]);
        if (Adjustable(record)) {
            SendMessageA(trackbar, TBM_SETPOS, TRUE, TrackbarPosition(record));
        } else {
            EnableWindow(GetDlgItem(dialog, labelIds[i]), FALSE);
            EnableWindow(trackbar, FALSE);
        }
    }
    for (int i = PICTURE_TRACKBARS; i < PICTURE_PROPERTY_COUNT; i++) {
        const PictureProperty &record = pictureProperties[i];
        HWND check = GetDlgItem(dialog, checkIds[i - PICTURE_TRACKBARS]);
        if (Adjustable(record))
            SendMessageA(check, BM_SETCHECK, record.value ? BST_CHECKED : BST_UNCHECKED, 0);
        else
            EnableWindow(check, FALSE);
    }
}

static void ReadValues(HWND dialog)
{
    for (int i = 0; i < PICTURE_TRACKBARS; i++) {
        PictureProperty &record = pictureProperties[i];
        if (!Adjustable(record)) continue;
        int position = (int)SendDlgItemMessageA(dialog, trackbarIds[i], TBM_GETPOS, 0, 0);
        // An untouched trackbar keeps its exact value, which its position may only round.
        if (position != TrackbarPosition(record)) record.value = TrackbarValue(record, position);
    }
    for (int i = PICTURE_TRACKBARS; i < PICTURE_PROPERTY_COUNT; i++) {
        PictureProperty &record = pictureProperties[i];
        if (!Adjustable(record)) continue;
        LRESULT state = SendDlgItemMessageA(dialog, checkIds[i - PICTURE_TRACKBARS], BM_GETCHECK, 0, 0);
        record.value = state == BST_CHECKED ? 1 : 0;
    }
}

INT_PTR CALLBACK PictureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitCommonControls();
        for (int i = 0; i < PICTURE_TRACKBARS; i++) {
            HWND trackbar = GetDlgItem(dialog, trackbarIds[i]);
            SendMessageA(trackbar, TBM_SETTICFREQ, 500, 0);
            SendMessageA(trackbar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 1000));
        }
        ShowValues(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            ReadValues(dialog);
            RestartPreview();
            return TRUE;
        case IDC_RESET:
            for (int i = 0; i < PICTURE_PROPERTY_COUNT; i++) pictureProperties[i].value = pictureProperties[i].defaultValue;
            ShowValues(dialog);
            RestartPreview();
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
