#include "archive/archive_index.h"

#include <unordered_set>

#include "archive/archive_format.h"
#include "archive/copy_rules.h"
#include "platform/error.h"
#include "platform/json_file.h"
#include "platform/json_shape.h"

namespace quillop {
namespace {

using Member = DirectoryWriter::Member;
using Manifest = DirectoryWriter::Manifest;

Error damaged(const std::string& detail) { return failure("Archivio non valido: " + detail); }

Error badStructure() { return damaged("indice con struttura errata."); }

bool isLowerHexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

enum Tag { kVersionTag = 1, kEntries, kPath, kDirectory, kSize, kSha256 };

// The one shape of an index. A path is checked as it arrives (see the sink); a digest of the
// wrong length is named with its member's path once the whole member is known.
const Shape& indexShape() {
  static const Shape shape = Shape::object({
      {"version", Shape::integer(), kVersionTag},
      {"entries",
       Shape::array(kMaxMembers, Shape::object({
                                     {"path", Shape::string(kMaxIndexBytes), kPath},
                                     {"directory", Shape::boolean(), kDirectory},
                                     {"size", Shape::count(), kSize},
                                     {"sha256", Shape::string(kMaxPathBytes), kSha256},
                                 })),
       kEntries},
  });
  return shape;
}

// Reads the index text into `manifest`, refusing at the first event that breaks its shape.
Manifest readIndex(std::string_view bytes) {
  Manifest manifest;
  const auto store = [&](int tag, ShapeValue&& value) {
    if (tag == kVersionTag) return take(manifest.version, value);
    Member& member = manifest.entries.back();  // every other key is a member's
    if (tag == kDirectory) return take(member.directory, value);
    if (tag == kSize) return take(member.size, value);
    take(tag == kPath ? member.path : member.sha256, value);
    if (tag == kPath && !isAcceptablePath(member.path)) {
      throw damaged("percorso non ammesso: " + member.path);
    }
  };
  const std::optional<ShapeRefusal> refusal =
      readShape(bytes, indexShape(), {store, [&](int) { manifest.entries.emplace_back(); }});
  if (!refusal) return manifest;
  switch (refusal->reason) {
    case ShapeRefusal::Reason::notJson:
      throw damaged("l'indice non è JSON ben formato.");
    case ShapeRefusal::Reason::repeatedKey:
      throw damaged("chiave ripetuta nell'indice.");
    case ShapeRefusal::Reason::tooMany:
      throw damaged("troppi membri.");
    default:
      throw badStructure();
  }
}

}  // namespace

nlohmann::ordered_json toJson(const Member& member) {
  nlohmann::ordered_json value;
  value["path"] = member.path;
  value["directory"] = member.directory;
  value["size"] = member.size;
  value["sha256"] = member.sha256;
  return value;
}

nlohmann::ordered_json toJson(const Manifest& manifest) {
  nlohmann::ordered_json value;
  value["version"] = manifest.version;
  value["entries"] = nlohmann::ordered_json::array();
  for (const Member& member : manifest.entries) value["entries"].push_back(toJson(member));
  return value;
}

std::string encodeIndex(const Manifest& manifest) {
  // The frame holds nothing that needs escaping; each member goes through the JSON writer.
  std::string text = "{\"version\":" + std::to_string(manifest.version) + ",\"entries\":[";
  bool first = true;
  for (const Member& member : manifest.entries) {
    if (!first) text += ',';
    first = false;
    text += compactJson(toJson(member));
  }
  text += "]}";
  return text;
}

Manifest parseIndex(std::string_view bytes) {
  if (bytes.size() > kMaxIndexBytes) throw damaged("indice troppo grande.");
  Manifest manifest = readIndex(bytes);
  if (manifest.version != kVersion) throw damaged("versione dell'indice non supportata.");

  std::unordered_set<std::string_view> directories;
  std::uint64_t total = 0;
  const Member* previous = nullptr;
  for (const Member& member : manifest.entries) {
    const std::string& path = member.path;
    if (previous != nullptr && !pathBefore(previous->path, path)) {
      throw damaged("membri non ordinati o ripetuti: " + path);
    }
    previous = &member;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && !directories.count(std::string_view(path).substr(0, slash))) {
      throw damaged("manca la cartella che contiene " + path);
    }
    if (member.directory) {
      if (member.size != 0 || !member.sha256.empty()) {
        throw damaged("cartella con dimensione o impronta: " + path);
      }
      directories.insert(path);
    } else {
      if (!isLowerHexDigest(member.sha256)) throw damaged("impronta SHA-256 non valida: " + path);
      if (member.size > kMaxBytes - total) throw damaged("contenuto oltre 50 GB.");
      total += member.size;
    }
  }
  return manifest;
}

}  // namespace quillop
