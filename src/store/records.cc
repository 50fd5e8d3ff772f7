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

void from_json(const nlohmann::ordered_json& json, BatchEntry& entry) {
  json.at("id").get_to(entry.id);
  json.at("name").get_to(entry.name);
  const auto& size = json.at("size");
  if (!size.is_number_unsigned() && !(size.is_number_integer() && size.get<std::int64_t>() >= 0)) {
    throw nlohmann::json::type_error::create(302, "size is not a non-negative integer", &size);
  }
  entry.size = size.get<std::uint64_t>();
  entry.mime.reset();
  if (auto it = json.find("mime"); it != json.end()) entry.mime = it->get<std::string>();
}

void from_json(const nlohmann::ordered_json& json, BatchRecord& batch) {
  json.at("version").get_to(batch.version);
  json.at("id").get_to(batch.id);
  json.at("files").get_to(batch.files);
}

}  // namespace quillop
