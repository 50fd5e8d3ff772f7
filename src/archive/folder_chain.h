// A descent from the shared folder to one folder below it, through descriptors: every folder is
// opened beneath the one above it without following a link, and its identity (device, inode) is
// kept, so that a folder swapped on the way is noticed and nothing outside is ever reached.
//
// At most kMaxOpen descriptors below the shared folder stay open however deep the descent (a
// member path of 2048 bytes can be 1,024 folders deep): the shallowest are closed first, and a
// folder whose descriptor was closed is reopened from the nearest open one above it, each step
// checked against the identity it had, when it is needed again.
//
// One folder:  enter() --> open -- kMaxOpen deeper ones open --> closed -- current() needs it
//               --> open again (same identity, or a failure);  leave() --> gone
//
// One thread at a time. The shared folder's handle is borrowed and must outlive the chain.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "archive/file_stream.h"
#include "platform/file_handle.h"

namespace quillop {

class FolderChain {
 public:
  static constexpr std::size_t kMaxOpen = 32;

  explicit FolderChain(FileHandle& root) : root_(root) {}

  // Enters the folder `name` beneath the current one and returns its identity. With `expected`
  // (the copy pass): a folder that is now a link or another folder fails with "Sorgente spostata
  // fuori dalla cartella.", one that cannot be opened otherwise with "Sorgente non leggibile.".
  // Without it (the walk), the system's error passes unchanged.
  Identity enter(const std::string& name, const std::optional<Identity>& expected);
  // Back to the folder above; the shared folder stays.
  void leave();
  // Folders entered below the shared folder, and the name of the one at `level` (0: the first).
  std::size_t depth() const { return levels_.size(); }
  const std::string& name(std::size_t level) const { return levels_[level].name; }

  // The current folder, reopened (with the checks of `enter` with `expected`) if it was closed.
  FileHandle& current();

 private:
  struct Level {
    std::string name;
    Identity identity;
    FileHandle handle;
  };

  FileHandle open(const FileHandle& parent, const std::string& name, bool checked) const;
  void push(Level level);

  FileHandle& root_;
  std::vector<Level> levels_;
  std::size_t open_ = 0;  // levels whose handle is open
};

}  // namespace quillop
