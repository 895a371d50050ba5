// libFuzzer harness: the JSON reader never reads outside its input, never crashes, and whatever it
// accepts survives the getters; escaped text always parses back to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "json/json.h"

namespace {

void walk(const json::Value& value, int depth) {
    (void)value.asInt(0);
    (void)value.asInt64(0);
    (void)value.asDouble(0);
    (void)value.asBool(false);
    (void)value.asString("");
    (void)value.find("data");
    (void)value.at(0);
    if (depth > 70) __builtin_trap();  // the reader must stop at 64 levels
    for (const auto& item : value.items) walk(*item, depth + 1);
    for (const auto& member : value.members) walk(*member.second, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libFuzzer's buffer ends exactly at the document, so AddressSanitizer catches any read past it.
    const char* begin = reinterpret_cast<const char*>(data);
    if (const json::ValuePtr root = json::parse(begin, size)) walk(*root, 0);
    if (json::numberExtent(begin, begin + size) > size) __builtin_trap();

    const std::string text(begin, size);
    const json::ValuePtr back = json::parse("\"" + json::escapeString(text) + "\"");
    if (!back || back->text != text) __builtin_trap();
    return 0;
}
