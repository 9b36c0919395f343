// PJL job header and job end of a PCL 5 job.
#pragma once

#include <string>
#include <string_view>

#include "render/device_record.h"

namespace pclrend {

// Sent at the first page of a document (the per-page reset runs on every
// call). Returns a negative value only on failure.
int JobHeader(DeviceRecord& r);

// Printer reset, and the font-selection state forgotten with it.
void JobStart(DeviceRecord& r);

// UEL, the rotation line where the model asks for it, and the flush.
void JobEnd(DeviceRecord& r);

// Makes a text safe inside a quoted PJL value: re-coded from the ANSI code
// page to the printer's (UTF-8 for the double-byte code pages, ISO 8859-2 for
// 1250, ISO 8859-5 for 1251, code page 850 otherwise); control bytes and
// double quotes become "*"; cut to `limit` bytes at a character boundary.
std::string CleanName(std::string_view text, uint32_t ansiCodePage, size_t limit);

// A wide name (printer, document) in the ANSI code page `codePage`, the
// process's own, cut to `limit` bytes without splitting a character;
// characters the code page lacks become its default character.
std::string AnsiText(std::u16string_view text, uint32_t codePage, size_t limit);

// The module's name and version as the first PJL comment carries them.
inline constexpr std::string_view kModuleName = "pclrend";
inline constexpr std::string_view kVersionText = "Version 1.0.0.23 for Windows 2000";

}  // namespace pclrend
