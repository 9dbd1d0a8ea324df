#include "workstation/sync.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "workstation/remote_commands.h"

namespace perimo::workstation {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The local path of a relative name with '\' separators.
std::string NativeOf(const std::string& folder, std::string relative) {
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return folder + "/" + relative;
}

std::string ParentOf(const std::string& remote) {
  const size_t slash = remote.find_last_of('\\');
  return slash == std::string::npos ? std::string() : remote.substr(0, slash);
}

}  // namespace

std::string RemoteJoin(const std::string& folder, const std::string& relative) {
  if (folder.empty()) return relative;
  if (folder.back() == '\\' || folder.back() == '/') return folder + relative;
  return folder + "\\" + relative;
}

Error LocalTree(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return Fail(Outcome::kFailed, "\"" + folder + "\" is not a folder");
  }
  fs::recursive_directory_iterator it(folder, ec), end;
  // The iterator's paths start with folder and a separator; fs::relative would resolve every
  // component of every path through the file system instead.
  const size_t prefix = (fs::path(folder) / "").native().size();
  for (; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string& path = it->path().native();
    if (path.size() <= prefix) continue;
    std::string relative = path.substr(prefix);
    std::replace(relative.begin(), relative.end(), '/', '\\');
    names.push_back(relative);
  }
  if (ec) return Fail(Outcome::kFailed, "cannot read \"" + folder + "\": " + ec.message());
  std::sort(names.begin(), names.end());
  return Ok();
}

Error Sync(Session& session, const std::string& localFolder, const std::string& remoteFolder,
           const SyncOptions& options, SyncResult& result) {
  const bool absolute = (remoteFolder.size() >= 2 && remoteFolder[1] == ':') ||
                        (!remoteFolder.empty() && (remoteFolder[0] == '\\'));
  if (!absolute) {
    return Fail(Outcome::kUsage, "the remote folder of a sync must be absolute (C:\\... or \\...)");
  }
  std::vector<std::string> local;
  if (Error e = LocalTree(localFolder, local)) return e;
  std::vector<std::string> remote;
  for (const std::string& name : local) remote.push_back(RemoteJoin(remoteFolder, name));

  // The local files are hashed while the agent hashes its copies.
  std::vector<Digest> mine(local.size());
  std::vector<char> readable(local.size(), 0);
  std::jthread hasher([&](std::stop_token stop) {
    for (size_t i = 0; i < local.size() && !stop.stop_requested(); ++i) {
      readable[i] = LocalDigest(NativeOf(localFolder, local[i]), mine[i]);
    }
  });
  std::vector<Digest> digests;
  std::vector<bool> present;
  Error remoteError = RemoteDigests(session, remote, digests, present);
  if (remoteError) hasher.request_stop();
  hasher.join();
  if (remoteError) return remoteError;

  std::vector<size_t> toSend;
  for (size_t i = 0; i < local.size(); ++i) {
    if (!readable[i]) {
      return Fail(Outcome::kFailed, "cannot read \"" + NativeOf(localFolder, local[i]) + "\"");
    }
    if (present[i] && digests[i] == mine[i]) {
      result.skipped.push_back(remote[i]);
    } else {
      toSend.push_back(i);
    }
  }

  std::vector<std::string> toDelete;
  if (options.remove) {
    std::vector<ListEntry> listed;
    if (Error e = ListProjectFiles(session, remoteFolder, true, listed)) return e;
    std::set<std::string> keep;
    for (const std::string& name : local) keep.insert(Lower(name));
    for (const ListEntry& entry : listed) {
      // A name with wildcard characters would delete more than itself.
      if (entry.name.find_first_of("*?") != std::string::npos) continue;
      if (!keep.count(Lower(entry.name))) toDelete.push_back(RemoteJoin(remoteFolder, entry.name));
    }
  }

  if (options.dryRun) {
    for (size_t i : toSend) {
      result.sent.push_back(remote[i]);
      std::error_code ec;
      result.bytesSent += fs::file_size(NativeOf(localFolder, local[i]), ec);
    }
    result.deleted = toDelete;
    return Ok();
  }

  std::set<std::string> madeFolders;
  for (size_t i : toSend) {
    const std::string parent = ParentOf(remote[i]);
    if (!parent.empty() && !madeFolders.count(Lower(parent))) {
      if (Error e = MakeDirectory(session, parent)) return e;
      madeFolders.insert(Lower(parent));
    }
    const std::string native = NativeOf(localFolder, local[i]);
    std::error_code ec;
    const uint64_t size = fs::file_size(native, ec);
    PutOptions put;
    put.runCapacity = options.runCapacity;
    if (options.onSend) put.progress = options.onSend(remote[i], size);
    if (Error e = PutFile(session, native, remote[i], put)) return e;
    result.sent.push_back(remote[i]);
    result.bytesSent += size;
  }
  for (const std::string& name : toDelete) {
    if (Error e = DeleteFiles(session, name)) return e;
    result.deleted.push_back(name);
  }
  return Ok();
}

}  // namespace perimo::workstation
