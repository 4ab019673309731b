#pragma once

#include <QString>
#include <QStringList>

#include <array>

// The countries that a certificate subject may name, shared by the request and self-signed
// certificate wizards. Each entry is NAME=CODE; the list shows the names in table order, so an
// index in the list is an index in the table.
namespace CountryTable {

constexpr int kEntryCount = 240;
// "UNITED STATES=US"
constexpr int kDefaultIndex = 224;

extern const std::array<const char*, kEntryCount> kEntries;

// The NAME parts, in table order, for filling a drop-down list.
QStringList names();

// The two-letter CODE of the entry at the index (0 to kEntryCount - 1).
QString code(int index);

} // namespace CountryTable
