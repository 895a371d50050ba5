#pragma once
// A small lenient JSON reader and a string escaper. Documents are byte strings (UTF-8 in practice).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace json {

enum class Kind : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

struct Value;
using ValuePtr = std::shared_ptr<Value>;

// Every alternative is present side by side, so callers may walk items or members of any kind.
struct Value {
    Kind kind = Kind::Null;
    bool boolValue = false;
    double number = 0.0;
    std::string text;
    std::vector<ValuePtr> items;
    std::vector<std::pair<std::string, ValuePtr>> members;

    // First member with exactly this key, or null (also for non-objects).
    const Value* find(const char* key) const;
    const Value* at(uint64_t index) const;
    std::string asString(const char* defaultText) const;
    int32_t asInt(int32_t defaultValue) const;
    int64_t asInt64(int64_t defaultValue) const;
    double asDouble(double defaultValue) const;
    bool asBool(bool defaultValue) const;
};

// Every parse creates at most this many values (containers and scalars; object keys do not count).
// 100 000 lean catalogue apps (id, name, one category, hasPackage) take 600 008 values in 7.6 MiB;
// a value costs 144 to 192 bytes of heap, so a hostile document stops near 150 MB of tree.
constexpr size_t kDefaultMaxValues = 800000;

struct ParseLimits {
    size_t maxValues = kDefaultMaxValues;
};

// Parses a whole document; null on any error, also when it holds more values than the limit allows.
// Reads only the given bytes.
ValuePtr parse(const std::string& text, const ParseLimits& limits = {});
ValuePtr parse(const char* data, size_t size, const ParseLimits& limits = {});
// The same; on failure *failedAt holds the offset where reading stopped (where the first problem lies).
ValuePtr parse(const std::string& text, size_t* failedAt, const ParseLimits& limits = {});

// Escapes text for use between double quotes; adds no quotes itself.
std::string escapeString(const std::string& text);

// Length of the number text strtod would accept at the start of [begin, end), or 0.
// Exposed for tests: the parser never lets strtod look past this extent.
size_t numberExtent(const char* begin, const char* end);

}  // namespace json
