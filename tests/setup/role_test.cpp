#include "setup/role.h"

#include <gtest/gtest.h>

TEST(ProgramRole, ExactSpellingsSelectTheWizards) {
    EXPECT_EQ(program_role("setup"), app_role::installer);
    EXPECT_EQ(program_role("SETUP"), app_role::installer);
    EXPECT_EQ(program_role("qtuninst"), app_role::uninstaller);
    EXPECT_EQ(program_role("QTUNINST"), app_role::uninstaller);
}

TEST(ProgramRole, DirectoriesAndExtensionAreIgnored) {
    EXPECT_EQ(program_role("/tmp/inst/setup"), app_role::installer);
    EXPECT_EQ(program_role("./setup.exe"), app_role::installer);
    EXPECT_EQ(program_role("/home/u/.local/bin/qtuninst"), app_role::uninstaller);
    // A directory named like a role does not make the program one.
    EXPECT_EQ(program_role("/opt/setup/qtelnet"), app_role::client);
}

TEST(ProgramRole, EverythingElseIsTheClient) {
    EXPECT_EQ(program_role("Setup"), app_role::client);
    EXPECT_EQ(program_role("QtUninst"), app_role::client);
    EXPECT_EQ(program_role("qtelnet"), app_role::client);
    EXPECT_EQ(program_role("setup2"), app_role::client);
    EXPECT_EQ(program_role("xsetup"), app_role::client);
    EXPECT_EQ(program_role(".setup"), app_role::client);
    EXPECT_EQ(program_role(""), app_role::client);
    EXPECT_EQ(program_role("/usr/bin/"), app_role::client);
}
