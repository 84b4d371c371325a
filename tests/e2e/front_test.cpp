// The command front end of both programs: help, dispatch, exit statuses.
#include "testkit.h"

#include <gtest/gtest.h>

namespace {

TEST(Front, HelpListsTheAttachedModules)
{
    std::string dir = make_temp_dir();
    const struct { const char *modules, *tail; } cases[] = {
        {"FTD2XX_SIM_MODULES=", "\n No devices present.\n"},
        {"FTD2XX_SIM_MODULES=Other=X", "\n No devices present.\n"},
        {"FTD2XX_SIM_MODULES=DLP2232M=ONE",
         "\nAvailable devices:\n - Device #0: `DLP2232M A' (ONEA)\n"},
        {"FTD2XX_SIM_MODULES=DLP2232M=ONE,Other=X,Test DLP2232M=TWO",
         "\nAvailable devices:\n - Device #0: `DLP2232M A' (ONEA)\n - Device #1: `Test DLP2232M A' (TWOA)\n"},
    };
    for (const auto &c : cases) {
        run_result r = run_program(dir, {c.modules}, GATESWEEP_EXE, {});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, help_head(GATESWEEP_EXE, "A") + c.tail) << c.modules;
        EXPECT_EQ(r.err, "");
    }
    run_result b = run_program(dir, {"FTD2XX_SIM_MODULES="}, GATESWEEP_B_EXE, {});
    EXPECT_EQ(b.out, help_head(GATESWEEP_B_EXE, "B") + "\n No devices present.\n");
}

TEST(Front, LibraryFailureWhileListingEndsAfterTheOptions)
{
#ifdef GATESWEEP_D2XX_OVER_LIBFTDI
    GTEST_SKIP() << "needs the simulated D2XX library: FTD2XX_SIM_FAIL, which names D2XX calls (tests/ftdi fails each libftdi call)";
#endif
    run_result r = run_program(make_temp_dir(), {"FTD2XX_SIM_FAIL=FT_CreateDeviceInfoList=4"}, GATESWEEP_EXE, {});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, help_head(GATESWEEP_EXE, "A") +
                         "Error:  Error: Can't create device info list.\nStatus: I/O error\n");
}

TEST(Front, HelpAndVersionOptions)
{
    std::string dir = make_temp_dir();
    for (const char *option : {"-h", "--help"}) {
        run_result r = run_program(dir, {"FTD2XX_SIM_MODULES="}, GATESWEEP_EXE, {option, "ignored"});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out, help_head(GATESWEEP_EXE, "A") + "\n No devices present.\n") << option;
    }
    // The version touches no library: a failing one does not matter.
    const struct { const char *exe, *line; } versions[] = {
        {GATESWEEP_EXE, "gatesweep " GATESWEEP_VERSION "\n"},
        {GATESWEEP_B_EXE, "gatesweep-b " GATESWEEP_VERSION "\n"},
    };
    for (const auto &v : versions) {
        run_result r = run_program(dir, {"FTD2XX_SIM_FAIL=FT_CreateDeviceInfoList=4"}, v.exe, {"--version"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, v.line);
    }
}

TEST(Front, FailedCommandsEndWithStatus2)
{
    std::string dir = make_temp_dir();
    const struct { std::vector<std::string> args; const char *out; } cases[] = {
        {{"help"}, "Unknown option `help'.\n"},
        {{"-help"}, "Unknown option `-help'.\n"},
        {{"--HELP"}, "Unknown option `--HELP'.\n"},
        {{"dum", "x.bin"}, "Unknown option `dum'.\n"},
        {{"dumpx", "x.bin"}, "Unknown option `dumpx'.\n"},
        {{""}, "Unknown option `'.\n"},
        {{"analyze"}, "Specify a filename.\n"},
        {{"DUMP"}, "Specify a filename.\n"},
        {{"Analyze", "missing.bin", "extra"}, "File `missing.bin' not found.\n"},
        {{"aNaLyZe", "."}, "File `.' not found.\n"},
        {{"x", "analyze", "a.bin"}, "Unknown option `x'.\n"},
    };
    for (const auto &c : cases) {
        run_result r = run_program(dir, {"FTD2XX_SIM_FAIL=FT_CreateDeviceInfoList=4"}, GATESWEEP_EXE, c.args);
        EXPECT_EQ(r.status, 2) << c.args[0];
        EXPECT_EQ(r.out, c.out) << c.args[0];
    }
}

} // namespace
