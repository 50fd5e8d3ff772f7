#include "archive/archive_index.h"

#include <set>
#include <unordered_set>

#include "archive/archive_format.h"
#include "archive/limits.h"
#include "platform/error.h"
#include "platform/json_file.h"

namespace quillop {
namespace {

using Member = DirectoryWriter::Member;
using Manifest = DirectoryWriter::Manifest;
using Json = nlohmann::json;

Error damaged(const std::string& detail) { return failure("Archivio non valido: " + detail); }

Error badStructure() { return damaged("indice con struttura errata."); }

// The object's keys must be exactly `keys`.
void requireKeys(const Json& value, std::initializer_list<const char*> keys) {
  if (!value.is_object() || value.size() != keys.size()) throw badStructure();
  for (const char* key : keys) {
    if (!value.contains(key)) throw badStructure();
  }
}

bool isLowerHexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Parses JSON text refusing containers deeper than an index has (object > array > object) and
// duplicate keys in the index object and in member objects, which the DOM would silently merge.
Json parseJson(std::string_view bytes) {
  std::set<std::string> topKeys, memberKeys;
  auto callback = [&](int depth, Json::parse_event_t event, Json& parsed) {
    using Event = Json::parse_event_t;
    if ((event == Event::object_start || event == Event::array_start) && depth >= 3) {
      throw badStructure();
    }
    if (event == Event::object_start && depth == 2) memberKeys.clear();
    if (event == Event::key && (depth == 1 || depth == 3)) {
      std::set<std::string>& keys = depth == 1 ? topKeys : memberKeys;
      if (!keys.insert(parsed.get<std::string>()).second)
        throw damaged("chiave ripetuta nell'indice.");
    }
    return true;
  };
  try {
    return Json::parse(bytes.begin(), bytes.end(), callback);
  } catch (const Json::exception&) {
    throw damaged("l'indice non è JSON ben formato.");
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

Member memberFromJson(const Json& value) {
  requireKeys(value, {"path", "directory", "size", "sha256"});
  const Json& path = value["path"];
  const Json& directory = value["directory"];
  const Json& size = value["size"];
  const Json& sha256 = value["sha256"];
  const bool count =
      size.is_number_unsigned() || (size.is_number_integer() && size.get<std::int64_t>() >= 0);
  if (!path.is_string() || !directory.is_boolean() || !count || !sha256.is_string()) {
    throw badStructure();
  }
  return Member{path.get<std::string>(), directory.get<bool>(), size.get<std::uint64_t>(),
                sha256.get<std::string>()};
}

Manifest manifestFromJson(const Json& value) {
  requireKeys(value, {"version", "entries"});
  const Json& version = value["version"];
  const Json& entries = value["entries"];
  if (!version.is_number_integer() || !entries.is_array()) throw badStructure();
  Manifest manifest;
  manifest.version = version.get<std::int64_t>();
  manifest.entries.reserve(entries.size());
  for (const Json& entry : entries) manifest.entries.push_back(memberFromJson(entry));
  return manifest;
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
  Manifest manifest = manifestFromJson(parseJson(bytes));
  if (manifest.version != kVersion) throw damaged("versione dell'indice non supportata.");
  if (manifest.entries.size() > kMaxMembers) throw damaged("troppi membri.");

  std::unordered_set<std::string_view> directories;
  std::uint64_t total = 0;
  const Member* previous = nullptr;
  for (const Member& member : manifest.entries) {
    const std::string& path = member.path;
    if (!isAcceptablePath(path)) throw damaged("percorso non ammesso: " + path);
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
