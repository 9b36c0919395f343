// Copying, replacing and deleting files that the printing system may hold
// open, with version and time checks, and the two ways of finishing a
// replacement at the next start of Windows.
#pragma once

#include <string>
#include <vector>

#include "postinst/text.h"

namespace postinst {

namespace FileOp {
// Copy flags.
constexpr int kVersionsDiffer = 1;
constexpr int kTimesDiffer = 2;
constexpr int kSharingIsInUse = 4;
constexpr int kRecheck = 8;
// Remove flags.
constexpr int kNeverAtReboot = 1;
constexpr int kOnlyAtReboot = 2;

bool Exists(const PathObject& path);
bool DirExists(const PathObject& dir, bool create);
bool MakePath(const PathObject& path);
int IsNewerTime(const PathObject& a, const PathObject& b);
std::string GetFileVersion(const PathObject& path);
int CompareVersions(const std::string& a, const std::string& b);
bool isNewer(const PathObject& source, const PathObject& destination);
bool NeedsCopy(const PathObject& source, const PathObject& destination, int flags);
bool Copy(const PathObject& source, const PathObject& destination, int flags);
bool Remove(const PathObject& path, int flags);
bool removeFile(const PathObject& path, int flags);
bool replaceOnReboot(const std::string& oldPath, const std::string* newPath);
// Copies source beside destination under a temporary name and renames it
// into place, so that a destination is never half written.
bool CopyIntoPlace(const std::string& source, const std::string& destination);
}  // namespace FileOp

PathObject get_temp_name(const PathObject& dir);
bool deleteDir(const PathObject& dir);
bool WipeOutDirectory(const PathObject& dir);
void addToRebootBatFile(const std::string& dir);
// The rename lines kept in memory when a delayed move could not be
// scheduled (never written out).
const std::vector<std::string>& PendingRenameLines();

}  // namespace postinst
