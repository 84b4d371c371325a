// Device list, opening and closing, and handles that must be refused.
#include "simkit.h"

#include <cstdint>
#include <string>

namespace {

struct listed {
    std::string description, serial;
    ULONG flags;
    ULONG type;
    FT_HANDLE handle;
};

std::vector<listed> device_list()
{
    DWORD count = 999;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count + 1);
    DWORD filled = 999;
    if (count)
        EXPECT_EQ(FT_GetDeviceInfoList(nodes.data(), &filled), FT_OK);
    else
        filled = 0;
    EXPECT_EQ(filled, count);
    std::vector<listed> out;
    for (DWORD i = 0; i < filled; i++)
        out.push_back({nodes[i].Description, nodes[i].SerialNumber, nodes[i].Flags, nodes[i].Type,
                       nodes[i].ftHandle});
    return out;
}

std::vector<std::string> names(const std::vector<listed> &list)
{
    std::vector<std::string> out;
    for (const listed &l : list)
        out.push_back(l.description + "|" + l.serial);
    return out;
}

using strings = std::vector<std::string>;

} // namespace

TEST_F(sim_test, DeviceListUnsetIsOneDlp2232m)
{
    std::vector<listed> list = device_list();
    EXPECT_EQ(names(list), (strings{"DLP2232M A|GS000001A", "DLP2232M B|GS000001B"}));
    for (const listed &l : list) {
        EXPECT_EQ(l.flags, 0u);
        EXPECT_EQ(l.type, 4u);
        EXPECT_EQ(l.handle, nullptr);
    }
}

TEST_F(sim_test, DeviceListFollowsModuleSetting)
{
    set_env("FTD2XX_SIM_MODULES", "");
    ftd2xx_sim_reinit();
    EXPECT_TRUE(device_list().empty());

    set_env("FTD2XX_SIM_MODULES", "Box=XY1");
    ftd2xx_sim_reinit();
    EXPECT_EQ(names(device_list()), (strings{"Box A|XY1A", "Box B|XY1B"}));

    set_env("FTD2XX_SIM_MODULES", "DLP2232M=S1,My Adapter 2=S2,DLP2232M=S3");
    ftd2xx_sim_reinit();
    EXPECT_EQ(names(device_list()), (strings{"DLP2232M A|S1A", "DLP2232M B|S1B", "My Adapter 2 A|S2A",
                                             "My Adapter 2 B|S2B", "DLP2232M A|S3A", "DLP2232M B|S3B"}));
}

TEST_F(sim_test, MalformedModuleListsRefuseEveryCall)
{
    for (const char *bad : {"DLP2232M", "A=1,,B=2", "=X", "A=", "A=1,", "A=1,B=1", "A=1234567890ABCDE"}) {
        set_env("FTD2XX_SIM_MODULES", bad);
        testing::internal::CaptureStderr();
        ftd2xx_sim_reinit();
        DWORD count = 77;
        EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OTHER_ERROR) << bad;
        EXPECT_EQ(count, 77u);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("FTD2XX_SIM_MODULES=" + std::string(bad)), std::string::npos) << err;
    }
}

TEST_F(sim_test, OpenedInterfacesShowInTheList)
{
    FT_HANDLE b = open_serial("GS000001B");
    std::vector<listed> list = device_list();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].flags, 0u);
    EXPECT_EQ(list[0].handle, nullptr);
    EXPECT_EQ(list[1].flags, 1u);
    EXPECT_EQ(list[1].handle, b);
    EXPECT_EQ(FT_Close(b), FT_OK);
    EXPECT_EQ(device_list()[1].flags, 0u);
}

TEST_F(sim_test, OpenBySerialNumber)
{
    FT_HANDLE a = open_serial("GS000001A");
    FT_HANDLE b = open_serial("GS000001B");
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(a, b);

    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001A"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001C"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_OpenEx(nullptr, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001A"), FT_OPEN_BY_SERIAL_NUMBER, nullptr),
              FT_INVALID_PARAMETER);

    // Closed, it opens again, under a new handle.
    EXPECT_EQ(FT_Close(a), FT_OK);
    FT_HANDLE again = open_serial("GS000001A");
    EXPECT_NE(again, a);
    EXPECT_EQ(FT_Close(again), FT_OK);
    EXPECT_EQ(FT_Close(b), FT_OK);

    set_env("FTD2XX_SIM_MODULES", "");
    ftd2xx_sim_reinit();
    EXPECT_EQ(FT_OpenEx(const_cast<char *>("GS000001A"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
}

// Every call that takes a handle, with handle h; all must refuse it.
static void expect_all_refuse(FT_HANDLE h, const char *what)
{
    uint8_t buf[4] = {0x91, 0, 0, 0x87};
    DWORD n = 99;
    EXPECT_EQ(FT_ResetDevice(h), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(FT_SetLatencyTimer(h, 16), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(FT_SetBitMode(h, 0, 8), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(FT_Write(h, buf, 4, &n), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(FT_Read(h, buf, 1, &n), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE) << what;
    EXPECT_EQ(n, 99u) << what;
}

TEST_F(sim_test, NullUnknownAndClosedHandlesAreRefused)
{
    expect_all_refuse(nullptr, "null");
    int not_a_device = 0;
    expect_all_refuse(&not_a_device, "unknown");
    expect_all_refuse(reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0)), "unknown token");

    FT_HANDLE a = open_host_bus();
    FT_HANDLE b = open_serial("GS000001B");
    EXPECT_EQ(FT_Close(a), FT_OK);
    expect_all_refuse(a, "closed");
    // The other interface is not disturbed, and reopening A gives the old
    // handle no new life.
    EXPECT_EQ(queued(b), 0u);
    FT_HANDLE a2 = open_serial("GS000001A");
    expect_all_refuse(a, "closed, interface reopened");
    EXPECT_EQ(FT_Close(a2), FT_OK);

    // Handles do not survive a fresh start.
    ftd2xx_sim_reinit();
    expect_all_refuse(b, "from before the restart");
}

TEST_F(sim_test, NullPointerArgumentsAreRefused)
{
    EXPECT_EQ(FT_CreateDeviceInfoList(nullptr), FT_INVALID_PARAMETER);
    DWORD n = 0;
    FT_DEVICE_LIST_INFO_NODE nodes[2];
    EXPECT_EQ(FT_GetDeviceInfoList(nullptr, &n), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_GetDeviceInfoList(nodes, nullptr), FT_INVALID_PARAMETER);

    FT_HANDLE h = open_host_bus();
    uint8_t buf[3] = {0x91, 0, 0};
    EXPECT_EQ(FT_GetQueueStatus(h, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Write(h, nullptr, 3, &n), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Write(h, buf, 3, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Read(h, nullptr, 1, &n), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Read(h, buf, 1, nullptr), FT_INVALID_PARAMETER);
    // The refused write of a read command reached no chip.
    write_bytes(h, {0x87});
    EXPECT_EQ(queued(h), 0u);
    // Moving nothing needs no buffer.
    EXPECT_EQ(FT_Write(h, nullptr, 0, &n), FT_OK);
    EXPECT_EQ(FT_Read(h, nullptr, 0, &n), FT_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(FT_Close(h), FT_OK);
}
