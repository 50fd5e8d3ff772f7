#include "platform/json_file.h"

#include <fcntl.h>

#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/identifiers.h"

namespace quillop {

std::string compactJson(const nlohmann::ordered_json& value) {
  std::string text;
  try {
    text = value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
  } catch (const nlohmann::json::exception& e) {
    throw Error("JSON", e.id, e.what());
  }
  std::string escaped;
  escaped.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '/') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

void writeFileAtomically(FileSystem& fs, const std::string& folder, const std::string& name,
                         const std::string& bytes) {
  const std::string temporary = folder + "/." + name + "." + newIdentifier() + ".tmp";
  const std::string final = folder + "/" + name;
  FileHandle file = FileHandle::open(fs, temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
  try {
    file.writeAll(bytes.data(), bytes.size());
    file.sync();
    file.close();
    fs.rename(temporary, final);
  } catch (...) {
    file.close();
    try {
      fs.remove(temporary);
    } catch (const Error&) {
    }
    throw;
  }
}

}  // namespace quillop
