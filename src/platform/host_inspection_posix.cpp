// What a Linux system says about the unit's devices: device nodes and their access, the
// USB devices behind serial ports (sysfs), the programs holding them (/proc), the group file
// and the udev rules. Every path is taken from the roots given.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/host_inspection.h"

namespace morlane {

namespace fs = std::filesystem;

namespace {

// Files of the system's trees are small; a longer one is read up to this and no further.
constexpr std::streamsize kMaxFileBytes = 256 * 1024;
// sysfs puts a USB device a few levels above the tty or hidraw node; this bounds the walk.
constexpr int kMaxParentLevels = 12;

std::string ReadSmallFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  char chunk[4096];
  while (in && static_cast<std::streamsize>(text.size()) < kMaxFileBytes) {
    in.read(chunk, sizeof(chunk));
    text.append(chunk, static_cast<size_t>(in.gcount()));
  }
  if (static_cast<std::streamsize>(text.size()) > kMaxFileBytes)
    text.resize(static_cast<size_t>(kMaxFileBytes));
  return text;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Fields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t end = line.find(separator, start);
    fields.push_back(line.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

bool ParseNumber(const std::string& text, int base, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  char* end = nullptr;
  unsigned long parsed = std::strtoul(text.c_str(), &end, base);
  if (*end != '\0' || parsed > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A path with its links resolved where it exists, else as written, so that two names of
// one device compare equal.
std::string Resolved(const fs::path& path) {
  std::error_code failure;
  fs::path real = fs::canonical(path, failure);
  return failure ? path.lexically_normal().string() : real.string();
}

// The group file's entry for a group id: its name and members.
struct GroupEntry {
  std::string name;
  std::vector<std::string> members;
};

bool FindGroup(const std::string& etc, uint32_t gid, GroupEntry* entry) {
  for (const std::string& line : Lines(ReadSmallFile(etc + "/group"))) {
    std::vector<std::string> fields = Fields(line, ':');
    uint32_t id = 0;
    if (fields.size() < 4 || !ParseNumber(fields[2], 10, &id) || id != gid) continue;
    entry->name = fields[0];
    for (const std::string& member : Fields(Trimmed(fields[3]), ','))
      if (!member.empty()) entry->members.push_back(member);
    return true;
  }
  return false;
}

// The POSIX access list as the kernel stores it in the extended attribute: a 4-byte
// version (2), then 8-byte entries (tag, permissions, id), all little-endian.
struct AclEntry {
  uint16_t tag;
  uint16_t perm;
  uint32_t id;
};
constexpr uint16_t kAclUserObj = 0x01, kAclUser = 0x02, kAclGroupObj = 0x04, kAclGroup = 0x08,
                   kAclMask = 0x10, kAclOther = 0x20;
constexpr uint16_t kReadWrite = 06;

std::vector<AclEntry> ReadAcl(const std::string& path) {
  uint8_t bytes[1024];
  ssize_t length = getxattr(path.c_str(), "system.posix_acl_access", bytes, sizeof(bytes));
  if (length < 4 || (length - 4) % 8 != 0) return {};
  auto u16 = [&](ssize_t at) { return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)); };
  uint32_t version = u16(0) | (static_cast<uint32_t>(u16(2)) << 16);
  if (version != 2) return {};
  std::vector<AclEntry> entries;
  for (ssize_t at = 4; at + 8 <= length; at += 8) {
    uint32_t id = u16(at + 4) | (static_cast<uint32_t>(u16(at + 6)) << 16);
    entries.push_back({u16(at), u16(at + 2), id});
  }
  return entries;
}

// The kernel's own order: owner, named users, any matching group (owning or named), then
// others; the mask limits all but the owner and others.
bool AclGrants(const std::vector<AclEntry>& acl, const struct stat& info, const UserIdentity& user,
               bool* groupMayOpen) {
  uint16_t mask = 07;
  for (const AclEntry& e : acl)
    if (e.tag == kAclMask) mask = e.perm;
  bool groupMatched = false, groupGranted = false;
  bool named = false, namedGranted = false;
  uint16_t other = 0, owner = 0;
  for (const AclEntry& e : acl) {
    bool grants = (e.perm & mask & kReadWrite) == kReadWrite;
    switch (e.tag) {
      case kAclUserObj:
        owner = e.perm;
        break;
      case kAclUser:
        if (e.id == user.uid) {
          named = true;
          namedGranted = grants;
        }
        break;
      case kAclGroupObj:
        *groupMayOpen = grants;
        if (user.HasGroup(info.st_gid)) {
          groupMatched = true;
          groupGranted |= grants;
        }
        break;
      case kAclGroup:
        if (user.HasGroup(e.id)) {
          groupMatched = true;
          groupGranted |= grants;
        }
        break;
      case kAclOther:
        other = e.perm;
        break;
      default:
        break;
    }
  }
  if (user.uid == info.st_uid) return (owner & kReadWrite) == kReadWrite;
  if (named) return namedGranted;
  if (groupMatched) return groupGranted;
  return (other & kReadWrite) == kReadWrite;
}

AccessFacts AccessOf(const std::string& path, const HostRoots& roots, const UserIdentity& user) {
  AccessFacts facts;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    // Only a name that is not there is missing; anything else is left to opening it.
    if (errno == ENOENT || errno == ENOTDIR) facts.access = DeviceAccess::Missing;
    return facts;
  }
  facts.mode = info.st_mode & 07777;
  facts.ownerUid = info.st_uid;
  facts.groupId = info.st_gid;
  GroupEntry group;
  if (FindGroup(roots.etc, info.st_gid, &group)) {
    facts.groupName = group.name;
    facts.userListedInGroup =
        !user.name.empty() &&
        std::find(group.members.begin(), group.members.end(), user.name) != group.members.end();
  }
  facts.groupMayOpen = ((info.st_mode >> 3) & kReadWrite) == kReadWrite;
  std::vector<AclEntry> acl = ReadAcl(path);
  facts.hasAcl = !acl.empty();
  bool granted;
  if (user.uid == 0) {
    granted = true;  // the superuser opens any device node
  } else if (facts.hasAcl) {
    granted = AclGrants(acl, info, user, &facts.groupMayOpen);
  } else if (user.uid == info.st_uid) {
    granted = ((info.st_mode >> 6) & kReadWrite) == kReadWrite;
  } else if (user.HasGroup(info.st_gid)) {
    granted = facts.groupMayOpen;
  } else {
    granted = (info.st_mode & kReadWrite) == kReadWrite;
  }
  facts.access = granted ? DeviceAccess::Granted : DeviceAccess::Denied;
  return facts;
}

// The USB device above a sysfs device folder: the first ancestor with a vendor and
// product id, never above the sysfs root.
bool UsbDeviceAbove(const fs::path& device, const std::string& sysRoot, std::string* usbId,
                    std::string* serial) {
  std::string root = Resolved(sysRoot);
  fs::path at = Resolved(device);
  for (int level = 0; level < kMaxParentLevels; ++level) {
    std::string text = at.string();
    if (text.size() <= root.size() || text.compare(0, root.size(), root) != 0) return false;
    std::string vendor = Trimmed(ReadSmallFile(at / "idVendor"));
    std::string product = Trimmed(ReadSmallFile(at / "idProduct"));
    if (!vendor.empty() && !product.empty()) {
      *usbId = Lower(vendor) + ":" + Lower(product);
      *serial = Trimmed(ReadSmallFile(at / "serial"));
      return true;
    }
    at = at.parent_path();
  }
  return false;
}

std::vector<std::string> SortedEntries(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code failure;
  for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
       it.increment(failure)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every process's open files that are among the targets (resolved paths): target index to
// holders. Processes of other users are not readable without privileges and are passed.
// A program that has a pseudo-terminal's master side open (a terminal emulator, the
// simulated unit) keeps the slave sides it serves open as well; it is the other end of
// the line, not a program in the way, so it is not counted as holding a pseudo-terminal.
std::map<size_t, std::vector<DeviceHolder>> Holders(const std::string& proc, const std::string& dev,
                                                    const std::vector<std::string>& targets) {
  const std::string masters[] = {dev + "/ptmx", dev + "/pts/ptmx", Resolved(dev + "/ptmx")};
  const std::string slaves = Resolved(dev + "/pts") + "/";
  std::map<size_t, std::vector<DeviceHolder>> found;
  for (const std::string& pid : SortedEntries(proc)) {
    if (!AllDigits(pid)) continue;
    fs::path fdFolder = fs::path(proc) / pid / "fd";
    bool servesTerminals = false;
    std::vector<bool> held(targets.size(), false);
    std::error_code failure;
    for (fs::directory_iterator it(fdFolder, failure), end; !failure && it != end;
         it.increment(failure)) {
      std::error_code linkFailure;
      fs::path target = fs::read_symlink(it->path(), linkFailure);
      if (linkFailure || !target.is_absolute()) continue;  // sockets, pipes: "socket:[…]"
      std::string text = target.lexically_normal().string();
      for (const std::string& master : masters) servesTerminals |= text == master;
      for (size_t i = 0; i < targets.size(); ++i) held[i] = held[i] || text == targets[i];
    }
    for (size_t i = 0; i < targets.size(); ++i) {
      if (!held[i] || (servesTerminals && targets[i].rfind(slaves, 0) == 0)) continue;
      DeviceHolder holder;
      holder.pid = std::atoi(pid.c_str());
      holder.name = Trimmed(ReadSmallFile(fs::path(proc) / pid / "comm"));
      found[i].push_back(holder);
    }
  }
  return found;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

UserIdentity UserIdentity::Current() {
  UserIdentity user;
  user.uid = getuid();
  user.gid = getgid();
  int count = getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> ids(static_cast<size_t>(count));
    count = getgroups(count, ids.data());
    for (int i = 0; i < count; ++i) user.groups.push_back(ids[static_cast<size_t>(i)]);
  }
  struct passwd entry {};
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(user.uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result)
    user.name = result->pw_name;
  return user;
}

HostInspection::HostInspection(HostRoots roots, UserIdentity user)
    : roots_(std::move(roots)), user_(std::move(user)) {}

bool HostInspection::UnixChecksApply() {
  return true;
}

std::vector<SerialDeviceFacts> HostInspection::SerialDevices(
    const std::vector<std::string>& paths) const {
  std::vector<SerialDeviceFacts> facts(paths.size());
  std::vector<std::string> resolved;
  for (const std::string& path : paths) resolved.push_back(Resolved(path));

  fs::path byId = fs::path(roots_.dev) / "serial" / "by-id";
  std::vector<std::pair<std::string, std::string>> links;  // link, resolved target
  for (const std::string& name : SortedEntries(byId)) {
    std::error_code failure;
    fs::path target = fs::read_symlink(byId / name, failure);
    if (failure) continue;
    if (target.is_relative()) target = byId / target;
    links.emplace_back((byId / name).string(), Resolved(target));
  }

  std::map<size_t, std::vector<DeviceHolder>> holders = Holders(roots_.proc, roots_.dev, resolved);
  for (size_t i = 0; i < paths.size(); ++i) {
    SerialDeviceFacts& port = facts[i];
    port.path = paths[i];
    for (const auto& [link, target] : links) {
      if (target == resolved[i]) {
        port.stableName = link;
        break;
      }
    }
    std::string name = fs::path(resolved[i]).filename().string();
    if (!name.empty()) {
      UsbDeviceAbove(fs::path(roots_.sys) / "class" / "tty" / name / "device", roots_.sys,
                     &port.usbId, &port.usbSerial);
    }
    port.access = AccessOf(paths[i], roots_, user_);
    if (auto found = holders.find(i); found != holders.end()) port.holders = found->second;
  }
  return facts;
}

// The kernel names each hidraw node's HID device by bus, vendor and product:
// HID_ID=0003:00000590:0000004B in the device's uevent file.
std::vector<UnitHidNode> HostInspection::UnitHidNodes(uint16_t vendorId, uint16_t productId) const {
  std::vector<UnitHidNode> nodes;
  fs::path classFolder = fs::path(roots_.sys) / "class" / "hidraw";
  for (const std::string& name : SortedEntries(classFolder)) {
    for (const std::string& line : Lines(ReadSmallFile(classFolder / name / "device" / "uevent"))) {
      if (line.rfind("HID_ID=", 0) != 0) continue;
      std::vector<std::string> ids = Fields(Trimmed(line.substr(7)), ':');
      uint32_t vendor = 0, product = 0;
      if (ids.size() != 3 || !ParseNumber(ids[1], 16, &vendor) ||
          !ParseNumber(ids[2], 16, &product) || vendor != vendorId || product != productId)
        continue;
      UnitHidNode node;
      node.path = (fs::path(roots_.dev) / name).string();
      node.access = AccessOf(node.path, roots_, user_);
      nodes.push_back(node);
    }
  }
  return nodes;
}

// udev reads the rule files of both folders in the order of their names, a file in /etc
// replacing one of the same name in /usr/lib. The seat tag gives access only when set
// before 73-seat-late.rules acts on it.
UnitRuleFacts HostInspection::UnitRule(uint16_t vendorId, uint16_t productId) const {
  UnitRuleFacts facts;
  char vendor[8], product[8];
  std::snprintf(vendor, sizeof(vendor), "\"%04x\"", vendorId);
  std::snprintf(product, sizeof(product), "\"%04x\"", productId);
  std::map<std::string, fs::path> files;  // name to the file that counts
  for (const std::string& folder :
       {roots_.usrLib + "/udev/rules.d", roots_.etc + "/udev/rules.d"}) {
    for (const std::string& name : SortedEntries(folder)) {
      if (name.size() > 6 && name.compare(name.size() - 6, 6, ".rules") == 0)
        files[name] = fs::path(folder) / name;
    }
  }
  for (const auto& [name, path] : files) {
    bool namesUnit = false, uaccess = false, ignore = false;
    for (const std::string& raw : Lines(ReadSmallFile(path))) {
      // udev allows blanks around the operators; they are dropped before matching.
      std::string line;
      for (char c : Lower(raw)) {
        if (c != ' ' && c != '\t' && c != '\r') line += c;
      }
      if (line.empty() || line[0] == '#') continue;
      bool unitLine = Contains(line, vendor) && Contains(line, product);
      namesUnit |= unitLine;
      if (unitLine && Contains(line, "tag+=\"uaccess\"")) uaccess = true;
      if (Contains(line, "env{id_mm_device_ignore}=\"1\"") ||
          Contains(line, "env{id_mm_device_ignore}:=\"1\""))
        ignore = true;
    }
    if (!namesUnit) continue;
    facts.files.push_back(path.string());
    facts.tagsUaccess |= uaccess;
    facts.ignoresModemManager |= ignore;
    if (uaccess && name >= "73-seat-late.rules" && facts.uaccessTooLate.empty())
      facts.uaccessTooLate = path.string();
  }
  return facts;
}

std::vector<DeviceHolder> HostInspection::RunningPrograms(const std::string& name) const {
  std::vector<DeviceHolder> programs;
  for (const std::string& pid : SortedEntries(roots_.proc)) {
    if (!AllDigits(pid)) continue;
    if (Trimmed(ReadSmallFile(fs::path(roots_.proc) / pid / "comm")) == name)
      programs.push_back({std::atoi(pid.c_str()), name});
  }
  return programs;
}

}  // namespace morlane
