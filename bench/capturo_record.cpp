// Recording from the platform's test-pattern camera at 640x480, two ways:
//   app GRAPH_SECONDS: Capturo driven as a user drives it (size 640×480, mode 録画, 実行, wait, 停止) in
//                      folder DIR; the camera's own rate for the size.
//   graph:             the same capture graph built here, the camera asked for FPS frames a second.
// Usage: capturo_record.exe.so app CAPTURO_EXE DIR SECONDS
//        capturo_record.exe.so graph OUTPUT.avi SECONDS FPS
// Prints "seconds=" (from run to stop) and "fps=" (the rate asked for). The files "running" and
// "stopped" appear in DIR (graph: the output's folder) when the recording starts and ends, so that the
// script can read the recording process's CPU time from the outside.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dshow.h>
#include "driver/driver.h"

static void Mark(const std::string &dir, const char *name)
{
    drv::writeFile(dir + "/" + name, "");
}

static int DriveApp(const char *exe, const char *dir, double seconds)
{
    drv::LaunchOptions options;
    options.cwd = dir;
    options.env.push_back("MEDIAPLATFORM_VIRTUAL_CAMERA=1");
    drv::Process app(exe, {}, options);
    HWND main = app.window("#32770", "Capturo", 30000);
    if (!main) return 3;
    if (!drv::comboSelect(drv::child(main, 1004), "640×480")) return 4;
    if (!drv::waitUntil([&] { return drv::checked(drv::child(main, 1000)); })) return 5;
    if (!drv::comboSelect(drv::child(main, 1003), 1)) return 6;
    if (!drv::waitUntil([&] { return drv::checked(drv::child(main, 1001)); })) return 7;
    DWORD start = GetTickCount();
    drv::click(main, 1000);
    Mark(dir, "running");
    Sleep((DWORD)(seconds * 1000));
    drv::click(main, 1001);
    drv::waitUntil([&] { return drv::text(main) == "Capturo"; });
    DWORD stop = GetTickCount();
    Mark(dir, "stopped");
    printf("seconds=%.3f\nfps=15\n", (stop - start) / 1000.0);
    drv::click(main, 1006);
    return app.exitCode() == 0 ? 0 : 8;
}

static IBaseFilter *FirstCamera()
{
    ICreateDevEnum *devices;
    IEnumMoniker *list = NULL;
    IMoniker *moniker;
    IBaseFilter *camera = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                (void **)&devices)))
        return NULL;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &list, 0) == S_OK && list) {
        if (list->Next(1, &moniker, NULL) == S_OK) {
            moniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&camera);
            moniker->Release();
        }
        list->Release();
    }
    devices->Release();
    return camera;
}

static int BuildGraph(const char *output, double seconds, int fps)
{
    SetEnvironmentVariableA("MEDIAPLATFORM_VIRTUAL_CAMERA", "1");
    CoInitialize(NULL);
    IGraphBuilder *graph;
    ICaptureGraphBuilder2 *builder;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&graph)) ||
        FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                (void **)&builder)) ||
        FAILED(builder->SetFiltergraph(graph)))
        return 3;
    IBaseFilter *camera = FirstCamera();
    if (!camera || FAILED(graph->AddFilter(camera, L"Video Capture"))) return 4;
    IAMStreamConfig *config;
    if (FAILED(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, IID_IAMStreamConfig,
                                      (void **)&config)))
        return 5;
    VIDEOINFOHEADER format = {};
    format.AvgTimePerFrame = 10000000 / fps;
    format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format.bmiHeader.biWidth = 640;
    format.bmiHeader.biHeight = 480;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biSizeImage = 640 * 480 * 3;
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = 640 * 480 * 3;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = sizeof format;
    type.pbFormat = (BYTE *)&format;
    HRESULT hr = config->SetFormat(&type);
    config->Release();
    if (FAILED(hr)) return 6;
    WCHAR path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, drv::dosPath(output).c_str(), -1, path, MAX_PATH);
    IBaseFilter *mux;
    if (FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, path, &mux, NULL)) ||
        FAILED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, NULL, mux)))
        return 7;
    mux->Release();
    IMediaControl *control;
    if (FAILED(graph->QueryInterface(IID_IMediaControl, (void **)&control))) return 8;
    std::string dir = drv::unixPath(output);
    dir = dir.substr(0, dir.rfind('/'));
    DWORD start = GetTickCount();
    control->Run();
    Mark(dir, "running");
    Sleep((DWORD)(seconds * 1000));
    control->Stop();
    DWORD stop = GetTickCount();
    Mark(dir, "stopped");
    Sleep(1000);   // the script reads this process's CPU time before it goes
    printf("seconds=%.3f\nfps=%d\n", (stop - start) / 1000.0, fps);
    control->Release();
    camera->Release();
    builder->Release();
    graph->Release();
    CoUninitialize();
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 5 && !strcmp(argv[1], "app")) return DriveApp(argv[2], argv[3], atof(argv[4]));
    if (argc == 5 && !strcmp(argv[1], "graph")) return BuildGraph(argv[2], atof(argv[3]), atoi(argv[4]));
    fprintf(stderr, "usage: capturo_record.exe.so app CAPTURO_EXE DIR SECONDS | graph OUTPUT SECONDS FPS\n");
    return 2;
}
