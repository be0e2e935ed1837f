# Linux build: Win32 sources through Winelib, GStreamer glue through plain gcc.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER /usr/lib/wine/wineg++)
set(CMAKE_C_COMPILER gcc)
set(SUITE_WINELIB ON)
