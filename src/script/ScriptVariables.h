#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::script {

// A larger variables file is no table a technician wrote.
inline constexpr std::size_t kMaxVariablesBytes = 16 << 20;

// The device a script runs on, as its table row shows it.
struct DeviceIdentity {
    std::string Device;
    std::string SerialNumber;
    std::string Ip;
    std::string Mac;
};

// The names of a device's own variables: {Device}, {S/N}, {IP}, {Mac}.
std::map<std::string, std::string> DeviceVariables(const DeviceIdentity& device);

// A variables file: a CSV table (RFC 4180 quoting, comma separated, first row the column
// names, UTF-8 with or without BOM, CR LF or LF line ends). Column names are taken exactly as
// written; none may be blank or repeated, and one must be S/N, Mac or IP. Rows with every
// value empty (blank lines) are skipped, shorter rows are filled with empty values, longer
// ones are an error, and so are two rows with the same S/N (Mac, IP) that decides the match.
class VariablesTable {
public:
    // Reads the table; on failure returns nullopt and sets error ("line 4: unterminated quote").
    static std::optional<VariablesTable> Parse(std::string_view csv, std::string& error);

    const std::vector<std::string>& Columns() const { return m_columns; }
    std::size_t RowCount() const { return m_rows.size(); }

    // The row of the device, matched by the table's S/N column, else its Mac column, else its
    // IP column: the first of these columns the table has and the device has a value for
    // decides (a device named by its address alone is found by IP). Mac compares without case
    // and with '-' taken as ':'. nullopt when no row matches; error then says
    // "no values for S/N VS-000123" (naming the key that was looked for). Keys compare with
    // blanks at both ends cut. The map holds every variable of the device: {Device}, {S/N},
    // {IP} and {Mac} from the device itself, or from the row's column of that name where the
    // device has none, and every other column from its row.
    std::optional<std::map<std::string, std::string>> RowFor(const DeviceIdentity& device,
                                                             std::string& error) const;

private:
    std::vector<std::string> m_columns;
    std::vector<std::vector<std::string>> m_rows;
    std::size_t m_keyColumn = 0;
};

// Every variable's value for one device: its own four, and with a table those of its row
// (VariablesTable::RowFor). nullopt when the table has no row for the device; error says why.
std::optional<std::map<std::string, std::string>> VariablesFor(const DeviceIdentity& device,
                                                               const VariablesTable* table,
                                                               std::string& error);

// The names a script uses that neither the device nor the table's columns give, in the
// script's order; empty when every variable has a value.
std::vector<std::string> UnknownVariables(const std::vector<std::string>& used,
                                          const std::vector<std::string>& tableColumns);

}  // namespace vandrel::script
