// The INF actions: a base that finds its key in an install section, reads
// the sections the key names and hands each line to its command handler,
// and the actions of this engine.
#pragma once

#include <string>
#include <vector>

#include "base/spool_types.h"
#include "postinst/engine.h"

namespace postinst {

class GenericInfo {
public:
    explicit GenericInfo(KovrantEngine& engine) : engine_(engine) {}
    virtual ~GenericInfo() = default;
    virtual bool ReadINF(const std::string& installSection);
    virtual bool Process();
    virtual bool ParseCommand(const std::string& line);
    virtual bool HandleCommand(const std::vector<std::string>& args) = 0;
    const std::string& KeyName() const { return keyName_; }

protected:
    // Every field of the line, quote-aware, with no mask field.
    bool ParsePlain(const std::string& line);
    std::string Expand(const std::string& text) const { return engine_.DecodeMacros(text, 255); }
    PathObject ExpandPath(const std::string& text) const { return PathObject(Expand(text)); }

    KovrantEngine& engine_;
    std::string keyName_;
    std::string driverName_;
};

class UnzipFileInfo : public GenericInfo {
public:
    explicit UnzipFileInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelUnZipZipFile"; }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

class RunExeInfo : public GenericInfo {
public:
    RunExeInfo(KovrantEngine& e, int type);
    bool HandleCommand(const std::vector<std::string>& args) override;

private:
    bool runDriver(const std::string& name);
};

class InstFileInfo : public GenericInfo {
public:
    explicit InstFileInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelInstallFile"; }
    bool HandleCommand(const std::vector<std::string>& args) override;
    static bool ourLZCopy(const PathObject& source, const PathObject& destination);
};

class DeleteFileInfo : public GenericInfo {
public:
    explicit DeleteFileInfo(KovrantEngine& e) : GenericInfo(e) { keyName_ = "ZelDelFiles"; }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

class PrtDrvDataInfo : public GenericInfo {
public:
    PrtDrvDataInfo(KovrantEngine& e, const std::string& printer, const std::string& driver)
        : GenericInfo(e), printer_(printer) {
        keyName_ = "ZelPrtDrvData";
        driverName_ = driver;
    }
    bool HandleCommand(const std::vector<std::string>& args) override;

private:
    std::string printer_;
};

class AddRegInfo : public GenericInfo {
public:
    AddRegInfo(KovrantEngine& e, const std::string& driver) : GenericInfo(e) {
        keyName_ = "AddReg";
        driverName_ = driver;
    }
    bool ParseCommand(const std::string& line) override { return ParsePlain(line); }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

class DeleteRegInfo : public GenericInfo {
public:
    DeleteRegInfo(KovrantEngine& e, const std::string& driver) : GenericInfo(e) {
        keyName_ = "DelReg";
        driverName_ = driver;
    }
    bool ParseCommand(const std::string& line) override { return ParsePlain(line); }
    bool HandleCommand(const std::vector<std::string>& args) override;
};

}  // namespace postinst
