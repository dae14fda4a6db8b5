#include "sysinfo.h"
#include "testfiles.h"

#include <gtest/gtest.h>

TEST(SysInfo, TempPathFollowsTmpdirWithATrailingSlash) {
    TSysInfo info;
    {
        ScopedEnv tmpdir("TMPDIR", "/var/tmp");
        EXPECT_EQ(info.TempPath(), "/var/tmp/");
    }
    {
        ScopedEnv tmpdir("TMPDIR", "/srv/scratch/");
        EXPECT_EQ(info.TempPath(), "/srv/scratch/");
    }
    {
        ScopedEnv tmpdir("TMPDIR", "");
        EXPECT_EQ(info.TempPath(), "/tmp/");
    }
    {
        ScopedEnv tmpdir("TMPDIR", std::nullopt);
        EXPECT_EQ(info.TempPath(), "/tmp/");
    }
}

TEST(SysInfo, TempPathIsAProgramString) {
    TSysInfo info;
    {
        ScopedEnv tmpdir("TMPDIR", "/tmp/L\xC3\xB6sung");
        EXPECT_EQ(info.TempPath(), "/tmp/L\xF6sung/");
    }
    {
        // No Windows-1252 form: no folder rather than a wrong one.
        ScopedEnv tmpdir("TMPDIR", "/tmp/\xE4\xB8\xAD");
        EXPECT_EQ(info.TempPath(), "");
    }
}
