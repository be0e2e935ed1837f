// Conformance checks: each one documented behaviour of one interface (a return code, an out-parameter
// left alone or cleared, a state after a call). Every check is also a GoogleTest expectation; when the
// test program ends it prints, per interface, how many of its checks hold.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <map>
#include <string>
#include "gtest_win.h"

namespace conf {

struct Tally { int held = 0, total = 0; };

inline std::map<std::string, Tally> &Tallies()
{
    static std::map<std::string, Tally> tallies;
    return tallies;
}

// A behaviour that holds or not.
inline void Holds(const char *iface, const std::string &what, bool held)
{
    Tally &t = Tallies()[iface];
    t.total++;
    if (held) t.held++;
    EXPECT_TRUE(held) << iface << ": " << what;
}

// A call that must answer want.
inline void Returns(const char *iface, const std::string &what, HRESULT got, HRESULT want)
{
    char text[64];
    snprintf(text, sizeof(text), " (0x%08lx, documented 0x%08lx)", (unsigned long)got, (unsigned long)want);
    Holds(iface, what + text, got == want);
}

class Report : public ::testing::Environment
{
public:
    void TearDown() override
    {
        for (const auto &[iface, t] : Tallies())
            printf("conformance %-28s %4d of %4d checks hold\n", iface.c_str(), t.held, t.total);
    }
};

inline ::testing::Environment *const report = ::testing::AddGlobalTestEnvironment(new Report);

}  // namespace conf
