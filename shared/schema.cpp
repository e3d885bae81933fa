#include "shared/schema.h"

namespace vantrel {

const KeySchema* findKey(PreferenceFile file, std::string_view key) {
    for (const KeySchema& row : schemaRows(file))
        if (key == row.key) return &row;
    return nullptr;
}

std::optional<int> itemCodeForKey(PreferenceFile file, std::string_view key) {
    if (const KeySchema* row = findKey(file, key)) return row->code;
    if (file == PreferenceFile::IconTester) return ItemCode::IconTesterItem;
    return std::nullopt;
}

std::optional<platform::Value> defaultValue(const KeySchema& row) {
    const KeyDefault& d = row.defaultValue;
    switch (d.kind) {
    case KeyDefault::Kind::Bool: return platform::Value(d.number != 0);
    case KeyDefault::Kind::Integer: return platform::Value(static_cast<long long>(d.number));
    case KeyDefault::Kind::String: return platform::Value(d.text);
    case KeyDefault::Kind::NotInDefaults: break;
    }
    return std::nullopt;
}

const char* typeName(KeyType type) {
    switch (type) {
    case KeyType::Bool: return "bool";
    case KeyType::Integer: return "integer";
    case KeyType::NumberAsInteger: return "number read as integer";
    case KeyType::String: return "string";
    case KeyType::Any: return "any";
    }
    return "any";
}

const char* fileName(PreferenceFile file) {
    switch (file) {
    case PreferenceFile::DataFaker: return "datafaker";
    case PreferenceFile::IconTester: return "icontester";
    case PreferenceFile::Main: break;
    }
    return "main";
}

std::optional<PreferenceFile> fileNamed(std::string_view name) {
    for (PreferenceFile file : kPreferenceFiles)
        if (name == fileName(file)) return file;
    return std::nullopt;
}

std::vector<std::string> settingsPageNames() {
    std::vector<std::string> names;
    names.reserve(std::size(kSettingsPages));
    for (PreferenceFile file : kSettingsPages) names.emplace_back(fileName(file));
    return names;
}

const char* controlName(Control control) {
    switch (control) {
    case Control::Switch: return "switch";
    case Control::List: return "list";
    case Control::TextDialog: return "text dialog";
    case Control::None: break;
    }
    return "none";
}

std::optional<int> postedCode(PreferenceFile file, const KeySchema& row) {
    if (row.control == Control::TextDialog) return row.dialogCode;
    return itemCodeForKey(file, row.key);
}

}  // namespace vantrel
