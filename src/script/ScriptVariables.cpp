#include "script/ScriptVariables.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace vandrel::script {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The columns that match a table row to a device, in the order they are tried.
constexpr std::array<std::string_view, 3> kKeyColumns = {"S/N", "Mac", "IP"};
constexpr std::array<std::string_view, 4> kDeviceNames = {"Device", "S/N", "IP", "Mac"};

struct Record {
    int Line = 0;
    std::vector<std::string> Fields;
};

bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Reads the CSV into records; a record's Line is the line it starts on.
bool readRecords(std::string_view csv, std::vector<Record>& records, std::string& error) {
    std::size_t pos = 0;
    int line = 1;
    while (pos < csv.size()) {
        Record record{line, {}};
        for (;;) {
            std::string field;
            if (csv[pos] == '"') {
                const int quoteLine = line;
                for (++pos;; ++pos) {
                    if (pos >= csv.size()) {
                        error = "line " + std::to_string(quoteLine) + ": unterminated quote";
                        return false;
                    }
                    if (csv[pos] == '"' && (pos + 1 >= csv.size() || csv[pos + 1] != '"')) {
                        break;
                    }
                    pos += csv[pos] == '"' ? 1 : 0;
                    line += csv[pos] == '\n' ? 1 : 0;
                    field += csv[pos];
                }
                ++pos;
                if (pos < csv.size() && csv[pos] != ',' && !isLineEnd(csv[pos])) {
                    error = "line " + std::to_string(line) + ": text after a closing quote";
                    return false;
                }
            } else {
                while (pos < csv.size() && csv[pos] != ',' && !isLineEnd(csv[pos])) {
                    field += csv[pos++];
                }
            }
            record.Fields.push_back(std::move(field));
            if (pos >= csv.size() || csv[pos] != ',') {
                break;
            }
            if (++pos >= csv.size()) {
                record.Fields.emplace_back();
                break;
            }
        }
        pos += pos < csv.size() && csv[pos] == '\r' ? 1 : 0;
        pos += pos < csv.size() && csv[pos] == '\n' ? 1 : 0;
        ++line;
        const bool blank = std::all_of(record.Fields.begin(), record.Fields.end(),
                                       [](const std::string& field) { return field.empty(); });
        if (!blank) {
            records.push_back(std::move(record));
        }
    }
    return true;
}

std::string_view trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A key as compared: blanks cut; a Mac without case and with '-' taken as ':'.
std::string normalizedKey(std::string_view column, std::string_view value) {
    std::string key(trimBlanks(value));
    if (column == "Mac") {
        for (char& c : key) {
            c = c == '-' ? ':' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return key;
}

const std::string& deviceKey(const DeviceIdentity& device, std::string_view column) {
    return column == "S/N" ? device.SerialNumber : column == "Mac" ? device.Mac : device.Ip;
}

bool isDeviceName(std::string_view name) {
    return std::find(kDeviceNames.begin(), kDeviceNames.end(), name) != kDeviceNames.end();
}

}  // namespace

std::map<std::string, std::string> DeviceVariables(const DeviceIdentity& device) {
    return {{"Device", device.Device},
            {"S/N", device.SerialNumber},
            {"IP", device.Ip},
            {"Mac", device.Mac}};
}

std::optional<VariablesTable> VariablesTable::Parse(std::string_view csv, std::string& error) {
    if (csv.starts_with(kBom)) {
        csv.remove_prefix(kBom.size());
    }
    std::vector<Record> records;
    if (!readRecords(csv, records, error)) {
        return std::nullopt;
    }
    if (records.empty()) {
        error = "line 1: no column names";
        return std::nullopt;
    }
    VariablesTable table;
    table.m_columns = std::move(records.front().Fields);
    const std::string where = "line " + std::to_string(records.front().Line) + ": ";
    const std::vector<std::string>& columns = table.m_columns;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (trimBlanks(columns[i]).empty()) {
            error = where + "column " + std::to_string(i + 1) + " has no name";
            return std::nullopt;
        }
        if (std::find(columns.begin(), columns.begin() + i, columns[i]) != columns.begin() + i) {
            error = where + "column \"" + columns[i] + "\" appears twice";
            return std::nullopt;
        }
    }
    auto key = columns.end();
    for (std::size_t k = 0; k < kKeyColumns.size() && key == columns.end(); ++k) {
        key = std::find(columns.begin(), columns.end(), kKeyColumns[k]);
    }
    if (key == columns.end()) {
        error = where + "no S/N, Mac or IP column";
        return std::nullopt;
    }
    table.m_keyColumn = static_cast<std::size_t>(key - columns.begin());

    std::map<std::string, int> keyLines;
    for (std::size_t r = 1; r < records.size(); ++r) {
        std::vector<std::string>& fields = records[r].Fields;
        const std::string line = "line " + std::to_string(records[r].Line) + ": ";
        if (fields.size() > columns.size()) {
            error = line + std::to_string(fields.size()) + " values, but " +
                    std::to_string(columns.size()) + " columns";
            return std::nullopt;
        }
        fields.resize(columns.size());
        const std::string& keyName = columns[table.m_keyColumn];
        const std::string keyValue = normalizedKey(keyName, fields[table.m_keyColumn]);
        if (!keyValue.empty()) {
            const auto [first, added] = keyLines.emplace(keyValue, records[r].Line);
            if (!added) {
                error = line + keyName + " " + std::string(trimBlanks(fields[table.m_keyColumn])) +
                        " is already on line " + std::to_string(first->second);
                return std::nullopt;
            }
        }
        table.m_rows.push_back(std::move(fields));
    }
    return table;
}

std::optional<std::map<std::string, std::string>> VariablesTable::RowFor(
    const DeviceIdentity& device, std::string& error) const {
    // The first key column the device has a value for decides: a device named by its address
    // alone (no S/N, no Mac) is found by the IP column.
    std::size_t keyColumn = m_keyColumn;
    for (std::string_view name : kKeyColumns) {
        const auto column = std::find(m_columns.begin(), m_columns.end(), name);
        if (column != m_columns.end() &&
            !normalizedKey(*column, deviceKey(device, *column)).empty()) {
            keyColumn = static_cast<std::size_t>(column - m_columns.begin());
            break;
        }
    }
    const std::string& keyName = m_columns[keyColumn];
    const std::string& deviceValue = deviceKey(device, keyName);
    const std::string wanted = normalizedKey(keyName, deviceValue);
    if (wanted.empty()) {
        error = "no values: the device has no " + keyName;
        return std::nullopt;
    }
    for (const std::vector<std::string>& row : m_rows) {
        if (normalizedKey(keyName, row[keyColumn]) != wanted) {
            continue;
        }
        std::map<std::string, std::string> values = DeviceVariables(device);
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            // A device's own value wins; the row gives only what the device lacks.
            std::string& value = values[m_columns[i]];
            if (!isDeviceName(m_columns[i]) || value.empty()) {
                value = row[i];
            }
        }
        return values;
    }
    error = "no values for " + keyName + " " + std::string(trimBlanks(deviceValue));
    return std::nullopt;
}

std::optional<std::map<std::string, std::string>> VariablesFor(const DeviceIdentity& device,
                                                               const VariablesTable* table,
                                                               std::string& error) {
    if (table == nullptr) {
        return DeviceVariables(device);
    }
    return table->RowFor(device, error);
}

std::vector<std::string> UnknownVariables(const std::vector<std::string>& used,
                                          const std::vector<std::string>& tableColumns) {
    std::vector<std::string> unknown;
    for (const std::string& name : used) {
        if (!isDeviceName(name) &&
            std::find(tableColumns.begin(), tableColumns.end(), name) == tableColumns.end()) {
            unknown.push_back(name);
        }
    }
    return unknown;
}

}  // namespace vandrel::script
