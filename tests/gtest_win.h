// GoogleTest inside a Winelib program: gtest must not see _WIN32, the Win32 headers must.
#pragma once
#pragma push_macro("_WIN32")
#pragma push_macro("_WIN64")
#undef _WIN32
#undef _WIN64
#include <gtest/gtest.h>
#pragma pop_macro("_WIN64")
#pragma pop_macro("_WIN32")
