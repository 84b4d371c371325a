/*
 * FTDI D2XX interface: the declarations this system uses, with the vendor's
 * names, values and layouts. The simulated module library built from
 * d2xx/sim implements them; the vendor's own header and library can take
 * their place unchanged (see the README).
 */
#ifndef FTD2XX_H
#define FTD2XX_H

#ifdef _WIN32
#include <windows.h>
#define FTD2XX_API WINAPI
#else
/* As in the vendor's WinTypes.h for Linux: DWORD and ULONG are 32 bits. */
typedef unsigned int DWORD;
typedef unsigned int ULONG;
typedef unsigned char UCHAR;
typedef void *PVOID;
typedef void *LPVOID;
typedef DWORD *LPDWORD;
#define FTD2XX_API
#endif

typedef PVOID FT_HANDLE;
typedef ULONG FT_STATUS;

enum {
    FT_OK,
    FT_INVALID_HANDLE,
    FT_DEVICE_NOT_FOUND,
    FT_DEVICE_NOT_OPENED,
    FT_IO_ERROR,
    FT_INSUFFICIENT_RESOURCES,
    FT_INVALID_PARAMETER,
    FT_INVALID_BAUD_RATE,
    FT_DEVICE_NOT_OPENED_FOR_ERASE,
    FT_DEVICE_NOT_OPENED_FOR_WRITE,
    FT_FAILED_TO_WRITE_DEVICE,
    FT_EEPROM_READ_FAILED,
    FT_EEPROM_WRITE_FAILED,
    FT_EEPROM_ERASE_FAILED,
    FT_EEPROM_NOT_PRESENT,
    FT_EEPROM_NOT_PROGRAMMED,
    FT_INVALID_ARGS,
    FT_NOT_SUPPORTED,
    FT_OTHER_ERROR
};

#define FT_OPEN_BY_SERIAL_NUMBER 1
#define FT_PURGE_RX 1
#define FT_PURGE_TX 2

typedef struct _ft_device_list_info_node {
    ULONG Flags;
    ULONG Type;
    ULONG ID;
    DWORD LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
} FT_DEVICE_LIST_INFO_NODE;

#ifdef __cplusplus
extern "C" {
#endif

FT_STATUS FTD2XX_API FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs);
FT_STATUS FTD2XX_API FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *pDest, LPDWORD lpdwNumDevs);
FT_STATUS FTD2XX_API FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE *pHandle);
FT_STATUS FTD2XX_API FT_ResetDevice(FT_HANDLE ftHandle);
FT_STATUS FTD2XX_API FT_Purge(FT_HANDLE ftHandle, ULONG Mask);
FT_STATUS FTD2XX_API FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes);
FT_STATUS FTD2XX_API FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency);
FT_STATUS FTD2XX_API FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable);
FT_STATUS FTD2XX_API FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten);
FT_STATUS FTD2XX_API FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned);
FT_STATUS FTD2XX_API FT_Close(FT_HANDLE ftHandle);

#ifdef __cplusplus
}
#endif

#endif
