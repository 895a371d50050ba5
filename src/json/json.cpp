#include "json/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace json {

const Value* Value::find(const char* key) const {
    const size_t keyLength = std::strlen(key);
    for (const auto& member : members) {
        if (member.first.size() == keyLength && std::memcmp(member.first.data(), key, keyLength) == 0)
            return member.second.get();
    }
    return nullptr;
}

const Value* Value::at(uint64_t index) const {
    if (kind != Kind::Array || index >= items.size()) return nullptr;
    return items[static_cast<size_t>(index)].get();
}

std::string Value::asString(const char* defaultText) const {
    return kind == Kind::String ? text : std::string(defaultText);
}

// NaN becomes 0 and out-of-range values saturate, so the conversion is always defined.
static int64_t saturatingTruncate(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return INT64_MAX;
    if (value <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(value);
}

int32_t Value::asInt(int32_t defaultValue) const {
    if (kind != Kind::Number) return defaultValue;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(saturatingTruncate(number))));
}

int64_t Value::asInt64(int64_t defaultValue) const {
    return kind == Kind::Number ? saturatingTruncate(number) : defaultValue;
}

double Value::asDouble(double defaultValue) const { return kind == Kind::Number ? number : defaultValue; }

bool Value::asBool(bool defaultValue) const { return kind == Kind::Bool ? boolValue : defaultValue; }

namespace {

constexpr int kMaxDepth = 64;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool matchesWordIgnoringCase(const char* p, const char* end, const char* word) {
    for (; *word; ++word, ++p) {
        if (p >= end) return false;
        char c = *p;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *word) return false;
    }
    return true;
}

struct Cursor {
    const char* pos;
    const char* end;
    size_t valuesLeft;
    int depth = 0;
    bool failed = false;
};

void skipWhitespace(Cursor& c) {
    while (c.pos < c.end && (*c.pos == ' ' || *c.pos == '\t' || *c.pos == '\n' || *c.pos == '\r')) ++c.pos;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Reads four bytes as a 16-bit number; any byte that is not a hex digit counts as 0.
uint32_t readHex4Lenient(const char* p) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(p[i]);
        value = (value << 4) | static_cast<uint32_t>(digit < 0 ? 0 : digit);
    }
    return value;
}

void parseUnicodeEscape(Cursor& c, std::string& out) {
    // c.pos stands just after the 'u'.
    if (c.end - c.pos < 4) return;
    uint32_t cp = readHex4Lenient(c.pos);
    c.pos += 4;
    if (cp >= 0xD800 && cp <= 0xDBFF && c.end - c.pos >= 6 && c.pos[0] == '\\' && c.pos[1] == 'u' &&
        isHexDigit(c.pos[2]) && isHexDigit(c.pos[3]) && isHexDigit(c.pos[4]) && isHexDigit(c.pos[5])) {
        const uint32_t low = readHex4Lenient(c.pos + 2);
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        c.pos += 6;
    }
    appendUtf8(out, cp);
}

std::string parseString(Cursor& c) {
    std::string out;
    ++c.pos;  // opening quote
    while (c.pos < c.end) {
        const char ch = *c.pos;
        if (ch == '"') {
            ++c.pos;
            return out;
        }
        if (ch != '\\') {
            out += ch;
            ++c.pos;
            continue;
        }
        if (c.end - c.pos < 2) {  // a backslash as the very last byte ends the string
            c.pos = c.end;
            return out;
        }
        const char esc = c.pos[1];
        c.pos += 2;
        switch (esc) {
            case 'b': out += '\x08'; break;
            case 'f': out += '\x0C'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': parseUnicodeEscape(c, out); break;
            default: out += esc; break;  // covers '"', '\\', '/' and any other byte
        }
    }
    return out;  // unterminated: the text so far
}

ValuePtr parseValue(Cursor& c);

ValuePtr fail(Cursor& c) {
    c.failed = true;
    return nullptr;
}

// A fresh value of this kind, or null (and the parse fails) once the document has used up its values.
ValuePtr newValue(Cursor& c, Kind kind) {
    if (c.valuesLeft == 0) return fail(c);
    --c.valuesLeft;
    auto value = std::make_shared<Value>();
    value->kind = kind;
    return value;
}

ValuePtr parseArray(Cursor& c) {
    if (++c.depth > kMaxDepth) return fail(c);
    ValuePtr array = newValue(c, Kind::Array);
    if (!array) return nullptr;
    ++c.pos;
    skipWhitespace(c);
    if (c.pos < c.end && *c.pos == ']') {
        ++c.pos;
        --c.depth;
        return array;
    }
    for (;;) {
        ValuePtr item = parseValue(c);
        if (!item || c.failed) return fail(c);
        array->items.push_back(std::move(item));
        skipWhitespace(c);
        if (c.pos >= c.end) return fail(c);
        if (*c.pos == ',') {
            ++c.pos;
            continue;
        }
        if (*c.pos == ']') {
            ++c.pos;
            --c.depth;
            return array;
        }
        return fail(c);
    }
}

ValuePtr parseObject(Cursor& c) {
    if (++c.depth > kMaxDepth) return fail(c);
    ValuePtr object = newValue(c, Kind::Object);
    if (!object) return nullptr;
    ++c.pos;
    skipWhitespace(c);
    if (c.pos < c.end && *c.pos == '}') {
        ++c.pos;
        --c.depth;
        return object;
    }
    for (;;) {
        skipWhitespace(c);
        if (c.pos >= c.end || *c.pos != '"') return fail(c);
        std::string key = parseString(c);
        skipWhitespace(c);
        if (c.pos >= c.end || *c.pos != ':') return fail(c);
        ++c.pos;
        ValuePtr value = parseValue(c);
        if (!value || c.failed) return fail(c);
        object->members.emplace_back(std::move(key), std::move(value));
        skipWhitespace(c);
        if (c.pos >= c.end) return fail(c);
        if (*c.pos == ',') {
            ++c.pos;
            continue;
        }
        if (*c.pos == '}') {
            ++c.pos;
            --c.depth;
            return object;
        }
        return fail(c);
    }
}

ValuePtr parseNumber(Cursor& c) {
    // strtod only ever sees a bounded, NUL-terminated copy of the number's extent.
    const size_t extent = numberExtent(c.pos, c.end);
    if (extent == 0) return fail(c);
    const std::string copy(c.pos, extent);
    char* stop = nullptr;
    const double number = std::strtod(copy.c_str(), &stop);
    const size_t consumed = static_cast<size_t>(stop - copy.c_str());
    if (consumed == 0) return fail(c);
    ValuePtr value = newValue(c, Kind::Number);
    if (!value) return nullptr;
    c.pos += consumed;
    value->number = number;
    return value;
}

ValuePtr parseValue(Cursor& c) {
    skipWhitespace(c);
    if (c.pos >= c.end) return fail(c);
    const char ch = *c.pos;
    const size_t remaining = static_cast<size_t>(c.end - c.pos);
    switch (ch) {
        case '"': {
            ValuePtr value = newValue(c, Kind::String);
            if (value) value->text = parseString(c);
            return value;
        }
        case '[': return parseArray(c);
        case '{': return parseObject(c);
        case 't':
        case 'f': {
            ValuePtr value = newValue(c, Kind::Bool);
            if (!value) return nullptr;
            if (remaining >= 4 && std::memcmp(c.pos, "true", 4) == 0) {
                value->boolValue = true;
                c.pos += 4;
                return value;
            }
            if (remaining >= 5 && std::memcmp(c.pos, "false", 5) == 0) {
                c.pos += 5;
                return value;
            }
            return fail(c);
        }
        case 'n':
            if (remaining >= 4 && std::memcmp(c.pos, "null", 4) == 0) {
                c.pos += 4;
                return newValue(c, Kind::Null);
            }
            return fail(c);
        default: return parseNumber(c);
    }
}

size_t scanDigits(const char* p, const char* end, bool hex) {
    size_t n = 0;
    while (p + n < end && (hex ? isHexDigit(p[n]) : isDigit(p[n]))) ++n;
    return n;
}

// Length of "[eE][+-]?digits" (or p/P for hex) at p, or 0 when it is not complete.
size_t exponentExtent(const char* p, const char* end, char lower, char upper) {
    if (p >= end || (*p != lower && *p != upper)) return 0;
    size_t n = 1;
    if (p + n < end && (p[n] == '+' || p[n] == '-')) ++n;
    const size_t digits = scanDigits(p + n, end, false);
    return digits == 0 ? 0 : n + digits;
}

}  // namespace

size_t numberExtent(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && isCSpace(*p)) ++p;  // strtod skips C white space itself
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p >= end) return 0;

    if (matchesWordIgnoringCase(p, end, "infinity")) return static_cast<size_t>(p + 8 - begin);
    if (matchesWordIgnoringCase(p, end, "inf")) return static_cast<size_t>(p + 3 - begin);
    if (matchesWordIgnoringCase(p, end, "nan")) {
        p += 3;
        // strtod decides what a NaN payload holds, but it only sees one that is closed.
        if (p < end && *p == '(') {
            const char* q = p + 1;
            while (q < end && *q != ')' && *q != '\0') ++q;
            if (q < end && *q == ')') p = q + 1;
        }
        return static_cast<size_t>(p - begin);
    }

    if (p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        const char* q = p + 2;
        const size_t whole = scanDigits(q, end, true);
        q += whole;
        size_t fraction = 0;
        if (q < end && *q == '.') {
            fraction = scanDigits(q + 1, end, true);
            if (whole + fraction > 0) q += 1 + fraction;
        }
        if (whole + fraction > 0) {
            q += exponentExtent(q, end, 'p', 'P');
            return static_cast<size_t>(q - begin);
        }
        return static_cast<size_t>(p + 1 - begin);  // just the "0"
    }

    const size_t whole = scanDigits(p, end, false);
    const char* q = p + whole;
    size_t fraction = 0;
    if (q < end && *q == '.') {
        fraction = scanDigits(q + 1, end, false);
        if (whole + fraction > 0) q += 1 + fraction;
    }
    if (whole + fraction == 0) return 0;
    q += exponentExtent(q, end, 'e', 'E');
    return static_cast<size_t>(q - begin);
}

ValuePtr parse(const std::string& text, const ParseLimits& limits) { return parse(text.data(), text.size(), limits); }

namespace {

ValuePtr parseDocument(Cursor& c, size_t size) {
    if (size >= 3 && static_cast<unsigned char>(c.pos[0]) == 0xEF && static_cast<unsigned char>(c.pos[1]) == 0xBB &&
        static_cast<unsigned char>(c.pos[2]) == 0xBF)
        c.pos += 3;
    ValuePtr root = parseValue(c);
    if (c.failed || !root) return nullptr;
    skipWhitespace(c);
    if (c.pos != c.end) return nullptr;
    return root;
}

}  // namespace

ValuePtr parse(const char* data, size_t size, const ParseLimits& limits) {
    Cursor c{data, data + size, limits.maxValues};
    return parseDocument(c, size);
}

ValuePtr parse(const std::string& text, size_t* failedAt, const ParseLimits& limits) {
    Cursor c{text.data(), text.data() + text.size(), limits.maxValues};
    ValuePtr root = parseDocument(c, text.size());
    if (!root && failedAt) *failedAt = static_cast<size_t>(c.pos - text.data());
    return root;
}

std::string escapeString(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (const char ch : text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        switch (ch) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (byte < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
                    out += buffer;
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

}  // namespace json
