// What a fresh Windows 2000 system holds before anything is installed and
// installers read: the version, the program folders and the shell folders.
#include "store/admin.h"
#include "store/database.h"

namespace zq::store {

void SeedSystem(Txn& txn) {
    KeyId hklm = txn.Database().Hklm();
    KeyId nt = txn.WalkCreate(hklm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    txn.SetString(nt, u"CurrentVersion", u"5.0");
    txn.SetString(nt, u"CurrentBuildNumber", u"2195");
    txn.SetString(nt, u"CSDVersion", u"Service Pack 4");
    KeyId cv = txn.WalkCreate(hklm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    txn.SetString(cv, u"ProgramFilesDir", u"C:\\Program Files");
    txn.SetString(cv, u"CommonFilesDir", u"C:\\Program Files\\Common Files");
    const std::u16string shellFolders = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const std::u16string allUsers = u"C:\\Documents and Settings\\All Users";
    KeyId common = txn.WalkCreate(hklm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    txn.SetString(common, u"Common Desktop", allUsers + u"\\Desktop");
    txn.SetString(common, u"Common Programs", allUsers + u"\\Start Menu\\Programs");
    txn.SetString(common, u"Common Start Menu", allUsers + u"\\Start Menu");
    // The current user's folders, and those of the default user that new
    // users (and the 9x family's all-users lookups) start from.
    for (const std::u16string& user : {RegistryUser(), std::u16string(u".DEFAULT")}) {
        const std::u16string profile =
            u"C:\\Documents and Settings\\" + (user == u".DEFAULT" ? std::u16string(u"Default User") : user);
        KeyId folders = txn.WalkCreate(txn.Database().Hku(), user + u"\\" + shellFolders);
        txn.SetString(folders, u"Desktop", profile + u"\\Desktop");
        txn.SetString(folders, u"Programs", profile + u"\\Start Menu\\Programs");
        txn.SetString(folders, u"Start Menu", profile + u"\\Start Menu");
        txn.SetString(folders, u"SendTo", profile + u"\\SendTo");
        txn.SetString(folders, u"Personal", profile + u"\\My Documents");
    }
}

}  // namespace zq::store
