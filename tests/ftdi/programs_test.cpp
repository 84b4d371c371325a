// The programs on the D2XX library over libftdi1, through the stand-in of
// libftdi1 (FTDI_SIM_* settings, see d2xx/ftdi/standin): transfers in
// pieces, a module that stops answering or goes away, and a failure of each
// libftdi1 call that the library makes.
#include "testkit.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::string tail(const std::string &text, size_t n)
{
    return text.size() < n ? text : text.substr(text.size() - n);
}

TEST(FtdiPrograms, PiecesAndShortReadsStillGiveTheExactDump)
{
    std::string dir = make_temp_dir();
    std::vector<uint8_t> dump = scrambled_dump();
    write_file(dir + "/source.bin", dump);
    const struct { const char *exe, *board; std::vector<std::string> env; } cases[] = {
        {GATESWEEP_EXE, "a", {"FTDI_SIM_PIECE=1"}},
        {GATESWEEP_EXE, "a", {"FTDI_SIM_PIECE=61", "FTDI_SIM_IDLE=3"}},
        {GATESWEEP_B_EXE, "b", {"FTDI_SIM_PIECE=1000", "FTDI_SIM_IDLE=1"}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> env = c.env;
        env.push_back("FTD2XX_SIM_CHIP=dump:source.bin");
        env.push_back(std::string("FTD2XX_SIM_BOARD=") + c.board);
        run_result r = run_program(dir, env, c.exe, {"dump", "copy.bin"});
        EXPECT_EQ(r.status, 1) << c.env[0] << "\n" << r.out;
        EXPECT_TRUE(read_file(dir + "/copy.bin") == dump) << c.env[0];
    }
}

// An FT2232H adapter without EEPROM (no serial number) or one this user may
// not open, plugged in before the module: the module is still the one used.
TEST(FtdiPrograms, UnreadableModuleBeforeTheAdapterIsPassedOver)
{
    std::string dir = make_temp_dir();
    std::vector<uint8_t> dump = scrambled_dump();
    write_file(dir + "/source.bin", dump);
    for (const char *setting : {"FTDI_SIM_NO_SERIAL=1", "FTDI_SIM_LOCKED=1"}) {
        run_result r = run_program(dir, {setting, "FTD2XX_SIM_MODULES=Dual RS232-HS=FT0001,DLP2232M=GS1",
                                         "FTD2XX_SIM_CHIP=dump:source.bin"},
                                   GATESWEEP_EXE, {"dump", "copy.bin"});
        EXPECT_EQ(r.status, 1) << setting << "\n" << r.out;
        EXPECT_TRUE(read_file(dir + "/copy.bin") == dump) << setting;
    }
}

// A run interrupted in the middle of a command (here within the first bus
// write after the 12 bytes of the reset, and within a read of the sweep's
// ninth block) leaves the partial command in the module, which stays
// plugged in: the next dump is exact all the same.
TEST(FtdiPrograms, DumpAfterAnInterruptedRunIsExact)
{
    std::string dir = make_temp_dir();
    std::vector<uint8_t> dump = scrambled_dump();
    write_file(dir + "/source.bin", dump);
    for (const char *interrupt : {"FTDI_SIM_INTERRUPT=14", "FTDI_SIM_INTERRUPT=100001"}) {
        std::vector<std::string> env = {"FTDI_SIM_STATE=module.state", "FTD2XX_SIM_CHIP=dump:source.bin"};
        run_result cut = run_program(dir, {env[0], env[1], interrupt}, GATESWEEP_EXE, {"dump", "copy.bin"});
        EXPECT_EQ(cut.status, 128 + 2) << interrupt << ": ended by SIGINT";
        EXPECT_FALSE(file_exists(dir + "/copy.bin")) << interrupt;
        run_result next = run_program(dir, env, GATESWEEP_EXE, {"dump", "copy.bin"});
        EXPECT_EQ(next.status, 1) << interrupt << "\n" << next.out;
        EXPECT_TRUE(read_file(dir + "/copy.bin") == dump) << interrupt;
        std::remove((dir + "/copy.bin").c_str());
    }
}

TEST(FtdiPrograms, ModuleThatStopsAnsweringOrGoesAwayEndsTheDump)
{
    // The reset takes 12 command bytes and each block of the sweep 11269:
    // 90164 is the end of the eighth block's commands, before its last
    // replies are read; 100000 lies in the ninth block's commands. A module
    // that stops answering ends the transfer after the library's deadline.
    const struct { const char *setting, *report; } cases[] = {
        {"FTDI_SIM_HANG=100000", "Error:  Error writing data (remainder)\nStatus: I/O error\n"},
        {"FTDI_SIM_HANG=90164", "Error:  Error reading data (remainder)\nStatus: I/O error\n"},
        {"FTDI_SIM_UNPLUG=100000", "Error:  Error writing data (remainder)\nStatus: I/O error\n"},
        {"FTDI_SIM_UNPLUG=90164", "Error:  Error reading data (remainder)\nStatus: Device not found\n"},
    };
    std::string dir = make_temp_dir();
    write_text(dir + "/old.bin", "an earlier dump");
    for (const auto &c : cases) {
        run_result r = run_program(dir, {c.setting}, GATESWEEP_EXE, {"dump", "old.bin"});
        EXPECT_EQ(r.status, 2) << c.setting;
        EXPECT_EQ(tail(r.out, std::string(c.report).size()), c.report) << c.setting;
        EXPECT_EQ(r.out.find("Finished"), std::string::npos) << c.setting;
        EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"}) << c.setting;
        EXPECT_EQ(read_text(dir + "/old.bin"), "an earlier dump") << c.setting;
    }
}

TEST(FtdiPrograms, LibftdiFailureAtEachCallIsFatal)
{
    const struct { const char *fault, *message, *status; bool after_sweep; } cases[] = {
        {"ftdi_new=0", "Error: Can't create device info list.", "Other error", false},
        {"ftdi_usb_find_all=-5", "Error: Can't create device info list.", "I/O error", false},
        {"ftdi_new@2=0", "Can't open device.", "Other error", false},
        {"ftdi_set_interface=-1", "Can't open device.", "Other error", false},
        {"ftdi_usb_find_all@2=-5", "Can't open device.", "I/O error", false},
        {"ftdi_usb_get_strings@2=-9", "Can't open device.", "Device not found", false},
        {"ftdi_usb_open_dev=-3", "Can't open device.", "Device not opened", false},   // configuration not set
        {"ftdi_usb_open_dev=-4", "Can't open device.", "Device not opened", false},   // no access
        {"ftdi_usb_open_dev=-5", "Can't open device.", "Device not opened", false},   // claimed elsewhere
        {"ftdi_usb_open_dev=-6", "Can't open device.", "I/O error", false},           // its reset failed
        {"ftdi_usb_reset=-1", "Error resetting device.", "I/O error", false},
        {"ftdi_tciflush=-1", "Error purging device.", "I/O error", false},
        {"ftdi_tcoflush=-1", "Error purging device.", "I/O error", false},
        {"ftdi_read_data=-1", "Can't get queue status.", "I/O error", false},
        {"ftdi_read_data@2=-4", "Error writing data (remainder)", "Device not found", false},
        {"ftdi_set_latency_timer=-2", "Can't set latency timer.", "I/O error", false},
        {"ftdi_set_bitmode=-1", "Can't set MPSSE Host Bus Emulation' bit mode.", "I/O error", false},   // reset mode
        {"ftdi_set_bitmode@2=-1", "Can't set MPSSE Host Bus Emulation' bit mode.", "I/O error", false},
        {"ftdi_write_data_submit=0", "Error writing data (remainder)", "I/O error", false},
        {"ftdi_write_data_submit@100=0", "Error writing data (remainder)", "I/O error", false},
        {"ftdi_transfer_data_done@2=-1", "Error writing data (remainder)", "I/O error", false},
        {"ftdi_tciflush@2=-1", "Error purging device.", "I/O error", true},   // closing
        {"ftdi_usb_close=-1", "Error closing device.", "I/O error", true},
    };
    std::string dir = make_temp_dir();
    for (const auto &c : cases) {
        write_text(dir + "/old.bin", "an earlier dump");
        run_result r = run_program(dir, {std::string("FTDI_SIM_FAIL=") + c.fault}, GATESWEEP_EXE, {"dump", "old.bin"});
        EXPECT_EQ(r.status, 2) << c.fault;
        std::string report = std::string("Error:  ") + c.message + "\nStatus: " + c.status + "\n";
        EXPECT_EQ(tail(r.out, report.size()), report) << c.fault;
        EXPECT_EQ(r.out.find("Data saved") != std::string::npos, c.after_sweep) << c.fault;
        EXPECT_EQ(dir_entries(dir), std::vector<std::string>{"old.bin"}) << c.fault;
        if (!c.after_sweep) {
            EXPECT_EQ(read_text(dir + "/old.bin"), "an earlier dump") << c.fault;
        }
    }

    // Strings that cannot be read (no access): the module is not the
    // adapter's, so the help lists none and a dump finds none.
    run_result help = run_program(dir, {"FTDI_SIM_FAIL=ftdi_usb_get_strings=-4"}, GATESWEEP_EXE, {});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(tail(help.out, 22), "\n No devices present.\n");
    run_result dump = run_program(dir, {"FTDI_SIM_FAIL=ftdi_usb_get_strings=-4"}, GATESWEEP_EXE, {"dump", "x.bin"});
    EXPECT_EQ(dump.status, 2);
    EXPECT_EQ(dump.out, "Error: No devices attached.\n");
}

} // namespace
