// Records of the print spooler's calls, in both character sets.
//
// These are in-memory records that carry native pointers between the
// spooler and its callers inside one process; nothing stores or exchanges
// them as bytes, so their layout is the compiler's. Each record is written
// once as a template over the character type and named twice (W and A).
#pragma once

#include <type_traits>

#include "base/types.h"

using PSECURITY_DESCRIPTOR = void*;

namespace zq::spool {
template <class Ch>
using DevMode = std::conditional_t<std::is_same_v<Ch, CHAR>, DEVMODEA, DEVMODEW>;

template <class Ch> struct FormInfo1 { DWORD Flags; Ch* pName; SIZEL Size; RECTL ImageableArea; };

template <class Ch> struct PrinterInfo1 { DWORD Flags; Ch* pDescription; Ch* pName; Ch* pComment; };
template <class Ch> struct PrinterInfo2 {
    Ch* pServerName;
    Ch* pPrinterName;
    Ch* pShareName;
    Ch* pPortName;
    Ch* pDriverName;
    Ch* pComment;
    Ch* pLocation;
    DevMode<Ch>* pDevMode;
    Ch* pSepFile;
    Ch* pPrintProcessor;
    Ch* pDatatype;
    Ch* pParameters;
    PSECURITY_DESCRIPTOR pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
};
template <class Ch> struct PrinterInfo4 { Ch* pPrinterName; Ch* pServerName; DWORD Attributes; };
template <class Ch> struct PrinterInfo5 {
    Ch* pPrinterName;
    Ch* pPortName;
    DWORD Attributes;
    DWORD DeviceNotSelectedTimeout;
    DWORD TransmissionRetryTimeout;
};
template <class Ch> struct PrinterInfo7 { Ch* pszObjectGUID; DWORD dwAction; };

template <class Ch> struct DriverInfo1 { Ch* pName; };
template <class Ch> struct DriverInfo2 {
    DWORD cVersion;
    Ch* pName;
    Ch* pEnvironment;
    Ch* pDriverPath;
    Ch* pDataFile;
    Ch* pConfigFile;
};
template <class Ch> struct DriverInfo3 {
    DWORD cVersion;
    Ch* pName;
    Ch* pEnvironment;
    Ch* pDriverPath;
    Ch* pDataFile;
    Ch* pConfigFile;
    Ch* pHelpFile;
    Ch* pDependentFiles;  // NUL-separated names ended by an empty one
    Ch* pMonitorName;
    Ch* pDefaultDataType;
};
template <class Ch> struct DriverInfo6 {
    DWORD cVersion;
    Ch* pName;
    Ch* pEnvironment;
    Ch* pDriverPath;
    Ch* pDataFile;
    Ch* pConfigFile;
    Ch* pHelpFile;
    Ch* pDependentFiles;
    Ch* pMonitorName;
    Ch* pDefaultDataType;
    Ch* pszzPreviousNames;
    FILETIME ftDriverDate;
    DWORDLONG dwlDriverVersion;
    Ch* pszMfgName;
    Ch* pszOEMUrl;
    Ch* pszHardwareID;
    Ch* pszProvider;
};

template <class Ch> struct PortInfo1 { Ch* pName; };
template <class Ch> struct PortInfo2 { Ch* pPortName; Ch* pMonitorName; Ch* pDescription; DWORD fPortType; DWORD Reserved; };
template <class Ch> struct MonitorInfo1 { Ch* pName; };
template <class Ch> struct MonitorInfo2 { Ch* pName; Ch* pEnvironment; Ch* pDLLName; };
template <class Ch> struct DatatypesInfo1 { Ch* pName; };
template <class Ch> struct PrintProcessorInfo1 { Ch* pName; };

template <class Ch> struct JobInfo1 {
    DWORD JobId;
    Ch* pPrinterName;
    Ch* pMachineName;
    Ch* pUserName;
    Ch* pDocument;
    Ch* pDatatype;
    Ch* pStatus;
    DWORD Status;
    DWORD Priority;
    DWORD Position;
    DWORD TotalPages;
    DWORD PagesPrinted;
    SYSTEMTIME Submitted;
};
template <class Ch> struct JobInfo2 {
    DWORD JobId;
    Ch* pPrinterName;
    Ch* pMachineName;
    Ch* pUserName;
    Ch* pDocument;
    Ch* pNotifyName;
    Ch* pDatatype;
    Ch* pPrintProcessor;
    Ch* pParameters;
    Ch* pDriverName;
    DevMode<Ch>* pDevMode;
    Ch* pStatus;
    PSECURITY_DESCRIPTOR pSecurityDescriptor;
    DWORD Status;
    DWORD Priority;
    DWORD Position;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD TotalPages;
    DWORD Size;
    SYSTEMTIME Submitted;
    DWORD Time;
    DWORD PagesPrinted;
};

template <class Ch> struct DocInfo1 { Ch* pDocName; Ch* pOutputFile; Ch* pDatatype; };
template <class Ch> struct PrinterDefaults { Ch* pDatatype; DevMode<Ch>* pDevMode; ACCESS_MASK DesiredAccess; };
template <class Ch> struct PrinterEnumValues { Ch* pValueName; DWORD cbValueName; DWORD dwType; LPBYTE pData; DWORD cbData; };
}  // namespace zq::spool

#define ZQ_SPOOL_RECORD(name, tmpl)                        \
    using name##W = zq::spool::tmpl<WCHAR>;                \
    using name##A = zq::spool::tmpl<CHAR>;                 \
    using P##name##W = name##W*;                           \
    using P##name##A = name##A*;                           \
    using LP##name##W = name##W*;                          \
    using LP##name##A = name##A*
ZQ_SPOOL_RECORD(FORM_INFO_1, FormInfo1);
ZQ_SPOOL_RECORD(PRINTER_INFO_1, PrinterInfo1);
ZQ_SPOOL_RECORD(PRINTER_INFO_2, PrinterInfo2);
ZQ_SPOOL_RECORD(PRINTER_INFO_4, PrinterInfo4);
ZQ_SPOOL_RECORD(PRINTER_INFO_5, PrinterInfo5);
ZQ_SPOOL_RECORD(PRINTER_INFO_7, PrinterInfo7);
ZQ_SPOOL_RECORD(DRIVER_INFO_1, DriverInfo1);
ZQ_SPOOL_RECORD(DRIVER_INFO_2, DriverInfo2);
ZQ_SPOOL_RECORD(DRIVER_INFO_3, DriverInfo3);
ZQ_SPOOL_RECORD(DRIVER_INFO_6, DriverInfo6);
ZQ_SPOOL_RECORD(PORT_INFO_1, PortInfo1);
ZQ_SPOOL_RECORD(PORT_INFO_2, PortInfo2);
ZQ_SPOOL_RECORD(MONITOR_INFO_1, MonitorInfo1);
ZQ_SPOOL_RECORD(MONITOR_INFO_2, MonitorInfo2);
ZQ_SPOOL_RECORD(DATATYPES_INFO_1, DatatypesInfo1);
ZQ_SPOOL_RECORD(PRINTPROCESSOR_INFO_1, PrintProcessorInfo1);
ZQ_SPOOL_RECORD(JOB_INFO_1, JobInfo1);
ZQ_SPOOL_RECORD(JOB_INFO_2, JobInfo2);
ZQ_SPOOL_RECORD(DOC_INFO_1, DocInfo1);
ZQ_SPOOL_RECORD(PRINTER_DEFAULTS, PrinterDefaults);
ZQ_SPOOL_RECORD(PRINTER_ENUM_VALUES, PrinterEnumValues);
#undef ZQ_SPOOL_RECORD

// Access rights of printer and server handles.
constexpr ACCESS_MASK SERVER_ACCESS_ADMINISTER = 0x00000001;
constexpr ACCESS_MASK SERVER_ACCESS_ENUMERATE = 0x00000002;
constexpr ACCESS_MASK PRINTER_ACCESS_ADMINISTER = 0x00000004;
constexpr ACCESS_MASK PRINTER_ACCESS_USE = 0x00000008;
constexpr ACCESS_MASK STANDARD_RIGHTS_REQUIRED = 0x000F0000;
constexpr ACCESS_MASK STANDARD_RIGHTS_READ = 0x00020000;
constexpr ACCESS_MASK STANDARD_RIGHTS_WRITE = 0x00020000;
constexpr ACCESS_MASK STANDARD_RIGHTS_EXECUTE = 0x00020000;
constexpr ACCESS_MASK PRINTER_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK PRINTER_READ = STANDARD_RIGHTS_READ | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK PRINTER_WRITE = STANDARD_RIGHTS_WRITE | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK PRINTER_EXECUTE = STANDARD_RIGHTS_EXECUTE | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK SERVER_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | SERVER_ACCESS_ADMINISTER | SERVER_ACCESS_ENUMERATE;

// EnumPrinters flags.
constexpr DWORD PRINTER_ENUM_DEFAULT = 0x00000001;
constexpr DWORD PRINTER_ENUM_LOCAL = 0x00000002;
constexpr DWORD PRINTER_ENUM_CONNECTIONS = 0x00000004;
constexpr DWORD PRINTER_ENUM_NAME = 0x00000008;
constexpr DWORD PRINTER_ENUM_SHARED = 0x00000020;
constexpr DWORD PRINTER_ENUM_ICON8 = 0x00800000;

// PRINTER_INFO_2 Attributes.
constexpr DWORD PRINTER_ATTRIBUTE_QUEUED = 0x00000001;
constexpr DWORD PRINTER_ATTRIBUTE_DIRECT = 0x00000002;
constexpr DWORD PRINTER_ATTRIBUTE_DEFAULT = 0x00000004;
constexpr DWORD PRINTER_ATTRIBUTE_SHARED = 0x00000008;
constexpr DWORD PRINTER_ATTRIBUTE_NETWORK = 0x00000010;
constexpr DWORD PRINTER_ATTRIBUTE_HIDDEN = 0x00000020;
constexpr DWORD PRINTER_ATTRIBUTE_LOCAL = 0x00000040;
constexpr DWORD PRINTER_ATTRIBUTE_ENABLE_DEVQ = 0x00000080;
constexpr DWORD PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS = 0x00000100;
constexpr DWORD PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST = 0x00000200;
constexpr DWORD PRINTER_ATTRIBUTE_WORK_OFFLINE = 0x00000400;
constexpr DWORD PRINTER_ATTRIBUTE_ENABLE_BIDI = 0x00000800;
constexpr DWORD PRINTER_ATTRIBUTE_RAW_ONLY = 0x00001000;
constexpr DWORD PRINTER_ATTRIBUTE_PUBLISHED = 0x00002000;

// PRINTER_INFO_1 Flags.
constexpr DWORD PRINTER_ENUM_EXPAND = 0x00004000;
constexpr DWORD PRINTER_ENUM_CONTAINER = 0x00008000;

// Directory publishing (level 7).
constexpr DWORD DSPRINT_PUBLISH = 0x00000001;
constexpr DWORD DSPRINT_UPDATE = 0x00000002;
constexpr DWORD DSPRINT_UNPUBLISH = 0x00000004;
constexpr DWORD DSPRINT_REPUBLISH = 0x00000008;
constexpr DWORD DSPRINT_PENDING = 0x80000000;

// Form flags.
constexpr DWORD FORM_USER = 0x00000000;
constexpr DWORD FORM_BUILTIN = 0x00000001;
constexpr DWORD FORM_PRINTER = 0x00000002;

// Job status bits.
constexpr DWORD JOB_STATUS_PAUSED = 0x00000001;
constexpr DWORD JOB_STATUS_ERROR = 0x00000002;
constexpr DWORD JOB_STATUS_DELETING = 0x00000004;
constexpr DWORD JOB_STATUS_SPOOLING = 0x00000008;
constexpr DWORD JOB_STATUS_PRINTING = 0x00000010;
constexpr DWORD JOB_STATUS_OFFLINE = 0x00000020;
constexpr DWORD JOB_STATUS_PAPEROUT = 0x00000040;
constexpr DWORD JOB_STATUS_PRINTED = 0x00000080;
constexpr DWORD JOB_STATUS_DELETED = 0x00000100;
constexpr DWORD JOB_STATUS_USER_INTERVENTION = 0x00000400;
constexpr DWORD JOB_STATUS_COMPLETE = 0x00001000;
constexpr DWORD DEF_PRIORITY = 1;

// Port types (PORT_INFO_2 fPortType).
constexpr DWORD PORT_TYPE_WRITE = 0x0001;
constexpr DWORD PORT_TYPE_READ = 0x0002;
