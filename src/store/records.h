// The records that describe a batch, and their JSON form (keys equal to the field names, in
// field order; "mime" left out when absent). The host reads them back in batch_check.cc.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quillop {

struct BatchEntry {
  std::string id;
  std::string name;
  std::uint64_t size = 0;
  std::optional<std::string> mime;
  bool operator==(const BatchEntry&) const = default;
};

struct BatchRecord {
  std::int64_t version = 1;
  std::string id;
  std::vector<BatchEntry> files;
  bool operator==(const BatchRecord&) const = default;
};

void to_json(nlohmann::ordered_json& json, const BatchEntry& entry);
void to_json(nlohmann::ordered_json& json, const BatchRecord& batch);

}  // namespace quillop
