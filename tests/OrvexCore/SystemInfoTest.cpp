#include "SystemInfo.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include "APIClient.h"

using namespace orvex;

TEST(SystemInfo, NamesTheLinuxDeviceForTheAccountServer) {
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(SystemInfo::version(), std::string("Linux ") + names.release);
    EXPECT_FALSE(SystemInfo::model().empty());
    EXPECT_EQ(SystemInfo::model().find('\n'), std::string::npos);
    EXPECT_FALSE(SystemInfo::hostName().empty());
    EXPECT_EQ(SystemInfo::platform(), "linux");
    EXPECT_EQ(APIClient::devicePlatform(), "linux");
    EXPECT_EQ(APIClient::deviceModel(), SystemInfo::model());
    EXPECT_EQ(APIClient::systemVersion(), SystemInfo::version());
    EXPECT_EQ(APIClient::maxAttachmentBytes, 20971520);
}
