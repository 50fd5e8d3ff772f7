#include "platform/json_shape.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace quillop {

Shape Shape::object(std::initializer_list<Key> keys) { return Shape{Kind::object, 0, keys, {}}; }
Shape Shape::array(std::uint64_t most, Shape element) {
  return Shape{Kind::array, most, {}, {std::move(element)}};
}
Shape Shape::string(std::uint64_t most) { return Shape{Kind::string, most, {}, {}}; }
Shape Shape::boolean() { return Shape{Kind::boolean, 0, {}, {}}; }
Shape Shape::count() { return Shape{Kind::count, 0, {}, {}}; }
Shape Shape::integer() { return Shape{Kind::integer, 0, {}, {}}; }
Shape Shape::number() { return Shape{Kind::number, 0, {}, {}}; }

namespace {

using Json = nlohmann::json;
using Reason = ShapeRefusal::Reason;
using Kind = Shape::Kind;

// The event handler. Its stack holds one frame per open container, so it is never deeper than
// the shape; every event is checked against the frame on top.
class ShapeHandler final : public nlohmann::json_sax<Json> {
 public:
  ShapeHandler(const Shape& shape, const ShapeSink& sink) : top_(shape), sink_(sink) {}

  std::optional<ShapeRefusal> refusal;

  bool null() override { return refuse(Reason::wrongShape, next().tag); }
  bool boolean(bool value) override { return scalar(Kind::boolean, value); }
  bool number_integer(number_integer_t value) override {  // negative: count refuses it
    const Expected expected = next();
    if (expected.is(Kind::integer)) return deliver(expected, std::int64_t{value});
    if (expected.is(Kind::number)) return deliver(expected, static_cast<double>(value));
    return refuse(Reason::wrongShape, expected.tag);
  }
  bool number_unsigned(number_unsigned_t value) override {
    const Expected expected = next();
    if (expected.is(Kind::count)) return deliver(expected, std::uint64_t{value});
    if (expected.is(Kind::integer) &&
        value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return deliver(expected, static_cast<std::int64_t>(value));
    }
    if (expected.is(Kind::number)) return deliver(expected, static_cast<double>(value));
    return refuse(Reason::wrongShape, expected.tag);
  }
  bool number_float(number_float_t value, const string_t&) override {
    return scalar(Kind::number, double{value});
  }
  bool string(string_t& value) override {
    const Expected expected = next();
    if (!expected.is(Kind::string)) return refuse(Reason::wrongShape, expected.tag);
    if (value.size() > expected.shape->limit) return refuse(Reason::tooLong, expected.tag);
    return deliver(expected, std::move(value));
  }
  bool binary(binary_t&) override { return refuse(Reason::wrongShape, 0); }

  bool start_object(std::size_t) override {
    const Expected expected = next();
    if (!expected.is(Kind::object)) return refuse(Reason::wrongShape, expected.tag);
    if (expected.element && sink_.element) sink_.element(expected.tag);
    frames_.push_back(Frame{expected.shape, expected.tag});
    return true;
  }
  bool key(string_t& name) override {
    Frame& frame = frames_.back();
    const auto& keys = frame.shape->keys;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i].name != name) continue;
      if (frame.seen & (std::uint64_t{1} << i)) return refuse(Reason::repeatedKey, keys[i].tag);
      frame.seen |= std::uint64_t{1} << i;
      frame.pending = &keys[i];
      return true;
    }
    return refuse(Reason::wrongShape, frame.tag);
  }
  bool end_object() override {
    const Frame& frame = frames_.back();
    const auto& keys = frame.shape->keys;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i].required && !(frame.seen & (std::uint64_t{1} << i))) {
        return refuse(Reason::missingKey, keys[i].tag);
      }
    }
    frames_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override {
    const Expected expected = next();
    if (!expected.is(Kind::array)) return refuse(Reason::wrongShape, expected.tag);
    frames_.push_back(Frame{expected.shape, expected.tag});
    return true;
  }
  bool end_array() override {
    frames_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return refuse(Reason::notJson, 0);
  }

 private:
  struct Frame {
    const Shape* shape;
    int tag;
    std::uint64_t seen = 0;               // object: a bit per key of the shape
    std::uint64_t elements = 0;           // array: elements so far
    const Shape::Key* pending = nullptr;  // object: the key whose value comes next
  };
  // Where the next value goes: its shape (none when there is no room for it) and tag.
  struct Expected {
    const Shape* shape;
    int tag;
    bool element = false;
    bool is(Kind kind) const { return shape != nullptr && shape->kind == kind; }
  };

  Expected next() {
    if (frames_.empty()) return {&top_, 0};
    Frame& frame = frames_.back();
    if (frame.shape->kind == Kind::object) return {&frame.pending->shape, frame.pending->tag};
    if (++frame.elements > frame.shape->limit) return {nullptr, frame.tag};
    return {&frame.shape->element.front(), frame.tag, true};
  }

  bool scalar(Kind kind, ShapeValue&& value) {
    const Expected expected = next();
    if (!expected.is(kind)) return refuse(Reason::wrongShape, expected.tag);
    return deliver(expected, std::move(value));
  }

  bool deliver(const Expected& expected, ShapeValue&& value) {
    if (sink_.value) sink_.value(expected.tag, std::move(value));
    return true;
  }

  bool refuse(Reason reason, int tag) {
    // An element beyond the array's limit is refused as one too many, whatever its type.
    if (!frames_.empty() && frames_.back().shape->kind == Kind::array &&
        frames_.back().elements > frames_.back().shape->limit) {
      reason = Reason::tooMany;
    }
    const bool element = !frames_.empty() && frames_.back().shape->kind == Kind::array;
    if (!refusal) refusal = ShapeRefusal{reason, tag, element};
    return false;
  }

  const Shape& top_;
  const ShapeSink& sink_;
  std::vector<Frame> frames_;
};

}  // namespace

std::optional<ShapeRefusal> readShape(std::string_view text, const Shape& shape,
                                      const ShapeSink& sink) {
  ShapeHandler handler(shape, sink);
  if (Json::sax_parse(text.begin(), text.end(), &handler)) return std::nullopt;
  return handler.refusal ? handler.refusal : ShapeRefusal{Reason::notJson, 0};
}

}  // namespace quillop
