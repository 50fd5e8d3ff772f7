// Reading JSON that comes from outside against the one shape its file may have, event by event.
//
// A `Shape` describes a value: an object with known keys, an array of one element shape with a
// most number of elements, or a scalar (a string of a most length, a boolean, a non-negative
// integer, an integer, any number). `readShape` runs nlohmann's event parser over the text and
// refuses at the first event that breaks the shape: an unknown or repeated key, a value of the
// wrong type, nesting deeper than the shape, one element too many, a string too long, a required
// key missing when its object ends. Nothing is built but the values handed to the caller, so time
// is linear in the text and memory bounded by the longest string the shape admits, whatever the
// text's nesting or count. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillop {

struct Shape {
  enum class Kind { object, array, string, boolean, count, integer, number };
  struct Key;

  Kind kind = Kind::object;
  std::uint64_t limit = 0;     // string: most bytes; array: most elements
  std::vector<Key> keys;       // object: its keys, each at most once
  std::vector<Shape> element;  // array: the one shape of its elements

  static Shape object(std::initializer_list<Key> keys);
  static Shape array(std::uint64_t most, Shape element);
  static Shape string(std::uint64_t most);
  static Shape boolean();
  static Shape count();    // 0 to 2^64 - 1
  static Shape integer();  // signed 64-bit
  static Shape number();   // any, as a double
};

struct Shape::Key {
  std::string_view name;
  Shape shape;
  int tag = 0;  // the caller's name for the values under this key
  bool required = true;
};

// A scalar as the shape says it: string, boolean, count, integer or number.
using ShapeValue = std::variant<std::string, bool, std::uint64_t, std::int64_t, double>;

// What the reader hands out while it reads. `value` gets every scalar under the key tagged `tag`
// (for the elements of an array, the array's key); `element` is told when an object element of
// the array under `tag` begins, so the caller can start a record. Either may throw to refuse the
// text with a message of its own; that exception leaves readShape unchanged.
struct ShapeSink {
  std::function<void(int tag, ShapeValue&& value)> value;
  std::function<void(int tag)> element;
};

// Moves a value handed out by the reader into the field it belongs in; the shape has already
// checked that it holds the field's type.
template <typename T>
void take(T& field, ShapeValue& value) {
  field = std::get<T>(std::move(value));
}
template <typename T>
void take(std::optional<T>& field, ShapeValue& value) {
  field = std::get<T>(std::move(value));
}

// Why a text was refused; `tag` names the key where the text broke its shape (0 at the top).
struct ShapeRefusal {
  enum class Reason { notJson, wrongShape, repeatedKey, missingKey, tooMany, tooLong };
  Reason reason;
  int tag = 0;
  bool element = false;  // the value in question was an element of the array under `tag`
};

// Reads `text` against `shape`, handing out its values through `sink`. Returns the refusal, or
// nothing when the whole text is one value of the shape (whitespace around it allowed).
std::optional<ShapeRefusal> readShape(std::string_view text, const Shape& shape,
                                      const ShapeSink& sink);

}  // namespace quillop
