#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/model/StringGrid.h"

namespace vandrel::app {

// The device table's columns, its fixed texts and the two discovery datagrams.
inline constexpr int ColDevice = 0;
inline constexpr int ColSerial = 1;
inline constexpr int ColIP = 2;
inline constexpr int ColMac = 3;
inline constexpr int ColStatus = 4;
inline constexpr int DeviceColumns = 5;
inline constexpr const char* DeviceHeaders[DeviceColumns] = {"Device", "S/N", "IP", "Mac",
                                                             "Status"};
inline constexpr const char* StatusConnected = "connected";
inline constexpr const char* StatusNotConnected = "not connected";
inline constexpr const char* InvalidStringText = "invalid string";

inline constexpr int DiscoveryPort = 33300;
inline constexpr char DiscoveryRequest = 0x05;
inline constexpr std::uint8_t ReplyStart = 0x02;
inline constexpr std::uint8_t ReplyEnd = 0x04;
inline constexpr char FieldSeparator = 0x1F;
inline constexpr std::size_t MaxReplySize = 2048;

// An empty device table: header row and one empty row.
StringGrid MakeDeviceGrid();

// What a received datagram is: ignored silently, answered with "invalid string", or an
// accepted reply whose payload is the bytes between the markers.
enum class ReplyKind { Ignore, Invalid, Accept };
struct ReplyFrame {
    ReplyKind Kind = ReplyKind::Ignore;
    std::string Payload;
};
ReplyFrame CheckReplyFrame(const std::uint8_t* data, std::size_t size);

// Takes the text up to the first separator off the front of rest (and the separator with
// it); without a separator the whole rest is the field and rest becomes empty.
std::string SplitField(std::string& rest, char separator);

// Empties every device row and leaves RowCount 2; the header row is kept.
void ClearDeviceTable(StringGrid& grid);
// Appends the payload's fields as a row; an empty table's first row is reused while its
// Device cell is empty.
void AddDeviceRow(StringGrid& grid, std::string payload);
// Status of the current row := "connected".
void MarkSessionConnected(StringGrid& grid);
// Status of the first row whose IP equals ip byte-wise := "not connected". Returns whether
// such a row was found.
bool ResetDeviceStatus(StringGrid& grid, const std::string& ip);
// Whether a Status cell allows a session: "not connected" in any ASCII letter case.
bool IsNotConnected(const std::string& status);

// The device table's compare hook: unsigned byte-wise compare of column col in rows a and b,
// a prefix sorting first. Returns StringGrid::CompareBefore / CompareEqual / CompareAfter.
int CompareDeviceCells(const StringGrid& grid, int col, int rowA, int rowB);

// Direction rule of a header click: a click on another column starts ascending, every
// click on the same column flips the direction. The state survives clearing the table.
class HeaderSortState {
public:
    // Returns the direction to sort col in: true for ascending.
    bool Click(int col);
    int LastColumn() const { return m_lastColumn; }
    bool LastAscending() const { return m_lastAscending; }

private:
    int m_lastColumn = 0;
    bool m_lastAscending = false;
};

}  // namespace vandrel::app
