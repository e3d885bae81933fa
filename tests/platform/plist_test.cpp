#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "tests/scratch.h"

using namespace platform;

namespace {

// `depth` arrays, each holding the next, the innermost empty, written as a binary list by hand
// (the writer refuses lists deeper than the limit).
std::string binaryNested(int depth) {
    std::string b = "bplist00";
    std::vector<size_t> offsets;
    for (int i = 0; i < depth; ++i) {
        offsets.push_back(b.size());
        b += i + 1 < depth ? std::string{'\xA1', static_cast<char>(i + 1)} : std::string{'\xA0'};
    }
    const size_t table = b.size();
    for (size_t o : offsets) b += {static_cast<char>(o >> 8), static_cast<char>(o & 0xFF)};
    std::string trailer(32, '\0');
    trailer[6] = 2;                               // offset size
    trailer[7] = 1;                               // reference size
    trailer[15] = static_cast<char>(depth);       // objects; the top one is 0
    trailer[30] = static_cast<char>(table >> 8);  // where the offsets start
    trailer[31] = static_cast<char>(table & 0xFF);
    return b + trailer;
}

std::string tempDir() { return vantrel::test::scratchFolder("vantrel-plist"); }

Dictionary sample() {
    return Dictionary{{"flag", true},
                      {"off", false},
                      {"mode", 5},
                      {"negative", -3},
                      {"big", 1LL << 40},
                      {"ratio", 0.25},
                      {"text", "'_Quennick_'"},
                      {"note", "♫ Stopped!"},
                      {"emoji", "😀"},
                      {"list", Array{1, "two"}},
                      {"nested", Dictionary{{"a", 1}}},
                      {"blob", Data{{0, 1, 2}}},
                      {"when", Date{1000}},
                      {"unsigned", Value::unsignedInteger(~uint64_t{0})}};
}

}  // namespace

TEST(PropertyList, BinaryRoundTripKeepsEveryKind) {
    auto bytes = serializeBinaryPropertyList(Value(sample()));
    ASSERT_TRUE(bytes);
    ASSERT_GE(bytes->size(), 8u);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
    auto back = parsePropertyList(*bytes);
    ASSERT_TRUE(back && back->isDictionary());
    EXPECT_EQ(*back->dictionary(), sample());
}

TEST(PropertyList, XmlIsReadToo) {
    auto xml = serializeXmlPropertyList(Value(sample()));
    ASSERT_TRUE(xml);
    auto back = parsePropertyList({reinterpret_cast<const uint8_t*>(xml->data()), xml->size()});
    ASSERT_TRUE(back && back->isDictionary());
    EXPECT_EQ(*back->dictionary(), sample());
}

// Every encoding in one table: what each accepts, and malformed input that must give nothing.
TEST(PropertyList, ReadsEachEncodingAndRefusesMalformedInput) {
    auto good = *serializeBinaryPropertyList(Value(sample()));
    auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '(') + std::string(static_cast<size_t>(depth), ')');
    };
    std::string deepXml = "<plist>", tail;
    for (int i = 0; i < 5000; ++i) deepXml += "<array>", tail += "</array>";
    deepXml += tail + "</plist>";
    Value deepest = Array{};
    for (int i = 1; i < 129; ++i) deepest = Value(Array{deepest});
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<Value> expected;  // nullopt: refused
    };
    const Case cases[] = {
        {"empty", "", std::nullopt},
        {"binary header alone", "bplist00", std::nullopt},
        {"binary cut in half", std::string(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), std::nullopt},
        {"binary garbage", std::string(100, '\xFF'), std::nullopt},
        {"xml unclosed dict", "<?xml version=\"1.0\"?><plist><dict><key>a</key><true/></plist>", std::nullopt},
        {"xml too deep", deepXml, std::nullopt},
        {"text dictionary", "{ a = 1; \"b c\" = 'x y'; d = <0fbd 77>; e = (1, two, ); f = {}; }",
         Value(Dictionary{
             {"a", "1"}, {"b c", "x y"}, {"d", Data{{0x0F, 0xBD, 0x77}}}, {"e", Array{"1", "two"}}, {"f", Dictionary{}}})},
        {"text escapes", R"("\U00e9\101\t\"\\\q")",
         Value("\xC3\xA9"
               "A\t\"\\q")},
        {"text surrogates", R"(("\UD83D\UDE00", "\UD83D"))", Value(Array{"\xF0\x9F\x98\x80", "\xEF\xBF\xBD"})},
        {"text comments and BOM", "\xEF\xBB\xBF// head\n{ /* c */ a = b; } // end", Value(Dictionary{{"a", "b"}})},
        {"text root data", " <00 ff>", Value(Data{{0x00, 0xFF}})},
        {"text root string", "$unquoted/path:1.2-x_", Value("$unquoted/path:1.2-x_")},
        {"text a repeated key: the last holds", "{ a = 1; a = 2; }", Value(Dictionary{{"a", "2"}})},
        {"text at the depth limit", nested(129), deepest},
        {"text past the depth limit", nested(130), std::nullopt},
        {"binary at the depth limit", binaryNested(129), deepest},
        {"binary past the depth limit", binaryNested(130), std::nullopt},
        {"text missing semicolon", "{ a = 1 }", std::nullopt},
        {"text missing value", "{ a = ; }", std::nullopt},
        {"text key not a string", "{ (a) = b; }", std::nullopt},
        {"text array without commas", "( a b )", std::nullopt},
        {"text unclosed string", "\"open", std::nullopt},
        {"text unclosed data", "<0f", std::nullopt},
        {"text half a byte", "<0fb>", std::nullopt},
        {"text data not hex", "<0g>", std::nullopt},
        {"text unclosed comment", "{} /* open", std::nullopt},
        {"text octal past ASCII", R"("\377")", std::nullopt},
        {"text invalid UTF-8", "\"\xFF\"", std::nullopt},
        {"text trailing garbage", "{ a = 1; } }", std::nullopt},
        {"text over the size cap", "\"" + std::string(kMaxPropertyListFileSize, 'a') + "\"", std::nullopt},
    };
    for (const auto& c : cases) {
        auto got = parsePropertyList({reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()});
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.name;
        if (got) {
            EXPECT_EQ(*got, *c.expected) << c.name;
        }
    }
}

TEST(PropertyListFile, AtomicWriteThenReadBack) {
    std::string dir = tempDir();
    std::string path = dir + "/a.plist";
    ASSERT_TRUE(writeDictionaryFile(path, sample()));
    auto back = readDictionaryFile(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, sample());
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IWOTH, 0u);
    // Root not a dictionary, or a folder in the file's place: no dictionary.
    auto arr = serializeBinaryPropertyList(Value(Array{1, 2}));
    ASSERT_TRUE(writeFileAtomically(path, *arr));
    EXPECT_FALSE(readDictionaryFile(path));
    EXPECT_FALSE(readDictionaryFile(dir));
    EXPECT_FALSE(writeDictionaryFile(dir + "/missing/a.plist", sample()));
    std::system(("rm -rf " + dir).c_str());
}

// The key-only read answers exactly as the full read for the keys it is asked, and refuses
// exactly what the full read refuses.
TEST(PropertyList, KeyOnlyReadAgreesWithTheFullRead) {
    auto good = *serializeBinaryPropertyList(Value(sample()));
    std::vector<std::string_view> keys = {"flag", "mode", "missing", "nested", "emoji"};
    std::vector<std::vector<uint8_t>> inputs = {good};
    for (size_t cut : {good.size() - 1, good.size() - 33, size_t{20}})
        inputs.emplace_back(good.begin(), good.begin() + static_cast<long>(cut));
    for (size_t i = 8; i < good.size(); i += 7) {
        auto flipped = good;
        flipped[i] ^= 0x5A;
        inputs.push_back(flipped);
    }
    auto xml = *serializeXmlPropertyList(Value(sample()));
    inputs.emplace_back(xml.begin(), xml.end());
    for (std::string text : {"{ flag = 1; nested = { a = b; }; other = (x); }", "{ flag = 1 }", "(flag)"})
        inputs.emplace_back(text.begin(), text.end());
    inputs.push_back(*serializeBinaryPropertyList(Value(Array{1, 2})));
    for (size_t i = 0; i < inputs.size(); ++i) {
        auto full = parsePropertyList(inputs[i]);
        auto part = parsePropertyListKeys(inputs[i], keys);
        bool fullIsDict = full && full->isDictionary();
        ASSERT_EQ(fullIsDict, part.has_value()) << "input " << i;
        if (!part) continue;
        for (auto k : keys) {
            const Value* a = lookup(*full->dictionary(), std::string(k));
            const Value* b = lookup(*part, std::string(k));
            ASSERT_EQ(a != nullptr, b != nullptr) << "input " << i << " key " << k;
            if (a) {
                EXPECT_EQ(*a, *b) << "input " << i << " key " << k;
            }
        }
        EXPECT_LE(part->size(), keys.size());
    }
}
