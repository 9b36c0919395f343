// The print spooler, kept in the registry the way Windows keeps it:
//   HKLM\SYSTEM\CurrentControlSet\Control\Print\Printers\<name>          a printer
//       ...\Printers\<name>\PrinterDriverData                              its printer data
//       ...\Printers\<name>\<key>                                          keyed data (e.g. "DsDriver")
//   HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\<env>\Drivers\Version-<n>\<name>
//   HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\<env>\Print Processors\<name>
//   HKLM\SYSTEM\CurrentControlSet\Control\Print\Forms                       one value per form
//   HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\<name>
//   HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports                 one value per port
// A connection "\\server\queue" is kept under Printers as ",,server,queue".
// Jobs are files under C:\WINDOWS\system32\spool\PRINTERS on the system root.
//
// BOOL calls set the last error; the printer-data calls return the error.
#pragma once

#include "base/error.h"
#include "base/spool_types.h"
#include "base/types.h"

constexpr DWORD ERROR_UNKNOWN_PRINTPROCESSOR = 1798;
constexpr DWORD ERROR_INVALID_PRINTER_COMMAND = 1803;
constexpr DWORD ERROR_INVALID_ENVIRONMENT = 1805;
constexpr DWORD ERROR_PRINT_MONITOR_ALREADY_INSTALLED = 3006;
constexpr DWORD ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED = 3005;
constexpr DWORD ERROR_SPL_NO_STARTDOC = 3003;
constexpr DWORD ERROR_INVALID_PRINTER_STATE = 1906;
constexpr DWORD ERROR_PRINTER_NOT_FOUND = 3012;
constexpr DWORD ERROR_PROCESS_ABORTED = 1067;

extern "C" {
BOOL OpenPrinterW(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults);
BOOL OpenPrinterA(LPSTR printerName, HANDLE* printer, PRINTER_DEFAULTSA* defaults);
BOOL ClosePrinter(HANDLE printer);
BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
// Served by the printer's interface driver (its configuration file): mode 0
// answers the size of its DEVMODE; DM_OUT_BUFFER fills `out` with the
// printer's record, merged with `in` under DM_IN_BUFFER; DM_IN_PROMPT shows
// the driver's sheet through "compstui.dll". -1 when the configuration file
// does not load or the driver fails.
LONG DocumentPropertiesW(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out, DEVMODEW* in, DWORD mode);
LONG DocumentPropertiesA(HWND window, HANDLE printer, LPSTR deviceName, DEVMODEA* out, DEVMODEA* in, DWORD mode);
// The driver's DrvDeviceCapabilities for the printer named `device`; -1 when
// it cannot be asked.
int DeviceCapabilitiesW(LPCWSTR device, LPCWSTR port, WORD capability, LPWSTR output, const DEVMODEW* devmode);
int DeviceCapabilitiesA(LPCSTR device, LPCSTR port, WORD capability, LPSTR output, const DEVMODEA* devmode);
BOOL SetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command);
BOOL SetPrinterA(HANDLE printer, DWORD level, LPBYTE info, DWORD command);
BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned);
BOOL EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned);
// Level 2. A server name "\\server" adds a connection "\\server\<printer>".
HANDLE AddPrinterW(LPWSTR serverName, DWORD level, LPBYTE info);
HANDLE AddPrinterA(LPSTR serverName, DWORD level, LPBYTE info);
BOOL DeletePrinter(HANDLE printer);

// Printer data: the return value is the error (0 on success).
DWORD GetPrinterDataW(HANDLE printer, LPWSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed);
DWORD GetPrinterDataA(HANDLE printer, LPSTR name, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed);
DWORD SetPrinterDataW(HANDLE printer, LPWSTR name, DWORD type, LPBYTE data, DWORD size);
DWORD SetPrinterDataA(HANDLE printer, LPSTR name, DWORD type, LPBYTE data, DWORD size);
DWORD GetPrinterDataExW(HANDLE printer, LPCWSTR key, LPCWSTR name, LPDWORD type, LPBYTE data, DWORD size,
                        LPDWORD needed);
DWORD GetPrinterDataExA(HANDLE printer, LPCSTR key, LPCSTR name, LPDWORD type, LPBYTE data, DWORD size,
                        LPDWORD needed);
DWORD SetPrinterDataExW(HANDLE printer, LPCWSTR key, LPCWSTR name, DWORD type, LPBYTE data, DWORD size);
DWORD SetPrinterDataExA(HANDLE printer, LPCSTR key, LPCSTR name, DWORD type, LPBYTE data, DWORD size);
DWORD EnumPrinterDataW(HANDLE printer, DWORD index, LPWSTR name, DWORD nameBytes, LPDWORD nameNeeded,
                       LPDWORD type, LPBYTE data, DWORD dataBytes, LPDWORD dataNeeded);
DWORD EnumPrinterDataA(HANDLE printer, DWORD index, LPSTR name, DWORD nameBytes, LPDWORD nameNeeded, LPDWORD type,
                       LPBYTE data, DWORD dataBytes, LPDWORD dataNeeded);
DWORD EnumPrinterDataExW(HANDLE printer, LPCWSTR key, LPBYTE buffer, DWORD size, LPDWORD needed,
                         LPDWORD returned);
DWORD EnumPrinterKeyW(HANDLE printer, LPCWSTR key, LPWSTR subKeys, DWORD size, LPDWORD needed);
DWORD DeletePrinterDataW(HANDLE printer, LPWSTR name);
DWORD DeletePrinterDataA(HANDLE printer, LPSTR name);
DWORD DeletePrinterDataExW(HANDLE printer, LPCWSTR key, LPCWSTR name);
DWORD DeletePrinterDataExA(HANDLE printer, LPCSTR key, LPCSTR name);
DWORD DeletePrinterKeyW(HANDLE printer, LPCWSTR key);

// Drivers: levels 2, 3 and 6 (1 also for reading). A null environment is
// "Windows NT x86".
BOOL AddPrinterDriverW(LPWSTR server, DWORD level, LPBYTE info);
BOOL AddPrinterDriverA(LPSTR server, DWORD level, LPBYTE info);
BOOL GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL GetPrinterDriverA(HANDLE printer, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL EnumPrinterDriversW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                         LPDWORD returned);
BOOL EnumPrinterDriversA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                         LPDWORD returned);
BOOL DeletePrinterDriverW(LPWSTR server, LPWSTR environment, LPWSTR driverName);
BOOL GetPrinterDriverDirectoryW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                LPDWORD needed);
BOOL GetPrinterDriverDirectoryA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                LPDWORD needed);

// Forms (level 1), server-wide; the handle may be a printer or the server.
BOOL EnumFormsW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL EnumFormsA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL GetFormW(HANDLE printer, LPWSTR formName, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL GetFormA(HANDLE printer, LPSTR formName, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL AddFormW(HANDLE printer, DWORD level, LPBYTE form);
BOOL AddFormA(HANDLE printer, DWORD level, LPBYTE form);
BOOL SetFormW(HANDLE printer, LPWSTR formName, DWORD level, LPBYTE form);
BOOL DeleteFormW(HANDLE printer, LPWSTR formName);
BOOL DeleteFormA(HANDLE printer, LPSTR formName);

// Ports, monitors and print processors.
BOOL EnumPortsW(LPWSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL EnumPortsA(LPSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL AddPortExW(LPWSTR server, DWORD level, LPBYTE info, LPWSTR monitorName);
BOOL AddPortExA(LPSTR server, DWORD level, LPBYTE info, LPSTR monitorName);
BOOL AddMonitorW(LPWSTR server, DWORD level, LPBYTE info);
BOOL AddMonitorA(LPSTR server, DWORD level, LPBYTE info);
BOOL EnumMonitorsW(LPWSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL EnumMonitorsA(LPSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL AddPrintProcessorW(LPWSTR server, LPWSTR environment, LPWSTR pathName, LPWSTR processorName);
BOOL AddPrintProcessorA(LPSTR server, LPSTR environment, LPSTR pathName, LPSTR processorName);
BOOL EnumPrintProcessorsW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                          LPDWORD needed, LPDWORD returned);
BOOL EnumPrintProcessorsA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                          LPDWORD needed, LPDWORD returned);
BOOL EnumPrintProcessorDatatypesW(LPWSTR server, LPWSTR processorName, DWORD level, LPBYTE buffer, DWORD size,
                                  LPDWORD needed, LPDWORD returned);
BOOL GetPrintProcessorDirectoryW(LPWSTR server, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed);
BOOL GetPrintProcessorDirectoryA(LPSTR server, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed);

// Jobs. StartDocPrinter answers the job id (0 on failure).
DWORD StartDocPrinterW(HANDLE printer, DWORD level, LPBYTE docInfo);
DWORD StartDocPrinterA(HANDLE printer, DWORD level, LPBYTE docInfo);
BOOL StartPagePrinter(HANDLE printer);
BOOL EndPagePrinter(HANDLE printer);
BOOL WritePrinter(HANDLE printer, LPVOID data, DWORD size, LPDWORD written);
BOOL EndDocPrinter(HANDLE printer);
BOOL AbortPrinter(HANDLE printer);
BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL GetJobA(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL EnumJobsW(HANDLE printer, DWORD firstJob, DWORD count, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
               LPDWORD returned);
BOOL EnumJobsA(HANDLE printer, DWORD firstJob, DWORD count, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
               LPDWORD returned);
}
