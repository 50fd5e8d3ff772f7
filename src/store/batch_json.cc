#include "store/batch_json.h"

#include <limits.h>

#include "platform/error.h"
#include "platform/json_shape.h"
#include "platform/limits.h"

namespace quillop {
namespace {

// A source is a path the system could open.
constexpr std::uint64_t kMaxSourceBytes = PATH_MAX;
constexpr std::uint64_t kIdBytes = 32;

enum Tag { kVersion = 1, kBatchId, kFiles, kEntryId, kName, kSize, kMime, kTicket, kSources };

const Shape& manifestShape() {
  static const Shape shape = Shape::object({
      {"version", Shape::integer(), kVersion},
      {"id", Shape::string(kIdBytes), kBatchId},
      {"files",
       Shape::array(kMaxItems, Shape::object({
                                   {"id", Shape::string(kIdBytes), kEntryId},
                                   {"name", Shape::string(kMaxNameBytes), kName},
                                   {"size", Shape::count(), kSize},
                                   {"mime", Shape::string(kMaxMediaTypeBytes), kMime, false},
                               })),
       kFiles},
  });
  return shape;
}

const Shape& contextShape() {
  static const Shape shape = Shape::object({
      {"ticket", Shape::string(kMaxTicketFileBytes), kTicket},
      {"sources", Shape::array(kMaxItems, Shape::string(kMaxSourceBytes)), kSources},
  });
  return shape;
}

// The message for a refused manifest or context, in the words the checks below use for the same
// kind of damage.
Error refused(const std::string& file, const ShapeRefusal& refusal) {
  using Reason = ShapeRefusal::Reason;
  switch (refusal.reason) {
    case Reason::notJson:
      return failure(file + ": non è JSON ben formato");
    case Reason::repeatedKey:
      return failure(file + ": chiave ripetuta");
    case Reason::tooMany:
      return failure(refusal.tag == kFiles
                         ? file + ": troppi file"
                         : file + ": numero di sorgenti diverso dal numero di file");
    default:
      break;
  }
  if (refusal.tag == kBatchId && refusal.reason == Reason::tooLong) {
    return failure(file + ": id diverso dal nome della cartella");
  }
  if (refusal.tag == kEntryId && refusal.reason == Reason::tooLong) {
    return failure(file + ": id di voce non valido");
  }
  if (refusal.tag == kSources && refusal.element) return failure(file + ": sorgente non testuale");
  if (refusal.tag == kTicket || refusal.tag == kSources) {
    return failure(file + ": manca \"ticket\" o \"sources\"");
  }
  return failure(file + ": struttura errata");
}

}  // namespace

BatchRecord readManifest(std::string_view text) {
  BatchRecord record;
  ShapeSink sink;
  sink.element = [&](int) { record.files.emplace_back(); };
  sink.value = [&](int tag, ShapeValue&& value) {
    if (tag == kVersion) return take(record.version, value);
    if (tag == kBatchId) return take(record.id, value);
    BatchEntry& file = record.files.back();  // every other key is a file's
    if (tag == kSize) return take(file.size, value);
    if (tag == kMime) return take(file.mime, value);
    take(tag == kEntryId ? file.id : file.name, value);
  };
  if (auto refusal = readShape(text, manifestShape(), sink))
    throw refused("manifest.json", *refusal);
  return record;
}

BatchContext readContext(std::string_view text, std::size_t files) {
  BatchContext context;
  ShapeSink sink;
  sink.value = [&](int tag, ShapeValue&& value) {
    if (tag == kTicket) {
      take(context.ticket, value);
    } else if (context.sources.size() == files) {
      throw failure("context.json: numero di sorgenti diverso dal numero di file");
    } else {
      context.sources.push_back(std::move(std::get<std::string>(value)));
    }
  };
  if (auto refusal = readShape(text, contextShape(), sink)) throw refused("context.json", *refusal);
  if (context.sources.size() != files) {
    throw failure("context.json: numero di sorgenti diverso dal numero di file");
  }
  return context;
}

}  // namespace quillop
