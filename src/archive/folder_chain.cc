#include "archive/folder_chain.h"

#include <fcntl.h>

#include <cerrno>

namespace quillop {
namespace {

Error moved() { return failure("Sorgente spostata fuori dalla cartella."); }

}  // namespace

FileHandle FolderChain::open(const FileHandle& parent, const std::string& name,
                             bool checked) const {
  try {
    return parent.openAt(name, O_RDONLY | O_DIRECTORY);
  } catch (const Error& error) {
    if (!checked) throw;
    // The kernel saw the folder leave the shared folder while it was being opened.
    if (error.isPosix(EXDEV)) throw moved();
  }
  bool link = false;
  try {
    link = S_ISLNK(parent.statAt(name).st_mode);
  } catch (const Error&) {
  }
  throw link ? moved() : failure("Sorgente non leggibile.");
}

void FolderChain::push(Level level) {
  levels_.push_back(std::move(level));
  ++open_;
  for (Level& shallow : levels_) {
    if (open_ <= kMaxOpen) break;
    if (shallow.handle.isOpen()) {
      shallow.handle.close();
      --open_;
    }
  }
}

Identity FolderChain::enter(const std::string& name, const std::optional<Identity>& expected) {
  FileHandle folder = open(current(), name, expected.has_value());
  const Identity identity = identityOf(folder.status());
  if (expected && identity != *expected) throw moved();
  push(Level{name, identity, std::move(folder)});
  return identity;
}

void FolderChain::leave() {
  if (levels_.back().handle.isOpen()) --open_;
  levels_.pop_back();
}

FileHandle& FolderChain::current() {
  if (levels_.empty()) return root_;
  if (levels_.back().handle.isOpen()) return levels_.back().handle;
  // Reopen the closed folders from the nearest open one above them, the shared folder at worst.
  std::size_t level = levels_.size() - 1;
  while (level > 0 && !levels_[level - 1].handle.isOpen()) --level;
  std::vector<Level> closed(std::make_move_iterator(levels_.begin() + level),
                            std::make_move_iterator(levels_.end()));
  levels_.resize(level);
  for (Level& again : closed) {
    FileHandle folder = open(current(), again.name, true);
    if (identityOf(folder.status()) != again.identity) throw moved();
    again.handle = std::move(folder);
    push(std::move(again));
  }
  return levels_.back().handle;
}

}  // namespace quillop
