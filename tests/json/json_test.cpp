#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/json.h"

namespace {

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

std::string nested(int depth, char open, char close) { return std::string(depth, open) + std::string(depth, close); }

TEST(JsonParse, AcceptsOrRejectsWholeDocuments) {
    struct Case {
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {"", false},
        {" \t\r\n", false},
        {"  true  ", true},
        {"true x", false},
        {"tru", false},
        {"nan", false},
        {"[1,]", false},
        {"{\"a\":1,}", false},
        {"{a:1}", false},
        {"{,}", false},
        {"[ ]", true},
        {"{ \n }", true},
        {"[1 2]", false},
        {"{\"a\" 1}", false},
        {"\f1", true},          // strtod skips a form feed itself
        {"1\f", false},         // but it is not JSON white space after a value
        {"[\"abc", false},      // unterminated string inside an array
        {"{\"abc", false},      // unterminated key
        {"\"abc", true},        // unterminated string at top level is a document
        {"]", false},
        {"[,1]", false},
        {"{\"a\":}", false},
        {"\xEF\xBB\xBF", false},
        {"\xEF\xBB\xBF{}", true},
        {"\xEF\xBB", false},
        {"fals", false},
        {"ttrue", false},
        {"false", true},
    };
    for (const Case& c : cases) EXPECT_EQ(json::parse(c.text) != nullptr, c.ok) << "document: " << c.text;
}

// Where reading stopped, for a message that names the first problem.
TEST(JsonParse, AFailureTellsWhereReadingStopped) {
    const std::pair<std::string, size_t> cases[] = {
        {"", 0}, {"[1,]", 3}, {"{\"a\":1 \"b\"}", 7}, {"true x", 5}, {"\xEF\xBB\xBF[1 2]", 6}, {"[\"abc", 5},
    };
    for (const auto& [text, offset] : cases) {
        size_t failedAt = 99;
        EXPECT_EQ(json::parse(text, &failedAt), nullptr) << text;
        EXPECT_EQ(failedAt, offset) << text;
    }
    size_t untouched = 99;
    EXPECT_NE(json::parse(std::string("[1]"), &untouched), nullptr);
    EXPECT_EQ(untouched, 99u);
}

TEST(JsonParse, EitherLetterAcceptsEitherWordAndTheNextByteIsJudgedByTheEnclosingLevel) {
    auto v = json::parse("[ffalse]");
    EXPECT_EQ(v, nullptr);
    v = json::parse("[true,false,null]");
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->items.size(), 3u);
    EXPECT_TRUE(v->items[0]->boolValue);
    EXPECT_EQ(v->items[1]->kind, json::Kind::Bool);
    EXPECT_FALSE(v->items[1]->boolValue);
    EXPECT_EQ(v->items[2]->kind, json::Kind::Null);
    EXPECT_EQ(json::parse("truex"), nullptr);
    ASSERT_NE(json::parse("t" "rue"), nullptr);
    EXPECT_EQ(json::parse("f" "rue"), nullptr);  // 'f' accepts "true" only when the bytes read "true"
}

TEST(JsonParse, NestingLimitIsSixtyFourLevels) {
    EXPECT_NE(json::parse(nested(64, '[', ']')), nullptr);
    EXPECT_EQ(json::parse(nested(65, '[', ']')), nullptr);
    std::string objects;
    for (int i = 0; i < 63; ++i) objects += "{\"k\":";
    objects += "[]";
    for (int i = 0; i < 63; ++i) objects += "}";
    EXPECT_NE(json::parse(objects), nullptr);
    EXPECT_EQ(json::parse("[" + objects + "]"), nullptr);
    // Depth is restored after each closed container, so siblings do not add up.
    EXPECT_NE(json::parse("[" + nested(63, '[', ']') + "," + nested(63, '[', ']') + "]"), nullptr);
}

// Every value counts, containers and scalars alike; object keys do not.
TEST(JsonParse, StopsAtTheValueLimit) {
    struct Case {
        const char* document;
        size_t values;
    };
    const Case cases[] = {
        {"7", 1},
        {"[]", 1},
        {"[1,\"a\",true,null]", 5},
        {"{\"k\":1,\"l\":{}}", 3},
        {"[[[]],{\"a\":[false]}]", 6},
    };
    for (const Case& c : cases) {
        EXPECT_NE(json::parse(c.document, json::ParseLimits{c.values}), nullptr) << c.document;
        EXPECT_EQ(json::parse(c.document, json::ParseLimits{c.values - 1}), nullptr) << c.document;
    }

    // Every caller gets the default limit: an array holding it in total parses, one more value fails.
    std::string zeros = "[";
    for (size_t i = 1; i < json::kDefaultMaxValues; ++i) zeros += i == 1 ? "0" : ",0";
    zeros += "]";
    const json::ValuePtr full = json::parse(zeros);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->items.size(), json::kDefaultMaxValues - 1);
    zeros.insert(1, "0,");
    EXPECT_EQ(json::parse(zeros), nullptr);
    EXPECT_EQ(json::parse(zeros.data(), zeros.size()), nullptr);
}

TEST(JsonParse, StringEscapes) {
    struct Case {
        std::string document;
        std::string expected;
    };
    const Case cases[] = {
        {"\"\\u00e9\"", bytes({0xC3, 0xA9})},
        {"\"\\u00E9\"", bytes({0xC3, 0xA9})},
        {"\"\\ud83d\\ude00\"", bytes({0xF0, 0x9F, 0x98, 0x80})},
        {"\"\\ud83d\"", bytes({0xED, 0xA0, 0xBD})},
        {"\"\\ud83dA\"", bytes({0xED, 0xA0, 0xBD, 'A'})},
        {"\"\\ud83d\\u0041\"", bytes({0xF0, 0x91, 0xA1, 0x81})},       // no low-surrogate range check
        {"\"\\ud83d\\u00G1\"", bytes({0xED, 0xA0, 0xBD, 0x01})},       // invalid digit cancels the pair
        {"\"\\ude00\"", bytes({0xED, 0xB8, 0x80})},                     // lone low surrogate
        {"\"\\u12G4\"", bytes({0xE1, 0x88, 0x84})},                     // G reads as 0
        {"\"\\u0000x\"", std::string("\0x", 2)},
        {"\"\\u12", "12"},                                              // too short: the escape vanishes
        {"\"\\q\\/\\\\\\\"\"", "q/\\\""},
        {"\"\\b\\f\\n\\r\\t\"", "\b\f\n\r\t"},
        {"\"a\\", "a"},                                                 // backslash as the last byte
        {"\"raw\x01\xFF\"", "raw\x01\xFF"},
        {"\"\\u007f\"", "\x7F"},
        {"\"\\u0800\"", bytes({0xE0, 0xA0, 0x80})},
        {"\"\\u07ff\"", bytes({0xDF, 0xBF})},
    };
    for (const Case& c : cases) {
        const json::ValuePtr v = json::parse(c.document);
        ASSERT_NE(v, nullptr) << c.document;
        EXPECT_EQ(v->kind, json::Kind::String);
        EXPECT_EQ(v->text, c.expected) << c.document;
    }
}

TEST(JsonParse, NumbersAsStrtodReadsThem) {
    struct Case {
        const char* document;
        bool ok;
        double expected;
    };
    const Case cases[] = {
        {"+5", true, 5},        {"007", true, 7},      {"0x10", true, 16},       {"0x1A", true, 26},
        {".5", true, 0.5},      {"5.", true, 5},       {"1e3", true, 1000},      {"-2.5E-1", true, -0.25},
        {"3.9", true, 3.9},     {"0x1p4", true, 16},   {"0x.8p1", true, 1},      {"1.5e308", true, 1.5e308},
        {"[ -1 , 2 ]", true, 0},
        // strtod leaves these tails unread, so they are trailing garbage.
        {"1e", false, 0},       {"0x", false, 0},      {"[1e+]", false, 0},      {"1.2.3", false, 0},
        {"-", false, 0},        {"+", false, 0},       {".", false, 0},          {"e5", false, 0},
    };
    for (const Case& c : cases) {
        const json::ValuePtr v = json::parse(c.document);
        ASSERT_EQ(v != nullptr, c.ok) << c.document;
        if (!v || v->kind == json::Kind::Array) continue;
        EXPECT_EQ(v->kind, json::Kind::Number);
        EXPECT_DOUBLE_EQ(v->number, c.expected) << c.document;
    }
    auto inf = json::parse("inf");
    ASSERT_NE(inf, nullptr);
    EXPECT_TRUE(std::isinf(inf->number));
    auto infinity = json::parse("-Infinity");
    ASSERT_NE(infinity, nullptr);
    EXPECT_TRUE(std::isinf(infinity->number) && infinity->number < 0);
    auto nan = json::parse("-nan");
    ASSERT_NE(nan, nullptr);
    EXPECT_TRUE(std::isnan(nan->number));
    auto payload = json::parse("[+nan(123),1]");
    ASSERT_NE(payload, nullptr);
    EXPECT_TRUE(std::isnan(payload->items[0]->number));
    EXPECT_EQ(payload->items[1]->number, 1);
}

// An unclosed NaN payload at the end of a document must not let strtod read beyond the text.
TEST(JsonParse, UnclosedNanPayloadStaysInsideTheDocument) {
    // The document sits at the very end of a committed page followed by an inaccessible one,
    // so a read past its last byte faults.
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    char* base = static_cast<char*>(::VirtualAlloc(nullptr, page * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(base + page, page, PAGE_NOACCESS, &old));
    const char* documents[] = {"-nan(", "+nan(abc", "-nan(12", "-nan(0x1f", "+NaN(("};
    for (const char* doc : documents) {
        const size_t n = std::strlen(doc);
        char* start = base + page - n;
        std::memcpy(start, doc, n);
        const json::ValuePtr v = json::parse(std::string(start, n));  // the copy is also exactly n bytes
        EXPECT_EQ(v, nullptr) << doc;
        EXPECT_EQ(json::numberExtent(start, start + n) <= n, true);
        EXPECT_EQ(json::numberExtent(start, start + n) >= 4, true) << doc;  // the sign and "nan" still count
    }
    ::VirtualFree(base, 0, MEM_RELEASE);
    EXPECT_EQ(json::parse("[1,-nan(12"), nullptr);
    EXPECT_NE(json::parse("[1,-nan(12)]"), nullptr);
}

TEST(JsonParse, NumberExtentMatchesWhatStrtodConsumes) {
    const char* texts[] = {"123abc", "-0x1fz", "0x", "1e+", "1e+5x", ".e1", "+.5e-3,", "infinityx", "infx",
                           "-nan(7)x", "nan(", "12.34.56", "0x1.8p+1q", "0X1P", "\v\f 42", "1.", "-", "+."};
    for (const char* text : texts) {
        char* stop = nullptr;
        std::strtod(text, &stop);
        const size_t consumed = static_cast<size_t>(stop - text);
        const size_t extent = json::numberExtent(text, text + std::strlen(text));
        EXPECT_GE(extent, consumed) << text;
        // Converting the bounded copy consumes exactly what strtod consumes on the whole text.
        const std::string copy(text, extent);
        char* copyStop = nullptr;
        std::strtod(copy.c_str(), &copyStop);
        EXPECT_EQ(static_cast<size_t>(copyStop - copy.c_str()), consumed) << text;
    }
}

TEST(JsonParse, ObjectsKeepEveryMemberInOrder) {
    const json::ValuePtr v = json::parse("{\"a\":1,\"b\":[true],\"a\":2}");
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->members.size(), 3u);
    EXPECT_EQ(v->members[2].first, "a");
    ASSERT_NE(v->find("a"), nullptr);
    EXPECT_EQ(v->find("a")->number, 1);
    EXPECT_EQ(v->find("c"), nullptr);
    EXPECT_EQ(v->find("b")->at(0)->boolValue, true);
    EXPECT_EQ(v->find("b")->at(1), nullptr);
    EXPECT_EQ(v->at(0), nullptr);  // not an array
    const json::ValuePtr withNul = json::parse(std::string("{\"a\\u0000b\":1}"));
    ASSERT_NE(withNul, nullptr);
    EXPECT_EQ(withNul->find("a"), nullptr);  // keys compare by length and bytes
}

TEST(JsonGetters, ReturnDefaultsForOtherKindsAndStayDefined) {
    const json::ValuePtr v = json::parse("[3.9,-3.9,1,\"s\",true,-nan,inf,-inf,1e300,-1e300,4294967297,2147483648]");
    ASSERT_NE(v, nullptr);
    auto at = [&](int i) { return v->at(static_cast<uint64_t>(i)); };
    EXPECT_EQ(at(0)->asInt(0), 3);
    EXPECT_EQ(at(1)->asInt(0), -3);
    EXPECT_EQ(at(2)->asBool(false), false);
    EXPECT_EQ(at(2)->asString(""), "");
    EXPECT_EQ(at(3)->asString("d"), "s");
    EXPECT_EQ(at(3)->asInt(7), 7);
    EXPECT_EQ(at(4)->asBool(false), true);
    EXPECT_EQ(at(4)->asDouble(1.5), 1.5);
    // NaN gives 0; the infinities and huge values saturate before the low 32 bits are taken.
    EXPECT_EQ(at(5)->asInt(9), 0);
    EXPECT_EQ(at(5)->asInt64(9), 0);
    EXPECT_EQ(at(6)->asInt64(0), INT64_MAX);
    EXPECT_EQ(at(7)->asInt64(0), INT64_MIN);
    EXPECT_EQ(at(8)->asInt64(0), INT64_MAX);
    EXPECT_EQ(at(9)->asInt64(0), INT64_MIN);
    EXPECT_EQ(at(6)->asInt(0), -1);  // low 32 bits of INT64_MAX
    EXPECT_EQ(at(7)->asInt(0), 0);   // low 32 bits of INT64_MIN
    EXPECT_EQ(at(10)->asInt(0), 1);
    EXPECT_EQ(at(11)->asInt(0), INT32_MIN);
    json::Value fresh;
    EXPECT_EQ(fresh.kind, json::Kind::Null);
    EXPECT_EQ(fresh.asInt64(-4), -4);
}

TEST(JsonEscape, EscapesControlBytesQuotesAndBackslashes) {
    const std::string input = std::string("a\"b\\c\n\t") + '\x01' + '\x7F' + "/\b\x1F\r" + "\xE4\xB8\xAD";
    EXPECT_EQ(json::escapeString(input), std::string("a\\\"b\\\\c\\n\\t\\u0001\x7F/\\u0008\\u001f\\r\xE4\xB8\xAD"));
    EXPECT_EQ(json::escapeString(std::string("\0", 1)), "\\u0000");
    EXPECT_EQ(json::escapeString(""), "");
    // What the escaper writes, the parser reads back unchanged.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const json::ValuePtr back = json::parse("\"" + json::escapeString(all) + "\"");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->text, all);
}

}  // namespace
