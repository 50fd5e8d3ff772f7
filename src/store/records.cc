#include "store/records.h"

namespace quillop {

void to_json(nlohmann::ordered_json& json, const BatchEntry& entry) {
  json = nlohmann::ordered_json::object();
  json["id"] = entry.id;
  json["name"] = entry.name;
  json["size"] = entry.size;
  if (entry.mime) json["mime"] = *entry.mime;
}

void to_json(nlohmann::ordered_json& json, const BatchRecord& batch) {
  json = nlohmann::ordered_json::object();
  json["version"] = batch.version;
  json["id"] = batch.id;
  json["files"] = batch.files;
}

}  // namespace quillop
