// Whether the installer's notice is a message box or a line on standard
// error: decided from the session and the window station alone.
#include "service/installer_notice.h"

#include <gtest/gtest.h>

namespace {

struct SightCase
{
    const char *what;
    NoticeSight sight;
    bool seen;
};

TEST(InstallerNoticeTest, OnlyAVisibleStationOutsideSessionZeroShowsABox)
{
    const SightCase cases[] = {
        {"a user's desktop", {true, 1, true, WSF_VISIBLE}, true},
        {"a second user's desktop", {true, 2, true, WSF_VISIBLE}, true},
        {"session 0's WinSta0: a service or a package's deferred action",
         {true, 0, true, WSF_VISIBLE},
         false},
        {"a hidden window station", {true, 1, true, 0}, false},
        {"session 0, hidden station", {true, 0, true, 0}, false},
        {"session unknown", {false, 1, true, WSF_VISIBLE}, false},
        {"station flags unknown", {true, 1, false, WSF_VISIBLE}, false},
    };
    for (const SightCase &c : cases)
        EXPECT_EQ(c.seen, NoticeIsSeen(c.sight)) << c.what;
}

}  // namespace
