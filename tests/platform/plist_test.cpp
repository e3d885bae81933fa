#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"

using namespace platform;

namespace {

std::string tempDir() {
    char tmpl[] = "/tmp/vantrel-plist-XXXXXX";
    return mkdtemp(tmpl);
}

Dictionary sample() {
    return Dictionary{{"flag", true},     {"off", false},      {"mode", 5},           {"negative", -3},
                      {"big", 1LL << 40}, {"ratio", 0.25},     {"text", "'_Quennick_'"}, {"note", "♫ Stopped!"},
                      {"emoji", "😀"},    {"list", Array{1, "two"}}, {"nested", Dictionary{{"a", 1}}},
                      {"blob", Data{{0, 1, 2}}}, {"when", Date{1000}}, {"unsigned", Value::unsignedInteger(~uint64_t{0})}};
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

TEST(PropertyList, MalformedInputGivesNothing) {
    auto good = *serializeBinaryPropertyList(Value(sample()));
    std::vector<std::vector<uint8_t>> corpus = {
        {},
        {'b', 'p', 'l', 'i', 's', 't', '0', '0'},
        std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),
        std::vector<uint8_t>(100, 0xFF),
    };
    std::string badXml = "<?xml version=\"1.0\"?><plist><dict><key>a</key><true/></plist>";
    corpus.emplace_back(badXml.begin(), badXml.end());
    std::string deep = "<plist>" + std::string(""), tail;
    for (int i = 0; i < 5000; ++i) deep += "<array>", tail += "</array>";
    deep += tail + "</plist>";
    corpus.emplace_back(deep.begin(), deep.end());
    for (size_t i = 0; i < corpus.size(); ++i) EXPECT_FALSE(parsePropertyList(corpus[i])) << "case " << i;
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
    for (size_t cut : {good.size() - 1, good.size() - 33, size_t{20}}) inputs.emplace_back(good.begin(), good.begin() + static_cast<long>(cut));
    for (size_t i = 8; i < good.size(); i += 7) {
        auto flipped = good;
        flipped[i] ^= 0x5A;
        inputs.push_back(flipped);
    }
    auto xml = *serializeXmlPropertyList(Value(sample()));
    inputs.emplace_back(xml.begin(), xml.end());
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
