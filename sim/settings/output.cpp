#include "sim/settings/output.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/uikit/alert.h"
#include "sim/settings/values.h"

namespace vantrel::sim {
namespace {

std::string valueText(const platform::PSValue& v, bool quote = true) {
    if (!v) return "(none)";
    if (auto b = v->boolean()) return *b ? "true" : "false";
    if (auto i = v->integer()) return std::to_string(*i);
    if (auto d = v->real()) return std::to_string(*d);
    if (auto s = v->string()) return quote ? "\"" + *s + "\"" : *s;
    return "(value)";
}

Json jsonOrNull(const platform::PSValue& v) { return v ? jsonFrom(*v) : Json(); }

platform::PSValue lookupValue(const platform::Dictionary& d, const std::string& key) {
    const platform::Value* v = platform::lookup(d, key);
    return v ? platform::PSValue(*v) : std::nullopt;
}

// The key a row edits: its own, or the text its dialog button stores.
const KeySchema* rowKey(PreferenceFile file, const platform::SpecifierRow& r) {
    if (!r.key.empty()) return findKey(file, r.key);
    if (r.action.empty()) return nullptr;
    for (const KeySchema& row : schemaRows(file))
        if (row.dialog && r.action == row.dialog) return &row;
    return nullptr;
}

}  // namespace

std::string showPage(const std::string& name, PreferenceFile file, const std::vector<platform::SpecifierRow>& rows,
                     const platform::Dictionary& stored, bool json) {
    if (json) {
        Json list = Json::array();
        for (const auto& r : rows) {
            Json values = Json::array();
            for (const auto& v : r.validValues) values.push_back(jsonFrom(v));
            const KeySchema* key = rowKey(file, r);
            platform::PSValue storedValue = key ? lookupValue(stored, key->key) : std::nullopt;
            Json control;
            if (key && key->control == Control::TextDialog)
                control = storedValue ? jsonFrom(*storedValue) : Json("");
            else if (key)
                control = jsonOrNull(r.value);
            list.push_back({{"label", r.label},
                            {"cell", r.cell},
                            {"key", key ? key->key : r.key},
                            {"value", jsonOrNull(r.value)},
                            {"action", r.action},
                            {"detail", r.detail},
                            {"validValues", std::move(values)},
                            {"validTitles", r.validTitles},
                            {"control", std::move(control)},
                            {"stored", jsonOrNull(storedValue)},
                            {"default", key ? jsonOrNull(defaultValue(*key)) : Json()},
                            {"type", key ? Json(typeName(key->type)) : Json()},
                            {"negate", key && key->negate}});
        }
        Json page = {{"page", name}, {"rows", std::move(list)}, {"alerts", alertsJson()}};
        return jsonDump(page) + "\n";
    }
    std::string out = "== " + name + " ==\n";
    for (const auto& r : rows) {
        std::string kind = r.cell;
        if (kind.rfind("PS", 0) == 0) kind = kind.substr(2);
        if (kind.size() > 4 && kind.substr(kind.size() - 4) == "Cell") kind.resize(kind.size() - 4);
        out += "  [" + kind + "] " + r.label;
        if (!r.action.empty()) out += "  (press " + r.action + ")";
        if (!r.detail.empty()) out += "  (opens " + r.detail + ")";
        if (const KeySchema* key = rowKey(file, r)) {
            platform::PSValue storedValue = lookupValue(stored, key->key);
            platform::PSValue shown = r.value;
            if (key->control == Control::TextDialog) shown = storedValue ? *storedValue : platform::Value(std::string());
            out += "  " + std::string(key->key) + " = " + valueText(shown) + "  (stored " + valueText(storedValue) +
                   ", default " + valueText(defaultValue(*key)) + ", " + typeName(key->type) +
                   (key->negate ? ", negated switch" : "") + ")";
        }
        if (!r.validTitles.empty()) {
            out += "  {";
            for (size_t i = 0; i < r.validTitles.size(); ++i) {
                if (i) out += ", ";
                out += (i < r.validValues.size() ? jsonDump(jsonFrom(r.validValues[i])) : "?") + ": " + r.validTitles[i];
            }
            out += "}";
        }
        out += "\n";
    }
    return out + alertsText();
}

std::string storedValue(PreferenceFile file, const KeySchema& row, const std::optional<platform::Value>& stored, bool json) {
    auto def = defaultValue(row);
    if (json) {
        Json j = {{"page", fileName(file)},
                  {"key", row.key},
                  {"stored", jsonOrNull(stored)},
                  {"default", jsonOrNull(def)},
                  {"type", typeName(row.type)}};
        return jsonDump(j) + "\n";
    }
    if (stored) return valueText(*stored, false) + "\n";
    return def ? "(default) " + valueText(*def, false) + "\n" : "(not set; no default)\n";
}

std::string keyTable(std::optional<PreferenceFile> only, bool json) {
    Json list = Json::array();
    // Each column as wide as its widest cell, so every row lines up; the description last.
    std::vector<std::array<std::string, 7>> rows = {
        {"FILE", "KEY", "TYPE", "DEFAULT", "CONTROL", "CODE", "VALUES / DESCRIPTION"}};
    for (PreferenceFile file : kPreferenceFiles) {
        if (only && file != *only) continue;
        for (const KeySchema& row : schemaRows(file)) {
            auto code = postedCode(file, row);
            if (json) {
                Json values = Json::array(), titles = Json::array();
                for (int64_t v = row.valid.min; v <= row.valid.max; ++v) values.push_back(v);
                for (const char* t : row.valid.titles) titles.push_back(t);
                list.push_back({{"file", fileName(file)},
                                {"key", row.key},
                                {"type", typeName(row.type)},
                                {"default", jsonOrNull(defaultValue(row))},
                                {"control", controlName(row.control)},
                                {"negate", row.negate},
                                {"validValues", std::move(values)},
                                {"validTitles", std::move(titles)},
                                {"code", code ? Json(*code) : Json()},
                                {"description", row.description}});
                continue;
            }
            std::string control = controlName(row.control);
            if (row.negate) control = "negated";
            rows.push_back({fileName(file), row.key, typeName(row.type), valueText(defaultValue(row)), control,
                            code ? std::to_string(*code) : "-",
                            (row.control == Control::List ? validValuesText(row) + "; " : std::string()) + row.description});
        }
    }
    if (json) return jsonDump(Json{{"keys", std::move(list)}}) + "\n";
    std::array<size_t, 6> width{};
    for (const auto& r : rows)
        for (size_t c = 0; c < width.size(); ++c) width[c] = std::max(width[c], r[c].size());
    std::string out;
    for (const auto& r : rows) {
        for (size_t c = 0; c < width.size(); ++c) out += r[c] + std::string(width[c] - r[c].size() + 2, ' ');
        out += r[6] + "\n";
    }
    return out;
}

Json alertsJson() {
    Json alerts = Json::array();
    for (const auto& a : platform::visibleAlerts()) {
        Json fields = Json::array();
        for (size_t i = 0; auto* f = a->textFieldAtIndex(i); ++i) fields.push_back(f->text);
        alerts.push_back({{"id", static_cast<long long>(a->alertId())},
                          {"title", a->title()},
                          {"message", a->message()},
                          {"buttons", a->buttonTitles()},
                          {"textFields", std::move(fields)}});
    }
    return alerts;
}

std::string alertsText() {
    std::string out;
    for (const auto& a : platform::visibleAlerts()) {
        out += "alert: " + a->title();
        if (!a->message().empty()) out += " | " + a->message();
        for (size_t i = 0; auto* f = a->textFieldAtIndex(i); ++i) out += " | text: \"" + f->text + "\"";
        out += " |";
        for (const auto& b : a->buttonTitles()) out += " [" + b + "]";
        out += "\n";
    }
    return out;
}

}  // namespace vantrel::sim
