#include "archive/folder_walk.h"

#include <sys/stat.h>

#include "archive/archive_format.h"

namespace quillop::archive {
namespace {

class Walker {
 public:
  Walker(const Cancelled& cancelled, FileSystem& fs) : cancelled_(cancelled), fs_(fs) {}

  // `relative` is empty for the shared folder, else the member path ending in `name`.
  // Recursion depth is bounded by the path limit (at most 1,024 levels).
  void visit(const std::string& location, const std::string& relative, const std::string& name) {
    throwIfCancelled(cancelled_);
    const struct stat st = fs_.linkStatus(location);
    if (S_ISLNK(st.st_mode)) throw DirectoryWriter::failure("La cartella contiene collegamenti.");
    const bool folder = S_ISDIR(st.st_mode);
    if (!relative.empty()) {
      if (result_.members.size() >= kMaxMembers || relative.size() > kMaxPathBytes ||
          !isAcceptableName(name)) {
        throw DirectoryWriter::failure("Nome non supportato nella cartella.");
      }
      DirectoryWriter::Member member{relative, folder, 0, ""};
      if (!folder) {
        // Pipes, sockets and devices are refused on their type alone: never opened, never read.
        if (!S_ISREG(st.st_mode)) throw DirectoryWriter::failure("File speciale non supportato.");
        DirectoryWriter::StreamResult hashed =
            DirectoryWriter::stream(location, nullptr, cancelled_, fs_);
        member.size = hashed.count;
        member.sha256 = std::move(hashed.sha256);
      }
      // Each size is at most the limit (stream enforces it), so this sum cannot overflow.
      result_.total += member.size;
      if (result_.total > kMaxBytes) throw DirectoryWriter::failure("Cartella oltre 50 GB.");
      result_.members.push_back(std::move(member));
    }
    if (!folder) return;
    for (const std::string& child : fs_.list(location)) {
      visit(location + "/" + child, relative.empty() ? child : relative + "/" + child, child);
    }
  }

  WalkResult take() { return std::move(result_); }

 private:
  const Cancelled& cancelled_;
  FileSystem& fs_;
  WalkResult result_;
};

}  // namespace

WalkResult walkFolder(const std::string& source, const Cancelled& cancelled, FileSystem& fs) {
  Walker walker(cancelled, fs);
  walker.visit(source, "", "");
  return walker.take();
}

}  // namespace quillop::archive
