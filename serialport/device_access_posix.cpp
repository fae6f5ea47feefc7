#include "serialport/device_access_posix.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdio>
#include <vector>

namespace k5 {

namespace {

std::string NameOr(const std::string& name, unsigned id) {
    return name.empty() ? std::to_string(id) : name;
}

}  // namespace

std::string PermissionAdvice(const DeviceAccess& access) {
    const bool groupMayUse = (access.mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayUse && access.group != 0 && !access.groupName.empty() &&
        access.groupName != "root") {
        return "add yourself to the '" + access.groupName + "' group (sudo adduser $USER " +
               access.groupName + ") and log in again";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(access.mode & 07777));
    return "it belongs to " + NameOr(access.ownerName, access.owner) + ":" +
           NameOr(access.groupName, access.group) + " with mode " + mode +
           ", so no group gives access to it; ask the administrator for access";
}

std::optional<DeviceAccess> ReadDeviceAccess(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    DeviceAccess access{info.st_uid, info.st_gid, info.st_mode, {}, {}};
    // The reentrant look-ups: ports are opened on worker threads.
    std::vector<char> buffer(16384);
    passwd user{};
    passwd* foundUser = nullptr;
    if (::getpwuid_r(info.st_uid, &user, buffer.data(), buffer.size(), &foundUser) == 0 &&
        foundUser != nullptr) {
        access.ownerName = user.pw_name;
    }
    group owners{};
    group* foundGroup = nullptr;
    if (::getgrgid_r(info.st_gid, &owners, buffer.data(), buffer.size(), &foundGroup) == 0 &&
        foundGroup != nullptr) {
        access.groupName = owners.gr_name;
    }
    return access;
}

std::string PermissionAdviceFor(const std::string& path) {
    const auto access = ReadDeviceAccess(path);
    return access ? PermissionAdvice(*access) : "ask the administrator for access";
}

}  // namespace k5
